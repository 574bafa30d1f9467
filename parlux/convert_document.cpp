// One conversion from the command line's words to the committed PDF.
#include <cstdio>

#include "conversion_plan.h"
#include "convert.h"
#include "file_helpers.h"
#include "log.h"
#include "platform/interruption.h"
#include "supervisor.h"

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
        runWorker(attempt.provider, plan.format.kind, attempt.sourcePath, attempt.outputPath,
                  plan.timeoutMs, plan.requestId, result);
        if (attempts.Finish(result, platform::InterruptSignal() != 0, code)) {
            if (code != kSuccess) printFailure(result);
            return code;
        }
    }
}

void logRejection(int32_t code) {
    writeLog(kWarn, std::string("conversion rejected before or between providers result=") +
                        resultName(code));
}

}  // namespace parlux
