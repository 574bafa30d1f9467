#include "batch/batch_jobs.h"

#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cctype>

#include "conversion_plan.h"
#include "hresult.h"
#include "kit/json_parse.h"

namespace parlux::batch {
namespace {

bool ValidUtf8(const std::string& text) {
    rapidjson::StringStream in(text.c_str());
    rapidjson::StringBuffer ignored;
    while (static_cast<size_t>(in.Tell()) < text.size())
        if (!rapidjson::UTF8<>::Validate(in, ignored)) return false;
    return true;
}

// A string member without NUL characters (a path cannot hold one).
bool PathMember(const rapidjson::Value& job, const char* name, std::string& out, bool& present) {
    auto it = job.FindMember(name);
    present = it != job.MemberEnd() && it->value.IsString();
    if (!present) return false;
    out.assign(it->value.GetString(), it->value.GetStringLength());
    return out.find('\0') == std::string::npos;
}

JobLine Invalid(JobLine job, const std::string& error) {
    job.valid = false;
    job.error = error;
    return job;
}

// The JSON text of a value.
std::string JsonText(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// A member name as a message shows it: at most 64 bytes, never cut inside a UTF-8 sequence.
std::string ShownName(const rapidjson::Value& name) {
    std::string text(name.GetString(), name.GetStringLength());
    if (text.size() <= 64) return text;
    size_t cut = 61;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
}

bool KnownMember(const rapidjson::Value& name) {
    for (const char* known : {"source", "target", "provider", "id", "request"})
        if (name == known) return true;
    return false;
}

}  // namespace

bool IsRequestId(const std::string& text) {
    if (text.empty() || text.size() > 128) return false;
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::string("._:-{}").find(c) == std::string::npos)
            return false;
    return true;
}

JobLine ParseJobLine(const std::string& text, size_t line) {
    JobLine job;
    job.line = line;
    std::string where = "Job line " + std::to_string(line);
    if (!ValidUtf8(text)) return Invalid(job, where + " is not valid UTF-8.");
    rapidjson::Document doc;
    if (!kit::ParseJson(text, doc) || !doc.IsObject()) return Invalid(job, where + " is not a JSON object.");
    auto id = doc.FindMember("id");
    if (id != doc.MemberEnd()) {
        if (!id->value.IsString() && !id->value.IsNumber())
            return Invalid(job, where + " has an \"id\" that is neither a string nor a number.");
        job.id = JsonText(id->value);
    }
    bool sourceOk = PathMember(doc, "source", job.source, job.hasSource);
    bool targetOk = PathMember(doc, "target", job.target, job.hasTarget);
    // A misspelt member must not pass unnoticed (a provider ignored, a target never written).
    for (const auto& member : doc.GetObject())
        if (!KnownMember(member.name))
            return Invalid(job,
                           where + " has the unknown member \"" + ShownName(member.name) + "\".");
    if (!job.hasSource || !job.hasTarget)
        return Invalid(job, where + " needs the strings \"source\" and \"target\".");
    if (!sourceOk || !targetOk) return Invalid(job, where + " holds a path with a NUL character.");
    auto request = doc.FindMember("request");
    if (request != doc.MemberEnd()) {
        if (request->value.IsString()) job.request.assign(request->value.GetString(), request->value.GetStringLength());
        if (!IsRequestId(job.request)) return Invalid(job, where + " has a \"request\" that cannot name a request.");
    }
    auto provider = doc.FindMember("provider");
    std::string providerText;
    if (provider != doc.MemberEnd()) {
        if (!provider->value.IsString()) return Invalid(job, "Provider must be 'ms' or 'wps'.");
        providerText.assign(provider->value.GetString(), provider->value.GetStringLength());
    }
    if (!acceptProviderArg(providerText, job.providerArg)) return Invalid(job, "Provider must be 'ms' or 'wps'.");
    job.valid = true;
    return job;
}

std::string FormatReport(const JobReport& report) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, rapidjson::CrtAllocator,
                      rapidjson::kWriteValidateEncodingFlag>
        writer(buffer);
    auto text = [&](const char* key, bool present, const std::string& value) {
        writer.Key(key);
        // Invalid UTF-8 cannot be written as JSON text: such a value is given as null.
        if (!present || !ValidUtf8(value))
            writer.Null();
        else
            writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    };
    writer.StartObject();
    writer.Key("line");
    writer.Uint64(report.line);
    if (!report.id.empty()) {
        writer.Key("id");
        writer.RawValue(report.id.data(), report.id.size(), rapidjson::kStringType);
    }
    text("source", report.hasSource, report.source);
    text("target", report.hasTarget, report.target);
    writer.Key("code");
    writer.Int(report.code);
    writer.Key("name");
    writer.String(resultName(report.code));
    writer.Key("stage");
    writer.Uint(report.stage);
    text("hresult", true, formatHresult(report.hr));
    text("message", true, report.message);
    writer.Key("ms");
    writer.Int64(report.ms);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace parlux::batch
