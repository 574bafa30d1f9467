#include "serve/http_handlers.h"

#include <fcntl.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "batch/batch_jobs.h"
#include "conversion_plan.h"
#include "hresult.h"
#include "log.h"
#include "providers.h"
#include "records.h"
#include "serve/request_files.h"

namespace parlux::serve {
namespace {

// Room for the multipart envelope around the document (boundaries, part headers, small fields).
constexpr uint64_t kEnvelopeBytes = 64 * 1024;
constexpr size_t kProviderFieldBytes = 16;
// An upload announced too large is read and dropped up to this much past the limit, so that a
// client still sending it receives the 413 (closing on unread data would reset the connection).
constexpr uint64_t kDiscardBytes = 64ull << 20;

using Clock = std::chrono::steady_clock;

// {"code", "name", "stage", "hresult", "message", "request_id"}; a refusal before any conversion
// has a null code and its own name.
std::string ErrorBody(const int32_t* code, const std::string& name, uint32_t stage, int32_t hr,
                      const std::string& message, const std::string& requestId) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("code");
    if (code)
        writer.Int(*code);
    else
        writer.Null();
    writer.Key("name");
    writer.String(name.c_str());
    writer.Key("stage");
    writer.Uint(stage);
    writer.Key("hresult");
    writer.String(formatHresult(hr).c_str());
    writer.Key("message");
    // Messages come from the office: bytes that are not UTF-8 must not break the JSON.
    std::string text = message;
    for (char& c : text)
        if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    writer.Key("request_id");
    writer.String(requestId.c_str());
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

// The request's id, put on the answer once: an answer may pass more than one handler (the
// Expect: 100-continue one, then the route's).
std::string StampRequestId(const httplib::Request& req, httplib::Response& res) {
    std::string id = res.get_header_value("X-Request-Id");
    if (id.empty()) res.set_header("X-Request-Id", id = RequestIdOf(req));
    return id;
}

void Answer(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, "application/json");
}

// A refusal before any conversion: "queue_full", "draining", "too_large", "bad_request", ...
void Refuse(httplib::Response& res, int status, const std::string& name, const std::string& message,
            const std::string& requestId) {
    Answer(res, status, ErrorBody(nullptr, name, 0, 0, message, requestId));
    writeLog(kWarn, "request=" + requestId + " serve refused status=" + std::to_string(status) + " reason=" + name);
}

void Unavailable(httplib::Response& res, PoolBridge& bridge, Metrics& metrics, bool draining,
                 const std::string& requestId) {
    const char* reason = draining ? "draining" : "queue_full";
    metrics.Refused(reason);
    res.set_header("Retry-After", std::to_string(bridge.RetryAfterSeconds()));
    if (draining) res.set_header("Connection", "close");
    Refuse(res, 503, reason,
           draining ? "The service is shutting down; send the request to another replica."
                    : "Every worker is busy and the queue is full; retry later.",
           requestId);
}

std::string MegabytesText(uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

void TooLarge(httplib::Response& res, Metrics& metrics, uint64_t limit, const std::string& requestId) {
    metrics.Refused("too_large");
    res.set_header("Connection", "close");  // the rest of the upload is never read
    Refuse(res, 413, "too_large", "The document is larger than " + MegabytesText(limit) + ".", requestId);
}

// The Content-Length the client announced; false when it gave none.
bool DeclaredLength(const httplib::Request& req, uint64_t& length) {
    if (!req.has_header("Content-Length")) return false;
    length = std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
    return true;
}

bool OverLimit(const httplib::Request& req, uint64_t limit) {
    uint64_t length = 0;
    return DeclaredLength(req, length) && length > limit + (req.is_multipart_form_data() ? kEnvelopeBytes : 0);
}

// Reads the body of a refused upload without keeping any of it, when it is not too long for that.
void DiscardBody(const httplib::Request& req, const httplib::ContentReader& reader, uint64_t limit) {
    uint64_t length = 0;
    if (!DeclaredLength(req, length) || length > limit + kEnvelopeBytes + kDiscardBytes) return;
    auto drop = [](const char*, size_t) { return true; };
    if (req.is_multipart_form_data())
        reader([](const httplib::MultipartFormData&) { return true; }, drop);
    else
        reader(drop);
}

// What an upload brought besides the document's bytes.
struct Upload {
    bool haveDocument = false, tooLarge = false, twoDocuments = false, writeFailed = false;
    std::string provider;
    uint64_t received = 0;  // body bytes handed over, kept or not
};

// Streams the request's document into `files`, never holding more than a read's worth in memory
// nor storing more than `limit`. Past the limit (or after a second document) the rest is read and
// dropped, up to a bound, so that the client still sending it receives the answer: a body without
// Content-Length is known too large only once that much of it has arrived.
bool StoreUpload(const httplib::Request& req, const httplib::ContentReader& reader, uint64_t limit,
                 RequestFiles& files, Upload& upload) {
    auto within = [&](size_t size) {
        bool bounded = (upload.received += size) <= limit + kEnvelopeBytes + kDiscardBytes;
        return bounded || !(upload.tooLarge = true);
    };
    auto store = [&](const char* data, size_t size) {
        if (!within(size)) return false;
        if (upload.tooLarge || files.DocumentBytes() + size > limit) return upload.tooLarge = true;
        upload.writeFailed = !files.Append(data, size);
        return !upload.writeFailed;
    };
    upload.provider = req.get_param_value("provider");  // a multipart field of that name takes over
    if (!req.is_multipart_form_data()) {
        if (!req.has_param("name")) return true;  // no document: the body is not read
        if (!files.Create(DocumentExtension(req.get_param_value("name")))) return upload.writeFailed = true, false;
        upload.haveDocument = true;
        return reader(store);
    }
    enum class Part { kDocument, kProvider, kOther } part = Part::kOther;
    return reader(
        [&](const httplib::MultipartFormData& header) {
            part = !header.filename.empty() ? Part::kDocument : header.name == "provider" ? Part::kProvider : Part::kOther;
            if (part == Part::kProvider) upload.provider.clear();
            if (part != Part::kDocument) return true;
            if (upload.haveDocument) {
                part = Part::kOther;
                return upload.twoDocuments = true;
            }
            upload.haveDocument = true;
            upload.writeFailed = !files.Create(DocumentExtension(header.filename));
            return !upload.writeFailed;
        },
        [&](const char* data, size_t size) {
            if (part == Part::kDocument) return store(data, size);
            if (!within(size)) return false;
            if (part == Part::kProvider && upload.provider.size() + size <= kProviderFieldBytes)
                upload.provider.append(data, size);
            return true;
        });
}

// What a request refused before any office ran is told.
std::string RefusalMessage(int32_t code) {
    switch (code) {
        case kUnsupportedFormat: return "The file name's extension names no Word or Excel document type.";
        case kPasswordProtected: return "The document is encrypted with a password.";
        case kSourceUnavailable: return "The uploaded document cannot be read.";
        case kSourceBusy: return "The document is in use.";
        case kProviderUnavailable: return "No office suite that converts this document is installed.";
        case kOutputFailed: return "The PDF could not be written.";
        default: return resultName(code);
    }
}

// Answers the committed PDF from an open descriptor: the directory can go at once.
void AnswerPdf(httplib::Response& res, int fd, size_t size, AnswersInFlight& answers) {
    res.status = 200;
    auto shared = std::make_shared<int>(fd);  // the answer ends once the library lets go of it
    res.set_content_provider(
        size, "application/pdf",
        [shared](size_t offset, size_t length, httplib::DataSink& sink) {
            char buffer[65536];
            ssize_t n = pread(*shared, buffer, std::min(length, sizeof buffer), static_cast<off_t>(offset));
            return n > 0 && sink.write(buffer, static_cast<size_t>(n));
        },
        [shared, &answers](bool) {
            close(*shared);
            answers.End();
        });
}

class ConvertHandler {
public:
    ConvertHandler(PoolBridge& bridge, Metrics& metrics, AnswersInFlight& answers, uint64_t limit)
        : m_bridge(bridge), m_metrics(metrics), m_answers(answers), m_limit(limit) {}

    void operator()(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        m_answers.Begin();
        bool streamed = Handle(req, res, reader);
        if (!streamed) m_answers.End();  // else once the PDF is sent
    }

private:
    // Whether the answer is a PDF still to stream.
    bool Handle(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        std::string id = StampRequestId(req, res);
        auto begun = Clock::now();
        PoolBridge::Admission admission = m_bridge.Admit();
        if (admission != PoolBridge::Admission::kAdmitted)
            return Unavailable(res, m_bridge, m_metrics, admission == PoolBridge::Admission::kDraining, id), false;
        // The place is given back here unless the conversion takes it.
        std::unique_ptr<PoolBridge, void (*)(PoolBridge*)> place(&m_bridge, [](PoolBridge* b) { b->Leave(); });
        if (OverLimit(req, m_limit)) {
            DiscardBody(req, reader, m_limit);
            return TooLarge(res, m_metrics, m_limit, id), false;
        }
        RequestFiles files;
        Upload upload;
        bool read = StoreUpload(req, reader, m_limit, files, upload);
        bool stored = files.FinishDocument() && read;
        if (upload.tooLarge) return TooLarge(res, m_metrics, m_limit, id), false;
        if (upload.writeFailed) return Fail(res, kInternalError, "The upload could not be stored.", id, files), false;
        if (!read && !upload.twoDocuments)
            return Refuse(res, 400, "bad_request", "The upload ended before the whole document arrived.", id), false;
        int32_t invalid = kInvalidArguments;
        if (upload.twoDocuments)
            return Result(res, &invalid, "A request converts one document; this one holds several.", id, files), false;
        if (!upload.haveDocument || !stored)
            return Result(res, &invalid,
                          "The request holds no document (a multipart part with a file name, or a body with ?name=).",
                          id, files), false;
        std::string provider;
        if (!acceptProviderArg(upload.provider, provider))
            return Result(res, &invalid, "Provider must be 'ms' or 'wps'.", id, files), false;
        writeLog(kInfo, "request=" + id + " serve received bytes=" + std::to_string(files.DocumentBytes()));
        place.release();
        Outcome outcome = m_bridge.Convert(files.Source(), files.Target(), provider, id);
        if (outcome.code == kSuccess) {
            int fd = open(files.Target().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            struct stat st;
            if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
                AnswerPdf(res, fd, static_cast<size_t>(st.st_size), m_answers);
                Cleanup(files, id);
                Log(id, 200, kSuccess, begun);
                return true;
            }
            if (fd >= 0) close(fd);
            outcome.code = kOutputFailed;
            outcome.message = "Generated PDF could not be validated or committed.";
        }
        if (outcome.message.empty()) outcome.message = RefusalMessage(outcome.code);
        Answer(res, HttpStatusFor(outcome.code, outcome.hr),
               ErrorBody(&outcome.code, resultName(outcome.code), outcome.stage, outcome.hr, outcome.message, id));
        if (res.status == 503) res.set_header("Retry-After", std::to_string(m_bridge.RetryAfterSeconds()));
        Cleanup(files, id);
        Log(id, res.status, outcome.code, begun);
        return false;
    }

    void Result(httplib::Response& res, const int32_t* code, const std::string& message, const std::string& id,
                RequestFiles& files) {
        Answer(res, HttpStatusFor(*code, 0), ErrorBody(code, resultName(*code), 0, 0, message, id));
        m_metrics.JobRefused(*code);
        writeLog(kWarn, "request=" + id + " serve refused status=" + std::to_string(res.status) + " result=" +
                            resultName(*code));
        Cleanup(files, id);
    }
    void Fail(httplib::Response& res, int32_t code, const std::string& message, const std::string& id,
              RequestFiles& files) {
        Result(res, &code, message, id, files);
    }
    void Cleanup(RequestFiles& files, const std::string& id) {
        if (files.Remove()) return;
        m_metrics.CleanupFailed();
        writeLog(kError, "request=" + id + " serve could not remove its private directory");
    }
    static void Log(const std::string& id, int status, int32_t code, Clock::time_point begun) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
        writeLog(kInfo, "request=" + id + " serve answered status=" + std::to_string(status) + " result=" +
                            resultName(code) + " ms=" + std::to_string(ms));
    }

    PoolBridge& m_bridge;
    Metrics& m_metrics;
    AnswersInFlight& m_answers;
    uint64_t m_limit;
};

}  // namespace

int HttpStatusFor(int32_t code, int32_t hr) {
    switch (code) {
        case kSuccess: return 200;
        case kInvalidArguments: return 400;
        case kSourceBusy: return 409;
        case kUnsupportedFormat: return 415;
        case kPasswordProtected:
        case kSourceUnavailable:
        case kNoContent:
        case kOpenFailed: return 422;
        case kProviderUnavailable: return 503;
        case kTimeout: return hr == kHrCancelled ? 503 : 504;  // cancelled by the service's stop
        default: return 500;  // export_failed, cleanup_failed, output_failed, internal_error
    }
}

std::string RequestIdOf(const httplib::Request& request) {
    std::string given = request.get_header_value("X-Request-Id");
    return batch::IsRequestId(given) ? given : newRequestId();
}

void AnswersInFlight::Begin() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_count;
}

void AnswersInFlight::End() {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_count;
    m_changed.notify_all();
}

void AnswersInFlight::AwaitNone(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_until(lock, deadline, [this] { return m_count == 0; });
}

void InstallHandlers(httplib::Server& server, PoolBridge& bridge, Metrics& metrics, AnswersInFlight& answers,
                     uint64_t maxUploadBytes) {
    server.set_payload_max_length(maxUploadBytes + kEnvelopeBytes + kDiscardBytes);
    server.set_keep_alive_max_count(1);  // an idle connection never holds one of the threads
    // Refused before the client sends the body, when it asks first.
    server.set_expect_100_continue_handler([&bridge, &metrics, maxUploadBytes](const httplib::Request& req,
                                                                              httplib::Response& res) {
        if (req.path != "/convert") return 100;
        std::string id = StampRequestId(req, res);
        PoolBridge::Admission admission = bridge.WouldAdmit();
        if (admission != PoolBridge::Admission::kAdmitted) {
            Unavailable(res, bridge, metrics, admission == PoolBridge::Admission::kDraining, id);
        } else if (OverLimit(req, maxUploadBytes)) {
            TooLarge(res, metrics, maxUploadBytes, id);
        } else {
            return 100;
        }
        return res.status;
    });
    server.Post("/convert", ConvertHandler(bridge, metrics, answers, maxUploadBytes));
    server.Get("/health", [&bridge](const httplib::Request& req, httplib::Response& res) {
        StampRequestId(req, res);
        const char* state = bridge.Draining() ? "draining" : bridge.Healthy() ? "ok" : "office_start_failing";
        res.status = std::string(state) == "ok" ? 200 : 503;
        res.set_content(std::string("{\"status\":\"") + state + "\"}\n", "application/json");
    });
    server.Get("/metrics", [&bridge, &metrics](const httplib::Request& req, httplib::Response& res) {
        StampRequestId(req, res);
        res.set_content(metrics.Text(bridge.Gauges()), "text/plain; version=0.0.4");
    });
    // Unknown paths and methods, and requests the library refused itself (413 among them).
    server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.get_header_value("X-Request-Id").empty()) return;  // a route's own answer
        std::string id = StampRequestId(req, res);
        bool missing = res.status == 404, large = res.status == 413;
        const char* name = missing ? "not_found" : large ? "too_large" : "bad_request";
        const char* message = missing ? "No such resource: the service answers POST /convert, GET /health and GET /metrics."
                              : large ? "The upload is too large."
                                      : "The request could not be understood.";
        Answer(res, res.status, ErrorBody(nullptr, name, 0, 0, message, id));
    });
}

}  // namespace parlux::serve
