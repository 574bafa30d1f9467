// The optional corpus of real documents and certificates the tests can use. A clone without it
// still runs every test that does not need it; the others report themselves as skipped.
#pragma once

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

namespace kit_testing {

// KIT_CORPUS_DIR/<part>, e.g. CorpusDir("certs").
inline std::string CorpusDir(const std::string& part) { return std::string(KIT_CORPUS_DIR) + "/" + part; }

inline bool CorpusPresent(const std::string& part) {
    struct stat st;
    return stat(CorpusDir(part).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kit_testing

// Skips the running test when the corpus part is absent, saying what it would have checked.
#define SKIP_WITHOUT_CORPUS(part, what)                                                                     \
    if (!kit_testing::CorpusPresent(part))                                                                  \
    GTEST_SKIP() << "The corpus (" << kit_testing::CorpusDir(part) << ") is absent, so this test does not " \
                 << "check " << what << ". Configure with -DKIT_CORPUS_DIR=<corpus directory> to run it."
