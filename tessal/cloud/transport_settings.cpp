#include "cloud/transport_settings.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace cloud {

void EnsureCurlGlobal() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void ApplyTlsPolicy(CURL* curl, const char* caFile) {
    const char* insecure = std::getenv("TESSAL_TLS_INSECURE");
    if (insecure && std::strcmp(insecure, "1") == 0) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        return;
    }
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    const char* bundle = caFile ? caFile : std::getenv("TESSAL_CA_FILE");
    if (bundle && *bundle) curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
}

struct curl_slist* ApplyConnectTo(CURL* curl) {
    const char* value = std::getenv("TESSAL_CONNECT_TO");
    if (!value || !*value) return nullptr;
    struct curl_slist* list = nullptr;
    std::string text = value;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string entry = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!entry.empty()) list = curl_slist_append(list, entry.c_str());
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (list) curl_easy_setopt(curl, CURLOPT_CONNECT_TO, list);
    return list;
}

}  // namespace cloud
