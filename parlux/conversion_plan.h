// One conversion request from its arguments to the committed PDF: the checks made before any
// office runs, then the providers tried in order, each attempt with its own temporary PDF.
// The single run and the batch both go through it; who runs the attempts is theirs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "providers.h"
#include "records.h"

namespace parlux {

struct ConversionPlan {
    std::string source, target;  // full forms
    std::string providerArg;     // "", "ms" or "wps"
    std::string requestId;
    FormatInfo format;
    std::vector<Provider> providers;
    int timeoutMs = 0;
};

// Whether a provider argument is accepted ("", "ms" or "wps" in any letter case); `lowered`
// receives its lowered form.
bool acceptProviderArg(const std::string& text, std::string& lowered);
// Logs the request line, then checks format, paths and source and picks the providers;
// kSuccess when attempts can run, else the code the run ends with (nothing printed). The log
// names the request `requestId`, or a new id when it is empty.
int32_t planConversion(const std::string& sourceArg, const std::string& targetArg, const std::string& providerArg,
                       ConversionPlan& plan, const std::string& requestId = std::string());

// What the next attempt hands its worker.
struct Attempt {
    Provider provider = Provider::Microsoft;
    std::string sourcePath, outputPath;  // office forms
};

class AttemptSequence {
public:
    explicit AttemptSequence(const ConversionPlan& plan) : m_plan(plan) {}
    ~AttemptSequence();
    AttemptSequence(const AttemptSequence&) = delete;
    AttemptSequence& operator=(const AttemptSequence&) = delete;

    // Prepares the next attempt's temporary PDF; false with the code the run ends with when no
    // usable path exists.
    bool Next(Attempt& attempt, int32_t& code);
    // After an attempt ended with `result`: commits its PDF on success, or deletes it and decides
    // whether the next provider is tried (never once `stopping`). True when the run ended with
    // `code`; a failure's details are then in `result`.
    bool Finish(ConversionResult& result, bool stopping, int32_t& code);

private:
    const ConversionPlan& m_plan;
    size_t m_next = 0;
    std::string m_temp;
    int m_tempFd = -1;
};

}  // namespace parlux
