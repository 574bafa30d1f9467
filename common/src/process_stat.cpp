#include "kit/process_stat.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace kit {

bool ReadProcessStat(long pid, std::string& state, uint64_t& startTicks) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold anything, spaces and parentheses included: fields follow its last ')'.
    size_t close = text.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream rest(text.substr(close + 1));
    std::string field;
    if (!(rest >> state)) return false;
    for (int index = 4; index < 22; ++index)  // ppid ... itrealvalue
        if (!(rest >> field)) return false;
    return static_cast<bool>(rest >> startTicks);
}

}  // namespace kit
