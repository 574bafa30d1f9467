// The SM2/SM3 object identifiers of the Chinese cryptographic message syntax.
#pragma once

// Numbers the message structures use for the objects (those a fresh OpenSSL 1.1 assigned).
enum SmObject {
    kSsf33 = 1195,
    kSm4 = 1196,
    kSm2Sign = 1197,
    kSm2Exchange = 1198,
    kSm2Encryption = 1199,
    kSm3NoKey = 1200,
    kSm3Key = 1201,
    kSm2WithSm3 = 1202,
    kMsgData = 1203,
    kMsgSigned = 1204,
    kMsgEnveloped = 1205,
    kMsgSignedAndEnveloped = 1206,
    kMsgEncrypted = 1207,
    kMsgKeyExchange = 1208,
};

// Registers the objects with OpenSSL once per process (printing one line per object).
void RegisterSmObjects();

// The number OpenSSL assigned to an object, by its message-structure number; 0 when unknown.
int GetNID(int expectedNumber);
// The message-structure number of an assigned OpenSSL number; -1 for objects outside the table.
int ExpectedNumberOf(int assignedNid);
