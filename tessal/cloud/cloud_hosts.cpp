#include "cloud/cloud_hosts.h"

#include <cstdlib>

namespace cloud {
namespace {

std::string FromEnv(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

}  // namespace

std::string IssuancePrefix() { return FromEnv("TESSAL_ISSUANCE_PREFIX", "https://issuance.example."); }
std::string GatewayPrefix() { return FromEnv("TESSAL_GATEWAY_PREFIX", "https://gateway.example."); }
std::string OpenApiPrefix() { return FromEnv("TESSAL_OPENAPI_PREFIX", "https://openapi.example."); }

std::string MobileSealUrl(const std::string& env) { return GatewayPrefix() + env + "/app/cert/mobileSeal"; }

std::string Sm2TimeServiceUrl() { return GatewayPrefix() + "com" + "/timestamp/sm2time"; }
std::string TimeServiceUrl() { return OpenApiPrefix() + "com" + "/timestamp/get"; }

}  // namespace cloud
