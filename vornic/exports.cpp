// The two exported functions of libvornic.
#include "request_der.h"
#include "subject_text.h"
#include "vornic/vornic.h"

extern "C" {

int SM2ConstructP10Info(const char* subject, const unsigned char* publicKeyX,
                        const unsigned char* publicKeyY, unsigned char** requestInfo,
                        int32_t* requestInfoLength) try {
    vornic::SubjectValues values;
    if (subject == nullptr || publicKeyX == nullptr || publicKeyY == nullptr ||
        requestInfo == nullptr || requestInfoLength == nullptr ||
        !vornic::ParseSubject(subject, values))
        return -1;
    int32_t length = 0;
    unsigned char* info = vornic::EncodeRequestInfo(values, publicKeyX, publicKeyY, length);
    if (info == nullptr) return -1;
    *requestInfo = info;
    *requestInfoLength = length;
    return 0;
} catch (...) {  // nothing thrown crosses into a C caller
    return -1;
}

int SM2ConstructP10(unsigned char** requestInfo, int32_t requestInfoLength, int32_t /*reserved*/,
                    const unsigned char* signatureR, const unsigned char* signatureS,
                    unsigned char* request, uint32_t* requestLength) try {
    if (requestInfo == nullptr || *requestInfo == nullptr || requestInfoLength <= 0 ||
        signatureR == nullptr || signatureS == nullptr || requestLength == nullptr)
        return -1;
    vornic::Bytes rest = vornic::EncodeSignaturePart(signatureR, signatureS);
    if (rest.empty()) return -1;
    size_t size = vornic::EncodedRequestSize(static_cast<size_t>(requestInfoLength), rest.size());
    if (size == 0) return -1;
    *requestLength = static_cast<uint32_t>(size);
    if (request == nullptr) return 0;
    vornic::WriteRequest(*requestInfo, static_cast<size_t>(requestInfoLength), rest, request);
    vornic::ReleaseRequestInfo(*requestInfo);
    *requestInfo = nullptr;
    return 0;
} catch (...) {
    return -1;
}

}  // extern "C"
