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
#include <algorithm>
#include <mutex>
#include <sys/resource.h>
#include <sys/socket.h>
#include <cstring>
#include <vector>
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

// Both ends talk over a socket: no SIGPIPE when the other side has gone, that is a
// refusal (or, for the decoder, its end), not the end of the program.
bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly size bytes unless the other side ends, fails or the deadline passes.
bool readAll(int fd, void* data, size_t size, Clock::time_point deadline) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        // What has arrived is taken at once; only an empty socket is waited on.
        const ssize_t got = ::recv(fd, p, size, MSG_DONTWAIT);
        if (got > 0) {
            p += got;
            size -= static_cast<size_t>(got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        int timeout = -1; // no deadline: wait as long as it takes
        if (deadline != Clock::time_point::max()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            timeout = static_cast<int>(left.count());
        }
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, timeout);
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

// What the program asks the decoder for; the file's bytes follow.
struct Request {
    uint32_t format;
    uint32_t reserved;
    uint64_t budget;
    uint64_t size;
};

constexpr uint64_t kMaxRequestBytes = uint64_t(64) << 20;

// A request and its picture in one write (a key picture is a few kilobytes).
bool sendRequest(int fd, const Request& request, std::span<const unsigned char> bytes) {
    std::vector<unsigned char> message(sizeof request + bytes.size());
    std::memcpy(message.data(), &request, sizeof request);
    if (!bytes.empty())
        std::memcpy(message.data() + sizeof request, bytes.data(), bytes.size());
    return writeAll(fd, message.data(), message.size());
}

// The decoder process: one picture at a time, each under its own address-space budget,
// until the program closes its end (or goes).
[[noreturn]] void serve(int fd) {
    // What a decoder or the sanitizers say about a hostile file is of no use to anyone;
    // the program logs the refusal.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0)
        ::dup2(null, STDERR_FILENO);
    for (;;) {
        Request request{};
        if (!readAll(fd, &request, sizeof request, Clock::time_point::max()) || request.size > kMaxRequestBytes)
            ::_exit(0);
        std::vector<unsigned char> bytes(request.size);
        if (!readAll(fd, bytes.data(), bytes.size(), Clock::time_point::max()))
            ::_exit(0);
        rlimit space{};
        ::getrlimit(RLIMIT_AS, &space);
        space.rlim_cur = std::min<rlim_t>(addressSpaceNow() + request.budget, space.rlim_max);
        ::setrlimit(RLIMIT_AS, &space);

        Reply reply{kUndecodable, 0, 0, 0};
        // FreeImage reads from the buffer only; the cast drops a const it never uses.
        fipMemoryIO memory(bytes.data(), static_cast<DWORD>(bytes.size()));
        const auto format = static_cast<FREE_IMAGE_FORMAT>(request.format);
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
        // The answer and every row in one write: a key picture is one round trip, not
        // one per row.
        const size_t rowBytes = size_t(reply.width) * reply.bitsPerPixel / 8;
        std::vector<unsigned char> answer(sizeof reply);
        std::memcpy(answer.data(), &reply, sizeof reply);
        if (reply.status == kDecoded) {
            answer.resize(sizeof reply + rowBytes * reply.height);
            for (unsigned y = 0; y < reply.height; ++y)
                std::memcpy(answer.data() + sizeof reply + rowBytes * y, picture.getScanLine(y), rowBytes);
        }
        if (!writeAll(fd, answer.data(), answer.size()))
            ::_exit(1);
    }
}

// One long-lived decoder process, started on first use and again after it died (a
// picture that exhausted its budget, crashed the decoder or ran out of time): a fork
// per picture would cost milliseconds on every key shown.
class DecoderProcess {
public:
    ~DecoderProcess() { stop(); }

    std::string decode(std::span<const unsigned char> bytes, FREE_IMAGE_FORMAT format,
                       unsigned long long budget, fipImage& picture) {
        std::lock_guard lock(m_mutex);
        return decodeLocked(bytes, format, budget, picture);
    }

    // Requests go out while the answers of earlier ones come back, as long as what is in
    // flight towards the decoder stays far below what the socket holds: neither side can
    // then block the other. A larger picture goes alone. After anything but a plain
    // refusal, the pictures not yet answered go one by one to a fresh decoder.
    void decodeMany(std::span<Job*> jobs, std::span<const FREE_IMAGE_FORMAT> formats,
                    unsigned long long budget) {
        constexpr size_t kWindowBytes = size_t(64) << 10;
        constexpr size_t kMaxInFlight = 16;
        std::lock_guard lock(m_mutex);
        forgetInheritedDecoder();
        if (m_pid < 0 && !start()) {
            for (Job* job : jobs)
                job->refusal = "no process for the decoder";
            return;
        }
        std::vector<size_t> inFlight; // indexes into jobs, oldest first
        size_t front = 0, bytesInFlight = 0, next = 0;
        bool broken = false;
        while (!broken && (next < jobs.size() || front < inFlight.size())) {
            const size_t waiting = inFlight.size() - front;
            if (next < jobs.size() && waiting < kMaxInFlight &&
                (waiting == 0 || bytesInFlight + jobs[next]->bytes.size() <= kWindowBytes)) {
                Job& job = *jobs[next];
                if (job.bytes.size() > kMaxRequestBytes) {
                    job.refusal = "the file is larger than 64 MiB";
                    ++next;
                    continue;
                }
                const Request request{static_cast<uint32_t>(formats[next]), 0, budget, job.bytes.size()};
                if (!sendRequest(m_fd, request, job.bytes)) {
                    broken = true;
                    break;
                }
                inFlight.push_back(next++);
                bytesInFlight += job.bytes.size();
                continue;
            }
            const size_t index = inFlight[front++];
            Job& job = *jobs[index];
            bytesInFlight -= job.bytes.size();
            job.refusal = receive(budget, *job.picture);
            if (!job.refusal.empty()) {
                job.picture->clear();
                if (job.refusal != kUndecodableText && job.refusal != kNotStandardText) {
                    stop();
                    broken = true;
                }
            }
        }
        if (!broken)
            return;
        stop();
        for (size_t i = front; i < inFlight.size(); ++i) {
            Job& job = *jobs[inFlight[i]];
            if (job.refusal.empty())
                job.refusal = decodeLocked(job.bytes, formats[inFlight[i]], budget, *job.picture);
        }
        for (; next < jobs.size(); ++next)
            jobs[next]->refusal = decodeLocked(jobs[next]->bytes, formats[next], budget, *jobs[next]->picture);
    }

private:
    // A process forked from the program (a test's child) starts a decoder of its own
    // instead of talking to its parent's.
    void forgetInheritedDecoder() {
        if (m_pid > 0 && m_owner != ::getpid()) {
            ::close(m_fd);
            m_fd = -1;
            m_pid = -1;
        }
    }

    std::string decodeLocked(std::span<const unsigned char> bytes, FREE_IMAGE_FORMAT format,
                             unsigned long long budget, fipImage& picture) {
        if (bytes.size() > kMaxRequestBytes)
            return "the file is larger than 64 MiB";
        forgetInheritedDecoder();
        const Request request{static_cast<uint32_t>(format), 0, budget, bytes.size()};
        // A process that ended since the last picture is started again, once.
        bool sent = false;
        for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
            if (m_pid < 0 && !start())
                return "no process for the decoder";
            sent = sendRequest(m_fd, request, bytes);
            if (!sent)
                stop();
        }
        if (!sent)
            return "the decoder does not take pictures";
        std::string refusal = receive(budget, picture);
        if (!refusal.empty()) {
            picture.clear();
            // Whatever state it is in, the next picture gets a fresh one.
            if (refusal != kUndecodableText && refusal != kNotStandardText)
                stop();
        }
        return refusal;
    }

    static constexpr const char* kUndecodableText = "it cannot be decoded";
    static constexpr const char* kNotStandardText = "its colours cannot be converted";

    bool start() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return false;
        const pid_t child = ::fork();
        if (child < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return false;
        }
        if (child == 0) {
            // Only the connection to the program stays open: no lock, socket or device
            // of the program's lives on in the decoder.
            if (fds[1] != 3)
                ::dup2(fds[1], 3);
            ::close_range(4, ~0U, 0);
            serve(3);
        }
        ::close(fds[1]);
        m_fd = fds[0];
        m_pid = child;
        m_owner = ::getpid();
        return true;
    }

    void stop() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        if (m_pid > 0 && m_owner == ::getpid()) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        m_pid = -1;
    }

    std::string receive(unsigned long long budget, fipImage& picture) {
        const auto deadline = Clock::now() + std::chrono::seconds(kTimeLimitSeconds);
        Reply reply{};
        if (!readAll(m_fd, &reply, sizeof reply, deadline))
            return "decoding it took more than " + std::to_string(budget >> 20) + " MiB or " +
                   std::to_string(kTimeLimitSeconds) + " seconds, or crashed the decoder";
        if (reply.status == kUndecodable)
            return kUndecodableText;
        if (reply.status != kDecoded)
            return kNotStandardText;
        if (reply.width == 0 || reply.height == 0 ||
            static_cast<unsigned long long>(reply.width) * reply.height >
                QXPictureHeader::kMaxPixels ||
            (reply.bitsPerPixel != 24 && reply.bitsPerPixel != 32))
            return "it decodes to " + std::to_string(reply.width) + " x " +
                   std::to_string(reply.height) + " pixels, more than its header said";
        if (!picture.setSize(FIT_BITMAP, reply.width, reply.height, reply.bitsPerPixel))
            return "there is no memory for its pixels";
        const size_t rowBytes = size_t(reply.width) * reply.bitsPerPixel / 8;
        std::vector<unsigned char> pixels(rowBytes * reply.height);
        if (!readAll(m_fd, pixels.data(), pixels.size(), deadline))
            return "the decoder stopped half way";
        for (unsigned y = 0; y < reply.height; ++y)
            std::memcpy(picture.getScanLine(y), pixels.data() + rowBytes * y, rowBytes);
        return {};
    }

    std::mutex m_mutex;
    pid_t m_pid = -1;
    pid_t m_owner = -1; // the process that started the decoder
    int m_fd = -1;
};

DecoderProcess& decoderProcess() {
    static DecoderProcess process;
    return process;
}

std::string decodeInChild(std::span<const unsigned char> bytes, FREE_IMAGE_FORMAT format,
                          unsigned long long memoryBudget, fipImage& picture) {
    return decoderProcess().decode(bytes, format, memoryBudget, picture);
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

void decodeMany(std::span<Job> jobs, unsigned long long memoryBudget) {
    std::vector<Job*> accepted;
    std::vector<FREE_IMAGE_FORMAT> formats;
    for (Job& job : jobs) {
        job.picture->clear();
        const QXPictureHeader::Header header = QXPictureHeader::read(job.bytes);
        job.refusal = header.refusal;
        if (job.refusal.empty()) {
            accepted.push_back(&job);
            formats.push_back(header.format);
        }
    }
    if (!accepted.empty())
        decoderProcess().decodeMany(accepted, formats, memoryBudget);
}

} // namespace QXPictureDecoder
