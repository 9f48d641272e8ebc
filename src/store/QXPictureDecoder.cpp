#include "store/QXPictureDecoder.h"

#include "store/QXPictureColours.h"
#include "store/QXPictureHeader.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace QXPictureDecoder {

namespace {

using Clock = std::chrono::steady_clock;

// What the child writes first; the rows follow, bottom row first, without padding.
struct Reply {
    uint32_t status;
    uint32_t width;
    uint32_t height;
    uint32_t bitsPerPixel;
};

enum Status : uint32_t { kDecoded = 1, kUndecodable = 2, kNotStandard = 3 };

bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly size bytes unless the child ends, fails or the deadline passes.
bool readAll(int fd, void* data, size_t size, Clock::time_point deadline) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The program's address space now; the child may grow by the budget beyond it. (Under
// the address sanitizer the space reserved up front is large but costs nothing.)
unsigned long long addressSpaceNow() {
    unsigned long long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%llu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return pages * static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE));
}

[[noreturn]] void runChild(int fd, std::span<const unsigned char> bytes,
                           FREE_IMAGE_FORMAT format, unsigned long long addressLimit) {
    // What a decoder or the sanitizers say about a hostile file is of no use to anyone;
    // the parent logs the refusal.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0)
        ::dup2(null, STDERR_FILENO);
    rlimit space{addressLimit, addressLimit};
    ::setrlimit(RLIMIT_AS, &space);
    rlimit cpu{kTimeLimitSeconds, kTimeLimitSeconds};
    ::setrlimit(RLIMIT_CPU, &cpu);
    Reply reply{kUndecodable, 0, 0, 0};
    // FreeImage reads from the buffer only; the cast drops a const it never uses.
    fipMemoryIO memory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    fipImage picture;
    if (picture.loadFromMemory(format, memory)) {
        if (format == FIF_BMP)
            QXPictureColours::treatUnusedAlphaAsOpaque(picture);
        reply.status = QXPictureColours::toStandard(picture) ? kDecoded : kNotStandard;
        if (reply.status == kDecoded) {
            reply.width = picture.getWidth();
            reply.height = picture.getHeight();
            reply.bitsPerPixel = picture.getBitsPerPixel();
        }
    }
    bool ok = writeAll(fd, &reply, sizeof reply);
    const size_t rowBytes = size_t(reply.width) * reply.bitsPerPixel / 8;
    for (unsigned y = 0; ok && reply.status == kDecoded && y < reply.height; ++y)
        ok = writeAll(fd, picture.getScanLine(y), rowBytes);
    // No destructors, no exit handlers: the parent's state is not ours to tidy.
    ::_exit(ok ? 0 : 1);
}

std::string decodeInChild(std::span<const unsigned char> bytes, FREE_IMAGE_FORMAT format,
                          unsigned long long memoryBudget, fipImage& picture) {
    const unsigned long long addressLimit = addressSpaceNow() + memoryBudget;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return "no pipe for the decoder";
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return "no process for the decoder";
    }
    if (child == 0) {
        ::close(fds[0]);
        runChild(fds[1], bytes, format, addressLimit);
    }
    ::close(fds[1]);
    const auto deadline = Clock::now() + std::chrono::seconds(kTimeLimitSeconds + 5);
    std::string refusal;
    Reply reply{};
    if (!readAll(fds[0], &reply, sizeof reply, deadline)) {
        refusal = "decoding it took more than " +
                  std::to_string(memoryBudget >> 20) + " MiB or " +
                  std::to_string(kTimeLimitSeconds) + " seconds, or crashed the decoder";
    } else if (reply.status == kUndecodable) {
        refusal = "it cannot be decoded";
    } else if (reply.status != kDecoded) {
        refusal = "its colours cannot be converted";
    } else if (reply.width == 0 || reply.height == 0 ||
               static_cast<unsigned long long>(reply.width) * reply.height >
                   QXPictureHeader::kMaxPixels ||
               (reply.bitsPerPixel != 24 && reply.bitsPerPixel != 32)) {
        refusal = "it decodes to " + std::to_string(reply.width) + " x " +
                  std::to_string(reply.height) + " pixels, more than its header said";
    } else if (!picture.setSize(FIT_BITMAP, reply.width, reply.height, reply.bitsPerPixel)) {
        refusal = "there is no memory for its pixels";
    } else {
        const size_t rowBytes = size_t(reply.width) * reply.bitsPerPixel / 8;
        for (unsigned y = 0; y < reply.height && refusal.empty(); ++y)
            if (!readAll(fds[0], picture.getScanLine(y), rowBytes, deadline))
                refusal = "the decoder stopped half way";
        if (!refusal.empty())
            picture.clear();
    }
    ::close(fds[0]);
    // The child has written everything or is to be stopped now.
    if (!refusal.empty())
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return refusal;
}

} // namespace

bool decode(std::span<const unsigned char> bytes, fipImage& picture, std::string& refusal,
            unsigned long long memoryBudget) {
    picture.clear();
    const QXPictureHeader::Header header = QXPictureHeader::read(bytes);
    refusal = header.refusal;
    if (refusal.empty())
        refusal = decodeInChild(bytes, header.format, memoryBudget, picture);
    return refusal.empty();
}

} // namespace QXPictureDecoder
