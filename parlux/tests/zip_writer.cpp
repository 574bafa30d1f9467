#include "zip_writer.h"

namespace parlux::testing {
namespace {

constexpr uint16_t kVersion = 20, kDeflated = 8, kDate = 0x21;  // 1980-01-01, 00:00

void U16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void U32(std::string& out, uint32_t value) {
    U16(out, value & 0xFFFF);
    U16(out, value >> 16);
}

// What the local header and the central directory say alike: version, method, date, sizes.
std::string Common(uint32_t crc, uint32_t compressed, uint32_t size, size_t nameSize) {
    std::string out;
    U16(out, kVersion);
    U16(out, 0);  // flags
    U16(out, kDeflated);
    U16(out, 0);
    U16(out, kDate);
    U32(out, crc);
    U32(out, compressed);
    U32(out, size);
    U16(out, static_cast<uint32_t>(nameSize));
    U16(out, 0);  // no extra field
    return out;
}

}  // namespace

ZipWriter::ZipWriter(const std::string& path)
    : m_file(std::fopen(path.c_str(), "wb")), m_ok(m_file != nullptr) {}

ZipWriter::~ZipWriter() {
    if (m_file) std::fclose(m_file);
}

void ZipWriter::Put(const std::string& bytes) {
    m_ok = m_ok && std::fwrite(bytes.data(), 1, bytes.size(), m_file) == bytes.size();
}

void ZipWriter::Begin(const std::string& name) {
    if (!m_ok) return;
    Entry entry;
    entry.name = name;
    entry.offset = static_cast<uint32_t>(std::ftell(m_file));
    m_entries.push_back(entry);
    std::string header;
    U32(header, 0x04034B50);
    Put(header + Common(0, 0, 0, name.size()) + name);  // the sizes follow once known
    m_stream = z_stream{};
    m_ok = m_ok && deflateInit2(&m_stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY) == Z_OK;
}

void ZipWriter::Deflate(const void* data, size_t size, int flush) {
    unsigned char out[65536];
    m_stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    m_stream.avail_in = static_cast<uInt>(size);
    do {
        m_stream.next_out = out;
        m_stream.avail_out = sizeof out;
        int status = deflate(&m_stream, flush);
        m_ok = m_ok && status != Z_STREAM_ERROR;
        Put(std::string(reinterpret_cast<char*>(out), sizeof out - m_stream.avail_out));
    } while (m_ok && m_stream.avail_out == 0);
}

void ZipWriter::Write(const std::string& bytes) {
    if (!m_ok || m_entries.empty()) return;
    Entry& entry = m_entries.back();
    entry.crc = static_cast<uint32_t>(crc32(entry.crc, reinterpret_cast<const Bytef*>(bytes.data()),
                                            static_cast<uInt>(bytes.size())));
    entry.size += static_cast<uint32_t>(bytes.size());
    Deflate(bytes.data(), bytes.size(), Z_NO_FLUSH);
}

void ZipWriter::End() {
    if (!m_ok || m_entries.empty()) return;
    Deflate(nullptr, 0, Z_FINISH);
    Entry& entry = m_entries.back();
    entry.compressed = static_cast<uint32_t>(m_stream.total_out);
    deflateEnd(&m_stream);
    long end = std::ftell(m_file);
    std::string sizes;
    U32(sizes, entry.crc);
    U32(sizes, entry.compressed);
    U32(sizes, entry.size);
    m_ok = m_ok && std::fseek(m_file, static_cast<long>(entry.offset) + 14, SEEK_SET) == 0;
    Put(sizes);
    m_ok = m_ok && std::fseek(m_file, end, SEEK_SET) == 0;
}

bool ZipWriter::Finish() {
    if (!m_file) return false;
    uint32_t start = static_cast<uint32_t>(std::ftell(m_file));
    for (const Entry& entry : m_entries) {
        std::string record;
        U32(record, 0x02014B50);
        U16(record, kVersion);  // made by
        record += Common(entry.crc, entry.compressed, entry.size, entry.name.size());
        U16(record, 0);  // comment
        U16(record, 0);  // disk
        U16(record, 0);  // internal attributes
        U32(record, 0);  // external attributes
        U32(record, entry.offset);
        Put(record + entry.name);
    }
    uint32_t size = static_cast<uint32_t>(std::ftell(m_file)) - start;
    std::string end;
    U32(end, 0x06054B50);
    U32(end, 0);  // this disk, the directory's disk
    U16(end, static_cast<uint32_t>(m_entries.size()));
    U16(end, static_cast<uint32_t>(m_entries.size()));
    U32(end, size);
    U32(end, start);
    U16(end, 0);  // comment
    Put(end);
    m_ok = std::fclose(m_file) == 0 && m_ok;
    m_file = nullptr;
    return m_ok;
}

}  // namespace parlux::testing
