// The converter program on Windows: UTF-16 arguments as UTF-8; its exit code is the result code
// of the run.
#include <string>
#include <vector>

#include "convert.h"
#include "kit/wide_text.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) words.push_back(kit::NarrowToUtf8(argv[i]));
    std::vector<char*> args;
    for (std::string& word : words) args.push_back(&word[0]);
    args.push_back(nullptr);
    return parlux::parluxMain(argc, args.data());
}
