// Process-wide settings of the HTTP transport: libcurl initialisation, TLS policy, redirects.
#pragma once

#include <curl/curl.h>

namespace cloud {

// Initialises libcurl's global state once for the whole process; it is never torn down per
// request, so requests on several threads cannot pull it from under each other.
void EnsureCurlGlobal();

// Applies the TLS policy: with `caFile`, verify peers against that bundle; without one,
// verify against TESSAL_CA_FILE or the system's CA store. TESSAL_TLS_INSECURE=1 (test rigs
// only) switches verification off.
void ApplyTlsPolicy(CURL* curl, const char* caFile);

// TESSAL_CONNECT_TO: ","-separated CURLOPT_CONNECT_TO entries ("::127.0.0.1:18443" sends every
// host and port there). Returns the list to free after the request, or null.
struct curl_slist* ApplyConnectTo(CURL* curl);

}  // namespace cloud
