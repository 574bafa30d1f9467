// CHttp: one libcurl easy transfer per request, with fixed options per method.
#include "tessal/http.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "cloud/call_deadline.h"
#include "cloud/easy_handle_pool.h"
#include "cloud/transport_settings.h"
#include "devices/key_use.h"

namespace {

// Largest answers taken: CRLs (fetched with GET) may be large, the other answers are small.
constexpr size_t kMaxGetBody = 64u << 20;
constexpr size_t kMaxPostBody = 4u << 20;

// Where an answer goes, and how much of it is taken: past `limit` the transfer fails.
struct Sink {
    std::string* text;
    ByteArray* bytes;
    size_t limit;
    size_t received = 0;
};

size_t WriteToSink(char* data, size_t size, size_t nmemb, void* target) {
    auto* sink = static_cast<Sink*>(target);
    size_t n = size * nmemb;
    if (!data || !sink || n > sink->limit - sink->received) return 0;  // CURLE_WRITE_ERROR
    sink->received += n;
    if (sink->text) sink->text->append(data, n);
    if (sink->bytes) sink->bytes->append(reinterpret_cast<const unsigned char*>(data), static_cast<int>(n));
    return n;
}

int DebugToStdout(CURL*, curl_infotype type, char* data, size_t size, void*) {
    static const char* const kTags[] = {"[TEXT]", "[HEADER_IN]", "[HEADER_OUT]", "[DATA_IN]", "[DATA_OUT]"};
    if (type > CURLINFO_DATA_OUT) return 0;
    std::fputs(kTags[type], stdout);
    std::fwrite(data, 1, size, stdout);
    std::fputc('\n', stdout);
    return 0;
}

struct Transfer {
    const std::string& url;
    const std::vector<std::string>& headers;
    Sink sink;
    bool setsTls;        // the method takes a CA file argument
    const char* caFile;  // for those methods
    long connectTimeout;
    long totalTimeout;
};

// The method's total time-out, shortened to the time left of the calling export's limit.
long TotalTimeoutMs(long totalSeconds, std::chrono::milliseconds left) {
    return static_cast<long>(std::min<long long>(totalSeconds * 1000LL, left.count()));
}

// What a request allocates beside its handle, freed when the request ends (before the handle
// goes back to the pool).
struct RequestParts {
    struct curl_slist* headers = nullptr;
    struct curl_slist* connectTo = nullptr;
    curl_mime* form = nullptr;
    RequestParts() = default;
    RequestParts(const RequestParts&) = delete;
    RequestParts& operator=(const RequestParts&) = delete;
    ~RequestParts() {
        curl_mime_free(form);
        curl_slist_free_all(headers);
        curl_slist_free_all(connectTo);
    }
};

using BodySetter = std::function<void(CURL*, RequestParts&)>;

// The common request procedure; `body` sets the method's body options. The easy handle comes
// from the pool with libcurl's defaults and gets every option of the request here. Every
// request has a connection of its own, closed when it ends, and a full TLS handshake: no
// connection, TLS session or cookie is carried from one request to the next, and nothing is
// kept in the host's threads.
int Perform(bool verbose, const Transfer& t, const BodySetter& body) {
    std::chrono::milliseconds left = cloud::TimeLeft(cloud::CallDeadlineEnd());
    if (left.count() == 0) return CURLE_OPERATION_TIMEDOUT;  // nothing is sent past the limit
    cloud::EnsureCurlGlobal();
    cloud::EasyHandleLease handle;
    CURL* curl = handle.get();
    if (!curl) return CURLE_FAILED_INIT;
    RequestParts parts;  // freed before the handle is given back
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    if (verbose) {
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, DebugToStdout);
    }
    curl_easy_setopt(curl, CURLOPT_URL, t.url.c_str());
    for (const std::string& line : t.headers) parts.headers = curl_slist_append(parts.headers, line.c_str());
    if (parts.headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, parts.headers);
    if (body) body(curl, parts);
    Sink sink = t.sink;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToSink);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    cloud::ApplyTlsPolicy(curl, t.setsTls ? t.caFile : nullptr);
    parts.connectTo = cloud::ApplyConnectTo(curl);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, t.connectTimeout);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, TotalTimeoutMs(t.totalTimeout, left));
    // A host call that holds a key does not hold it up for other threads while it waits here.
    KeyLockReleased waiting;
    return curl_easy_perform(curl);
}

BodySetter TextBody(const std::string& body) {
    return [&body](CURL* curl, RequestParts&) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());  // up to the first NUL
    };
}

}  // namespace

CHttp::CHttp() : m_verbose(false) {}

CHttp& CHttp::operator=(const CHttp& other) {
    m_verbose = other.m_verbose;
    return *this;
}

CHttp::~CHttp() = default;

int CHttp::Get(const std::string& url, const std::vector<std::string>& headers, std::string& response) {
    return Perform(m_verbose, {url, headers, {&response, nullptr, kMaxGetBody}, false, nullptr, 8, 10}, nullptr);
}

CURLcode CHttp::Gets(const std::string& url, const std::vector<std::string>& headers, std::string& response,
                     const char* caFile) {
    return static_cast<CURLcode>(
        Perform(m_verbose, {url, headers, {&response, nullptr, kMaxGetBody}, true, caFile, 8, 10}, nullptr));
}

int CHttp::Post(const std::string& url, const std::vector<std::string>& headers, const std::string& body,
                std::string& response) {
    return Perform(m_verbose, {url, headers, {&response, nullptr, kMaxPostBody}, false, nullptr, 8, 10}, TextBody(body));
}

int CHttp::Posts(const std::string& url, const std::vector<std::string>& headers, const std::string& body,
                 std::string& response, const char* caFile) {
    return Perform(m_verbose, {url, headers, {&response, nullptr, kMaxPostBody}, true, caFile, 60, 120}, TextBody(body));
}

int CHttp::Posts(const std::string& url, const std::vector<std::string>& headers,
                 const std::unordered_map<std::string, std::string>& form, std::string& response,
                 const char* caFile) {
    return Perform(m_verbose, {url, headers, {&response, nullptr, kMaxPostBody}, true, caFile, 60, 120},
                   [&](CURL* curl, RequestParts& parts) {
                       curl_easy_setopt(curl, CURLOPT_POST, 1L);
                       parts.form = curl_mime_init(curl);
                       for (const auto& field : form) {
                           curl_mimepart* part = curl_mime_addpart(parts.form);
                           curl_mime_name(part, field.first.c_str());
                           curl_mime_data(part, field.second.data(), field.second.size());
                       }
                       curl_easy_setopt(curl, CURLOPT_MIMEPOST, parts.form);
                   });
}

int CHttp::Posts(const std::string& url, const std::vector<std::string>& headers, const ByteArray& body,
                 ByteArray& response, const char* caFile) {
    return Perform(m_verbose, {url, headers, {nullptr, &response, kMaxPostBody}, true, caFile, 100000, 10}, [&](CURL* curl, RequestParts&) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        static const unsigned char kEmpty[1] = {0};
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data() ? body.data() : kEmpty);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.length()));
    });
}
