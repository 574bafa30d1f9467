// The certification authorities the revocation targets read answers for, one RSA and one SM2,
// each with a leaf of serial 3003: made once by scripts/fuzz.sh in build-fuzz/pki (or the
// directory FUZZ_PKI_DIR names) with the tests' PKI script, which also signs the seeds.
#pragma once

#include <string>
#include <vector>

#include "certs/der_objects.h"

struct FuzzAuthority {
    X509Ptr issuer;
    std::string issuerBase64;
    X509Ptr leaf;
};

// Both authorities; exits with a message when their files are missing.
const std::vector<FuzzAuthority>& FuzzAuthorities();
