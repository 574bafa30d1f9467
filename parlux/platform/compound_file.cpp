#include "platform/compound_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <set>

namespace parlux::platform {
namespace {

constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr size_t kMaxDirectorySectors = 4096;
constexpr size_t kMaxEntries = 65536;

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

class Reader {
public:
    explicit Reader(int fd) : m_fd(fd) {
        struct stat st;
        m_size = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    bool Read(uint64_t offset, void* out, size_t len) {
        if (offset + len > m_size) return false;
        return pread(m_fd, out, len, static_cast<off_t>(offset)) == static_cast<ssize_t>(len);
    }
    uint64_t Size() const { return m_size; }

private:
    int m_fd;
    uint64_t m_size;
};

struct Header {
    uint32_t sectorSize = 0;
    std::vector<uint32_t> fatSectors;
    uint32_t firstDirectorySector = 0;
};

bool ReadHeader(Reader& file, Header& h) {
    unsigned char raw[512];
    if (!file.Read(0, raw, sizeof raw) || std::memcmp(raw, kSignature, 8) != 0) return false;
    uint16_t shift = U16(raw + 0x1E);
    if (shift != 9 && shift != 12) return false;
    h.sectorSize = 1u << shift;
    uint32_t fatCount = U32(raw + 0x2C);
    h.firstDirectorySector = U32(raw + 0x30);
    uint32_t difatSector = U32(raw + 0x44);
    uint32_t difatCount = U32(raw + 0x48);
    if (fatCount > file.Size() / h.sectorSize + 1) return false;
    for (uint32_t i = 0; i < 109 && h.fatSectors.size() < fatCount; ++i) h.fatSectors.push_back(U32(raw + 0x4C + 4 * i));
    std::vector<unsigned char> sector(h.sectorSize);
    std::set<uint32_t> seen;
    for (uint32_t n = 0; n < difatCount && h.fatSectors.size() < fatCount; ++n) {
        if (difatSector >= kEndOfChain - 2 || !seen.insert(difatSector).second) return false;
        if (!file.Read(static_cast<uint64_t>(difatSector + 1) * h.sectorSize, sector.data(), sector.size())) return false;
        uint32_t perSector = h.sectorSize / 4 - 1;
        for (uint32_t i = 0; i < perSector && h.fatSectors.size() < fatCount; ++i)
            h.fatSectors.push_back(U32(sector.data() + 4 * i));
        difatSector = U32(sector.data() + 4 * perSector);
    }
    return h.fatSectors.size() == fatCount;
}

bool NextSector(Reader& file, const Header& h, uint32_t sector, uint32_t& next) {
    uint32_t perSector = h.sectorSize / 4;
    uint32_t index = sector / perSector;
    if (index >= h.fatSectors.size()) return false;
    unsigned char value[4];
    uint64_t offset = static_cast<uint64_t>(h.fatSectors[index] + 1) * h.sectorSize + 4ull * (sector % perSector);
    if (!file.Read(offset, value, 4)) return false;
    next = U32(value);
    return true;
}

}  // namespace

StorageProbe ProbeCompoundFile(const std::string& path, int* errnoOut) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errnoOut) *errnoOut = errno;
        return StorageProbe::Unreadable;
    }
    unsigned char head[8];
    ssize_t n = read(fd, head, sizeof head);
    close(fd);
    return n == 8 && std::memcmp(head, kSignature, 8) == 0 ? StorageProbe::Compound : StorageProbe::NotCompound;
}

bool ListRootEntries(const std::string& path, std::vector<StorageEntry>& entries) {
    entries.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    Reader file(fd);
    Header h;
    std::vector<unsigned char> directory;
    bool ok = ReadHeader(file, h);
    std::set<uint32_t> seen;
    std::vector<unsigned char> sector(ok ? h.sectorSize : 0);
    for (uint32_t s = ok ? h.firstDirectorySector : kEndOfChain; ok && s != kEndOfChain;) {
        if (!seen.insert(s).second || seen.size() > kMaxDirectorySectors ||
            !file.Read(static_cast<uint64_t>(s + 1) * h.sectorSize, sector.data(), sector.size()) ||
            !NextSector(file, h, s, s))
            ok = false;
        else
            directory.insert(directory.end(), sector.begin(), sector.end());
    }
    close(fd);
    size_t count = directory.size() / 128;
    if (!ok || count == 0 || count > kMaxEntries) return false;
    auto entryAt = [&](uint32_t id) { return directory.data() + static_cast<size_t>(id) * 128; };
    if (entryAt(0)[0x42] != 5) return false;  // the first entry is the root
    // The root's children form a tree through their left and right siblings.
    std::vector<uint32_t> pending = {U32(entryAt(0) + 0x4C)};
    std::set<uint32_t> visited;
    while (!pending.empty()) {
        uint32_t id = pending.back();
        pending.pop_back();
        if (id == kNoStream) continue;
        if (id >= count || !visited.insert(id).second) return false;
        const unsigned char* e = entryAt(id);
        uint16_t nameBytes = U16(e + 0x40);
        if (nameBytes > 64 || nameBytes % 2) return false;
        std::u16string name;
        for (uint16_t i = 0; i + 2 <= nameBytes; i += 2) {
            char16_t unit = static_cast<char16_t>(U16(e + i));
            if (unit == 0) break;
            name += unit;
        }
        entries.push_back({name, e[0x42]});
        pending.push_back(U32(e + 0x44));
        pending.push_back(U32(e + 0x48));
    }
    return true;
}

}  // namespace parlux::platform
