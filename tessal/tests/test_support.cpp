#include "test_support.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace test_support {

std::string MakeTempDir(const std::string& prefix) {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    if (!mkdtemp(&pattern[0])) throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ScopedEnvironment::ScopedEnvironment(const std::string& name, const std::string& value)
    : m_name(name) {
    const char* old = getenv(name.c_str());
    m_hadOld = old != nullptr;
    if (old) m_old = old;
    setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_hadOld)
        setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

}  // namespace test_support
