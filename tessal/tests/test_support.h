// Helpers shared by the library's tests.
#pragma once

#include <string>

namespace test_support {

// A fresh directory under the build's temporary area, removed by the caller if it wishes.
std::string MakeTempDir(const std::string& prefix);

std::string ReadFile(const std::string& path);

// Sets an environment variable for one scope and restores its old value (or its absence).
class ScopedEnvironment {
public:
    ScopedEnvironment(const std::string& name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name, m_old;
    bool m_hadOld;
};

}  // namespace test_support
