// Attaching a time-stamp token to a signer's unsigned attributes.
#pragma once

#include <openssl/x509.h>

#include <string>

#include "tessal/byte_array.h"

// Asks the time service for a token over the signature value ("SM2" or "RSA" material) and
// adds it as id-smime-aa-timeStampToken (a SEQUENCE). False, and nothing added, without one.
bool AddTimeStampToken(STACK_OF(X509_ATTRIBUTE)** unsignedAttributes, const unsigned char* signature,
                       int signatureLength, const std::string& alg);

// Adds `token`, the DER TimeStampToken a service answered with, as id-smime-aa-timeStampToken.
bool AddTimeStampTokenAttribute(STACK_OF(X509_ATTRIBUTE)** unsignedAttributes, const ByteArray& token);
