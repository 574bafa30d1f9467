// Library-internal uses of the built-in CA material.
#pragma once

#include <openssl/x509.h>

#include <string>
#include <vector>

#include "tessal/cert_info.h"

// The built-in CA certificates above `certificate`, issuer first, found by common name.
// The certificates stay owned by the CA list.
std::vector<X509*> BuiltinChainFor(CertInfo& certificate);

// Whether a certificate with this authority key identifier (or, without one, issuer common
// name) was issued by the tamper-evidence CA for "SM2" or "RSA".
bool isIssuedByTamperCa(const std::string& authorityKeyId, const std::string& issuerCN,
                        const std::string& algorithmText);
