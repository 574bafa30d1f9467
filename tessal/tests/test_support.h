// Helpers shared by the library's tests.
#pragma once

#include <string>

namespace test_support {

// A fresh directory under the build's temporary area, removed by the caller if it wishes.
std::string MakeTempDir(const std::string& prefix);

std::string ReadFile(const std::string& path);

}  // namespace test_support
