#include "convert.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch/batch_main.h"
#include "program_line.h"
#include "serve/serve_main.h"
#include "worker.h"

namespace parlux {

namespace {

// Help and version go to standard output; a stream that cannot take them is output_failed.
int PrintInfo(const std::string& text) {
    bool written = std::fputs(text.c_str(), stdout) >= 0;
    return std::fflush(stdout) == 0 && written ? 0 : kOutputFailed;
}

}  // namespace

int parluxMain(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--parlux-worker") == 0) return workerMain(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) return serveMain(argc - 1, argv + 1);
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
