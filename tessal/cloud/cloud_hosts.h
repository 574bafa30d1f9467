// Where the cloud services are: service prefixes and the URL rule.
#pragma once

#include <string>

namespace cloud {

// "https://" and the host name up to and including the dot before its last label.
// Deployment values: TESSAL_ISSUANCE_PREFIX, TESSAL_GATEWAY_PREFIX, TESSAL_OPENAPI_PREFIX.
std::string IssuancePrefix();
std::string GatewayPrefix();
std::string OpenApiPrefix();

// The mobile seal service of environment `env`.
std::string MobileSealUrl(const std::string& env);

// The fixed time-service URLs.
std::string Sm2TimeServiceUrl();
std::string TimeServiceUrl();

}  // namespace cloud
