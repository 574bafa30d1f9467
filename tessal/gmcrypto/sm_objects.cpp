// Registration of the SM objects: numbers are obtained from OpenSSL, and only what it does not
// know yet is created, under names that are still free.
#include "gmcrypto/sm_objects.h"

#include <openssl/objects.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "api/console.h"

namespace {

struct SmRow {
    int expected;
    int assigned;
    const char* oid;
    const char* sn;
    const char* ln;
};

SmRow gNIDs[] = {
    {1195, 0, "1.2.156.10197.1.103", "SSF33", "ssf33"},
    {1196, 0, "1.2.156.10197.1.104", "SM4", "sm4"},
    {1197, 0, "1.2.156.10197.1.301.1", "SM2-Sign", "sm2Sign"},
    {1198, 0, "1.2.156.10197.1.301.2", "SM2-EXC", "sm2Exchange"},
    {1199, 0, "1.2.156.10197.1.301.3", "SM2-ENC", "sm2Encryption"},
    {1200, 0, "1.2.156.10197.1.401.1", "SM3-NOKEY", "sm3NoKey"},
    {1201, 0, "1.2.156.10197.1.401.2", "SM3-KEY", "sm3Key"},
    {1202, 0, "1.2.156.10197.1.501", "SM2-SM3", "sm3WithSM2Encryption"},
    {1203, 0, "1.2.156.10197.6.1.4.2.1", "MSG-DATA", "message-data"},
    {1204, 0, "1.2.156.10197.6.1.4.2.2", "MSG-SIGNED", "message-signedData"},
    {1205, 0, "1.2.156.10197.6.1.4.2.3", "MSG-ENVELOPED", "message-enveloped"},
    {1206, 0, "1.2.156.10197.6.1.4.2.4", "MSG-SIGNEDANDENVELOPED", "message-signedAndEnveloped"},
    {1207, 0, "1.2.156.10197.6.1.4.2.5", "MSG-ENCRYPTED", "message-encrypted"},
    {1208, 0, "1.2.156.10197.6.1.4.2.6", "MSG-KEYEXCHANGE", "message-keyExchange"},
};

bool NameTaken(const std::string& name) {
    return OBJ_sn2nid(name.c_str()) != NID_undef || OBJ_ln2nid(name.c_str()) != NID_undef;
}

int Register(const SmRow& row) {
    int known = OBJ_txt2nid(row.oid);
    if (known != NID_undef) return known;
    std::string sn = row.sn, ln = row.ln;
    if (NameTaken(sn)) sn = std::string("GM-") + sn;
    if (NameTaken(ln)) ln = std::string("gm-") + ln;
    return OBJ_create(row.oid, sn.c_str(), ln.c_str());
}

}  // namespace

void RegisterSmObjects() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (size_t i = 0; i < sizeof gNIDs / sizeof gNIDs[0]; ++i) {
            gNIDs[i].assigned = Register(gNIDs[i]);
            ConsoleLine("gNIDs[i].nid=%d,id=%d,sn=%s\r\n", gNIDs[i].assigned, gNIDs[i].expected, gNIDs[i].sn);
        }
        // OpenSSL 3 already maps SM2-with-SM3 to SM3 and SM2 keys; adding the mapping again
        // would override it and break every SM2 certificate's verification.
    });
}

int GetNID(int expectedNumber) {
    RegisterSmObjects();
    int index = expectedNumber - kSsf33;
    if (index < 0 || index >= static_cast<int>(sizeof gNIDs / sizeof gNIDs[0])) return 0;
    return gNIDs[index].assigned;
}

int ExpectedNumberOf(int assignedNid) {
    RegisterSmObjects();
    if (assignedNid == NID_undef) return -1;
    for (const SmRow& row : gNIDs)
        if (row.assigned == assignedNid) return row.expected;
    return -1;
}
