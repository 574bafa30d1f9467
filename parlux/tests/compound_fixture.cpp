#include "compound_fixture.h"

#include <cstdint>

namespace parlux::testing {
namespace {

constexpr uint32_t kFree = 0xFFFFFFFF, kEndOfChain = 0xFFFFFFFE, kFatSector = 0xFFFFFFFD;
constexpr uint32_t kSector = 512, kStreamSize = 4096, kStreamSectors = kStreamSize / kSector;

void Put16(std::string& b, size_t at, uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// One 128-byte directory entry; siblings and child are entry numbers or kFree.
void Entry(std::string& b, size_t at, const std::string& name, uint8_t type, uint32_t right, uint32_t child,
           uint32_t start, uint32_t size) {
    for (size_t i = 0; i < name.size(); ++i) Put16(b, at + 2 * i, static_cast<unsigned char>(name[i]));
    Put16(b, at + 0x40, static_cast<uint16_t>(2 * (name.size() + 1)));
    b[at + 0x42] = static_cast<char>(type);
    b[at + 0x43] = 1;  // black
    Put32(b, at + 0x44, kFree);
    Put32(b, at + 0x48, right);
    Put32(b, at + 0x4C, child);
    Put32(b, at + 0x74, start);
    Put32(b, at + 0x78, size);
}

}  // namespace

std::string CompoundFileBytes(const std::vector<std::string>& streams) {
    const uint32_t n = static_cast<uint32_t>(streams.size());
    std::string b((3 + n * kStreamSectors) * kSector, '\0');
    // Header.
    const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(signature[i]);
    Put16(b, 0x18, 0x003E);
    Put16(b, 0x1A, 3);
    Put16(b, 0x1C, 0xFFFE);
    Put16(b, 0x1E, 9);
    Put16(b, 0x20, 6);
    Put32(b, 0x2C, 1);  // one FAT sector: sector 0
    Put32(b, 0x30, 1);  // the directory: sector 1
    Put32(b, 0x38, kStreamSize);
    Put32(b, 0x3C, kEndOfChain);
    Put32(b, 0x44, kEndOfChain);
    for (size_t at = 0x4C; at < kSector; at += 4) Put32(b, at, kFree);
    Put32(b, 0x4C, 0);
    // FAT: its own sector, the directory, then each stream's chain.
    const size_t fat = kSector;
    for (uint32_t i = 0; i < kSector / 4; ++i) Put32(b, fat + 4 * i, kFree);
    Put32(b, fat, kFatSector);
    Put32(b, fat + 4, kEndOfChain);
    for (uint32_t s = 0; s < n; ++s)
        for (uint32_t k = 0; k < kStreamSectors; ++k) {
            uint32_t sector = 2 + s * kStreamSectors + k;
            Put32(b, fat + 4 * sector, k + 1 == kStreamSectors ? kEndOfChain : sector + 1);
        }
    // Directory: the root, whose child is the first stream; each stream's right sibling the next.
    const size_t dir = 2 * kSector;
    for (uint32_t i = 0; i < 4; ++i) {
        Put32(b, dir + 128 * i + 0x44, kFree);
        Put32(b, dir + 128 * i + 0x48, kFree);
        Put32(b, dir + 128 * i + 0x4C, kFree);
    }
    Entry(b, dir, "Root Entry", 5, kFree, n ? 1 : kFree, kEndOfChain, 0);
    for (uint32_t s = 0; s < n; ++s)
        Entry(b, dir + 128 * (s + 1), streams[s], 2, s + 1 < n ? s + 2 : kFree, kFree, 2 + s * kStreamSectors,
              kStreamSize);
    // Sector k starts after the 512-byte header.
    for (uint32_t s = 0; s < n; ++s) b.replace((3 + s * kStreamSectors) * kSector, kStreamSize, kStreamSize, 'x');
    return b;
}

}  // namespace parlux::testing
