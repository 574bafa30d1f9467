// Writes seed inputs for fuzz_compound_file into DIRECTORY: compound files as the tests make
// them (an encrypted Office package, a Word and an Excel stream), so a clone without the
// document corpus still starts from valid headers, FAT chains and directories.
// Usage: fuzz_compound_file_seeds DIRECTORY
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "compound_fixture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::vector<std::vector<std::string>> seeds = {
        {"EncryptionInfo", "EncryptedPackage"}, {"WordDocument", "1Table"}, {"Workbook"}};
    for (size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream out(std::string(argv[1]) + "/compound-" + std::to_string(i), std::ios::binary);
        out << parlux::testing::CompoundFileBytes(seeds[i]);
        if (!out) {
            std::fprintf(stderr, "unable to write the seeds in %s\n", argv[1]);
            return 1;
        }
    }
    return 0;
}
