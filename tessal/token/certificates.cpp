// Certificates on the key.
#include "token/not_available.h"
#include "token/skf_ukey.h"

CResult SkfUKey::GetCertData() { return NotAvailable("SkfUKey::GetCertData"); }

std::string SkfUKey::GetIssuerCN() {
    if (GetCertData() != 0) return std::string();
    return m_issuerCN;
}
