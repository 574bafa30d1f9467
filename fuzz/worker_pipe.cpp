// The parent's reading of the worker pipe over arbitrary byte streams: the stream arrives in two
// writes (the first two input bytes choose where it splits), and each is drained as it arrives,
// so partial, misaligned and oversized messages all reach the reader.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "records.h"
#include "supervisor.h"

namespace {

constexpr size_t kMaxStream = 32 * 1024;  // well inside a pipe's buffer: writes never block

void WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) abort();
        data += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size - 2 > kMaxStream) return 0;
    size_t split = (static_cast<size_t>(data[0]) << 8 | data[1]) % (size - 1);
    data += 2;
    size -= 2;

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) abort();
    parlux::WorkerChannel channel;
    channel.readEnd = ends[0];
    parlux::ConversionResult result = parlux::NewResult();
    WriteAll(ends[1], data, split);
    parlux::drainWorkerPipe(channel, result);
    WriteAll(ends[1], data + split, size - split);
    close(ends[1]);
    parlux::drainWorkerPipe(channel, result);
    close(ends[0]);

    // What the supervisor reports from what it heard.
    parlux::resultName(result.code);
    parlux::MessageText(result.message);
    parlux::MessageText(channel.lastProgress.message);
    return 0;
}
