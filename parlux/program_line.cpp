#include "program_line.h"

#include <cstring>

namespace parlux {

bool parseProgramLine(int argc, char** argv, kit::cli::Args& args) {
    static const std::vector<kit::cli::OptionSpec> kOptions = {
        {"batch", true, true}, {"jobs", true}, {"recycle", true}, {"version", false}};
    try {
        args = kit::cli::ParseOptions(argc, argv, kOptions);
        return true;
    } catch (const kit::cli::UsageError&) {
        return false;
    }
}

bool namesBatch(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--batch") == 0 || std::strncmp(argv[i], "--batch=", 8) == 0)
            return true;
    return false;
}

std::string helpText() {
    return "Usage: parlux source_file target_pdf [ms|wps]\n"
           "       parlux --batch [FILE|-] [--jobs N] [--recycle N]\n"
           "       parlux serve [--listen ADDR:PORT] [--jobs N] [--queue N] [--timeout-ms T]\n"
           "                    [--max-upload-mb M] [--recycle N]\n"
           "Converts a Word or Excel document to PDF through an office suite.\n"
           "\n"
           "The exit status of a conversion is its result code, and success is 1, not 0:\n"
           "  parlux in.docx out.pdf; rc=$?; [ \"$rc\" -eq 1 ] || echo \"failed: $rc\" >&2\n"
           "-1 (255) means invalid arguments, 2 to 13 a failure (see parlux(1)).\n"
           "A batch exits 0 when every job succeeded, 1 otherwise, 12 when its result lines\n"
           "cannot be written.\n"
           "parlux serve answers POST /convert, GET /health and GET /metrics over plain HTTP;\n"
           "it exits 0 once SIGTERM has drained it. The batch and the service run on Linux only.\n"
           "\n"
           "Options:\n"
           "  --batch [FILE|-]  convert the JSON job lines of FILE (or of standard input),\n"
           "                    one JSON result line per job on standard output\n"
           "  --jobs N          batch workers side by side (1 to 64; default: the cores)\n"
           "  --recycle N       jobs an office converts before it is replaced (default 200)\n"
           "serve options:\n"
           "  --listen ADDR:PORT  the address to serve (default 127.0.0.1:8080; no authentication:\n"
           "                      put a load balancer with TLS in front to serve others)\n"
           "  --jobs N            workers side by side (1 to 64; default: the cores)\n"
           "  --queue N           requests waiting beyond the running ones (0 to 1024; default 2 x jobs);\n"
           "                      past it 503 with Retry-After\n"
           "  --timeout-ms T      per conversion (1000 to 3600000; default PARLUX_TIMEOUT_MS or 300000)\n"
           "  --max-upload-mb M   larger documents are refused with 413 (1 to 4096; default 64)\n"
           "  -h, --help        print this help and exit\n"
           "      --version     print the version and exit\n"
           "  --                end of the options: what follows are file names\n";
}

}  // namespace parlux
