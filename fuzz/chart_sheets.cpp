// Which sheets of an .xlsx package are chart sheets, over arbitrary package bytes: the bytes are
// the worker's private copy of the workbook, read with a UNO zip reader (this process's own) as
// the Excel back end reads it before opening the workbook.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "backends/libreoffice/office_instance.h"
#include "backends/libreoffice/office_objects.h"

namespace {

// A directory of this process under $TMPDIR holding the one package, removed at exit.
struct PackageFile {
    PackageFile() {
        const char* tmp = std::getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/parlux-fuzz-XXXXXX";
        if (!mkdtemp(&dir[0])) abort();
        path = dir + "/book.xlsx";
    }
    ~PackageFile() {
        unlink(path.c_str());
        rmdir(dir.c_str());
    }
    std::string dir, path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const PackageFile package;
    static const auto context = parlux::libreoffice::LocalContext();
    std::FILE* file = std::fopen(package.path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) abort();
    std::vector<bool> flags{true};
    // A part too large to read leaves no flags behind.
    if (!parlux::libreoffice::ChartSheets(context, package.path, flags) && !flags.empty()) abort();
    return 0;
}
