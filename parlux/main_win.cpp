// The converter program on Windows: UTF-16 arguments; its exit code is the result code of the run.
#include <cstring>
#include <string>
#include <vector>

#include "convert.h"
#include "kit/wide_text.h"
#include "records.h"
#include "worker.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) words.push_back(kit::NarrowToUtf8(argv[i]));
    std::vector<char*> args;
    for (std::string& word : words) args.push_back(&word[0]);
    args.push_back(nullptr);
    if (argc >= 2 && words[1] == "--parlux-worker") return parlux::workerMain(argc, args.data());
    int32_t code = parlux::convertDocument(argc, args.data());
    if (code != parlux::kSuccess) parlux::logRejection(code);
    return code;
}
