// The workbook package reader in this process (the office's zip reader on a local UNO context):
// which sheets are chart sheets, a part too large to read, and files that are no package.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backends/libreoffice/office_instance.h"
#include "backends/libreoffice/office_objects.h"
#include "testing/corpus.h"

namespace parlux::libreoffice {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        m_dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/parlux-packages-XXXXXX";
        ASSERT_NE(mkdtemp(&m_dir[0]), nullptr);
    }
    void TearDown() override {
        for (const std::string& path : m_files) std::remove(path.c_str());
        rmdir(m_dir.c_str());
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        m_files.push_back(path);
        return path;
    }
    std::string Fixture(const std::string& name) {
        std::string bytes = ReadFile(std::string(OFFICE_FIXTURES_DIR) + "/" + name);
        EXPECT_FALSE(bytes.empty()) << "the office fixtures were not made: " << name;
        return bytes;
    }

    std::string m_dir;
    std::vector<std::string> m_files;
};

TEST_F(PackageTest, ChartSheetsOfARealWorkbook) {
    SKIP_WITHOUT_CORPUS("office", "the chart sheets of a workbook written by Excel");
    std::vector<bool> flags;
    ASSERT_TRUE(ChartSheets(LocalContext(), kit_testing::CorpusDir("office") + "/xlsx-chartsheet.xlsx", flags));
    EXPECT_EQ(flags, (std::vector<bool>{false, true, false}));
}

TEST_F(PackageTest, APartTooLargeIsRefused) {
    std::vector<bool> flags{true};
    EXPECT_FALSE(ChartSheets(LocalContext(), Write("padded.xlsx", Fixture("padded.xlsx")), flags));
    EXPECT_TRUE(flags.empty());
}

// A damaged package is no package: no chart sheets, and the office then reports what it makes of it.
TEST_F(PackageTest, DamagedPackagesHaveNoChartSheets) {
    std::string wide = Fixture("wide.xlsx");
    std::vector<bool> flags;
    ASSERT_TRUE(ChartSheets(LocalContext(), Write("wide.xlsx", wide), flags));
    EXPECT_FALSE(flags.empty());
    for (const std::string& damaged : {wide.substr(0, wide.size() / 2), wide.substr(wide.size() / 2),
                                       std::string("PK\x05\x06", 4) + std::string(18, '\xff'), std::string()}) {
        flags = {true};
        EXPECT_TRUE(ChartSheets(LocalContext(), Write("damaged.xlsx", damaged), flags));
        EXPECT_TRUE(flags.empty());
    }
}

}  // namespace
}  // namespace parlux::libreoffice
