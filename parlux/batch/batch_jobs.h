// The lines of a batch: one JSON job per input line, one JSON result per output line.
#pragma once

#include <cstdint>
#include <string>

#include "records.h"

namespace parlux::batch {

// One input line made into a job, or why it cannot be one.
struct JobLine {
    size_t line = 0;  // 1-based line number in the input
    bool valid = false;
    bool hasSource = false, hasTarget = false;
    std::string source, target, providerArg;  // providerArg lowered: "", "ms" or "wps"
    std::string id;                           // the job's "id" as JSON text; empty: none
    std::string request;                      // the log's request id for the job; empty: a new one
    std::string error;                        // when not valid
};

// Parses `{"source": "...", "target": "...", "provider": "ms"|"wps", "id": ..., "request": "..."}`
// (provider, id and request optional; an id is a string or a number; a request id is 1 to 128 of
// the characters A-Z a-z 0-9 . _ : - { }, so that it is safe in every log line). Any other member makes the line invalid; an id
// is kept even then, so that the refusal names the job.
JobLine ParseJobLine(const std::string& text, size_t line);
// Whether `text` can name a request in the log (see ParseJobLine).
bool IsRequestId(const std::string& text);

// What one job came to.
struct JobReport {
    size_t line = 0;
    std::string id;  // JSON text, echoed as it is; empty: none
    bool hasSource = false, hasTarget = false;
    std::string source, target;  // as the job gave them
    int32_t code = kInternalError;
    uint32_t stage = 0;
    int32_t hr = 0;
    std::string message;
    long long ms = 0;
};

// One result line (without its line end): {"line", "id" (when the job gave one), "source",
// "target", "code", "name", "stage", "hresult", "message", "ms"}; always valid JSON, whatever
// bytes the report holds.
std::string FormatReport(const JobReport& report);

}  // namespace parlux::batch
