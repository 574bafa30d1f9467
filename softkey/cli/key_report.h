// How the tool shows keys: the words for key pairs and certificates, as text or JSON.
#pragma once

#include <optional>
#include <string>

#include "core/model.h"

namespace softkey::cli {

// "rsa2048", "sm2" or "none".
std::string KeyText(const std::optional<KeyPair>& key);
// The subject as one line ("/CN=Holder"), or "(not a certificate)".
std::string CertificateSubject(const Bytes& der);

}  // namespace softkey::cli
