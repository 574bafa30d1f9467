#include "convert.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch/batch_main.h"
#include "conversion_plan.h"
#include "file_helpers.h"
#include "log.h"
#include "platform/interruption.h"
#include "program_line.h"
#ifndef _WIN32
#include "serve/serve_main.h"
#endif
#include "supervisor.h"
#include "worker.h"

namespace parlux {

int32_t parseCommandLine(int argc, char** argv, CommandLine& line, std::string& error) {
    if (argc != 3 && argc != 4) {
        error = kUsageLine;
        return kInvalidArguments;
    }
    line.source = fullPath(argv[1]);
    line.target = fullPath(argv[2]);
    if (!acceptProviderArg(argc == 4 ? argv[3] : "", line.provider)) {
        error = "Provider must be 'ms' or 'wps'.";
        return kInvalidArguments;
    }
    return kSuccess;
}

int32_t convertDocument(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (parseCommandLine(argc, argv, line, error) != kSuccess) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kInvalidArguments;
    }
    ConversionPlan plan;
    int32_t code = planConversion(line.source, line.target, line.provider, plan);
    if (code != kSuccess) return code;

    ConversionResult result = NewResult();
    platform::InstallInterruptHandlers();  // a stopped run still cleans up its attempt
    AttemptSequence attempts(plan);
    for (;;) {
        Attempt attempt;
        if (!attempts.Next(attempt, code)) return code;
        runWorker(attempt.provider, plan.format.kind, attempt.sourcePath, attempt.outputPath, plan.timeoutMs,
                  plan.requestId, result);
        if (attempts.Finish(result, platform::InterruptSignal() != 0, code)) {
            if (code != kSuccess) printFailure(result);
            return code;
        }
    }
}

void logRejection(int32_t code) {
    writeLog(kWarn, std::string("conversion rejected before or between providers result=") + resultName(code));
}

namespace {

// Help and version go to standard output; a stream that cannot take them is output_failed.
int PrintInfo(const std::string& text) {
    bool written = std::fputs(text.c_str(), stdout) >= 0;
    return std::fflush(stdout) == 0 && written ? 0 : kOutputFailed;
}

}  // namespace

int parluxMain(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--parlux-worker") == 0) return workerMain(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) {
#ifndef _WIN32
        return serveMain(argc - 1, argv + 1);
#else
        std::fprintf(stderr, "parlux serve runs on Linux only.\n");
        return kInvalidArguments;
#endif
    }
    kit::cli::Args args;
    bool valid = parseProgramLine(argc, argv, args);
    if (valid && args.Has("--help")) return PrintInfo(helpText());
    if (valid && args.Has("--version")) return PrintInfo(kit::cli::VersionLine("parlux") + "\n");
    if (valid ? args.Has("--batch") : namesBatch(argc, argv))
        return batchMain(valid ? &args : nullptr);
    // A conversion: its words as the program's arguments, and no option at all.
    std::vector<char*> words = {argv[0]};
    for (std::string& word : args.positional) words.push_back(&word[0]);
    words.push_back(nullptr);
    int32_t code = kInvalidArguments;
    if (valid && args.options.empty())
        code = convertDocument(static_cast<int>(words.size() - 1), words.data());
    else
        std::fprintf(stderr, "%s\n", kUsageLine);
    if (code != kSuccess) logRejection(code);
    return code;
}

}  // namespace parlux
