#include "job_records.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace parlux {
namespace {

constexpr char kJobMagic[4] = {'P', 'L', 'X', 'J'};
constexpr size_t kHeaderBytes = 20;

void PutWord(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetWord(const unsigned char* in) {
    return in[0] | (in[1] << 8) | (in[2] << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

// False at the end of the stream or when a signal interrupts the read.
bool ReadFully(int fd, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, buffer + done, size - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string EncodeJob(const JobRecord& job) {
    std::string out(kJobMagic, 4);
    PutWord(out, static_cast<uint32_t>(job.provider));
    PutWord(out, static_cast<uint32_t>(job.kind));
    PutWord(out, static_cast<uint32_t>(job.source.size()));
    PutWord(out, static_cast<uint32_t>(job.output.size()));
    return out + job.source + job.output;
}

bool WriteJob(int fd, const JobRecord& job) {
    if (job.source.size() > kMaxJobPathBytes || job.output.size() > kMaxJobPathBytes) return false;
    std::string bytes = EncodeJob(job);
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadJob(int fd, JobRecord& job) {
    unsigned char header[kHeaderBytes];
    if (!ReadFully(fd, reinterpret_cast<char*>(header), sizeof header) || std::memcmp(header, kJobMagic, 4) != 0)
        return false;
    uint32_t provider = GetWord(header + 4), kind = GetWord(header + 8);
    uint32_t sourceBytes = GetWord(header + 12), outputBytes = GetWord(header + 16);
    if (provider > 1 || (kind != 1 && kind != 2) || sourceBytes > kMaxJobPathBytes || outputBytes > kMaxJobPathBytes)
        return false;
    std::string paths(sourceBytes + outputBytes, '\0');
    if (!paths.empty() && !ReadFully(fd, &paths[0], paths.size())) return false;
    job.provider = static_cast<Provider>(provider);
    job.kind = static_cast<DocumentKind>(kind);
    job.source = paths.substr(0, sourceBytes);
    job.output = paths.substr(sourceBytes);
    return true;
}

}  // namespace parlux
