// Parallel ports on Linux through ppdev: "LPTn" is /dev/parport(n-1). Opening claims the
// port and puts it into ECP mode; like our serial ports it takes an exclusive flock, so a
// second program of ours is refused rather than sharing the port. ppdev has no time-out
// record: the device keeps the record and times its non-blocking reads and writes itself
// by the Windows rules (interval, multiplier, constant).
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/posix_fd.h"
#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

// How long a claim may wait for another driver to let the port go.
constexpr uint32_t CLAIM_LIMIT_MS = 5000;
// Between two attempts of a non-blocking request.
constexpr long POLL_STEP_NS = 2 * 1000 * 1000;

uint64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void pause_step() {
    timespec ts{0, POLL_STEP_NS};
    nanosleep(&ts, nullptr);
}

// "LPTn" (any letter case) is /dev/parport(n-1); anything else names no port.
std::string device_path(const char* name) {
    const std::string s = name != nullptr ? name : "";
    if (s.size() < 4 || s.size() > 6)
        return {};
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(s[i])) != "LPT"[i])
            return {};
    }
    for (size_t i = 3; i < s.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return {};
    }
    const long n = std::strtol(s.c_str() + 3, nullptr, 10);
    if (n < 1)
        return {};
    return "/dev/parport" + std::to_string(n - 1);
}

// Opens the port node exclusively among programs that lock it; -1 with errno set (EBUSY
// when another program holds the lock).
int open_locked(const char* name) {
    const std::string path = device_path(name);
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The claim sleeps while another driver holds the port, and only a signal ends that sleep:
// a watchdog signals the claiming thread once the limit has passed (again and again, in case
// a signal came just before the sleep began). EBUSY then, as for a port another program holds.
bool claim_within(int fd, uint32_t limit_ms) {
    static const int wake_signal = [] {
        struct sigaction sa {};
        sa.sa_handler = [](int) {};  // no SA_RESTART: the ioctl returns EINTR
        sigemptyset(&sa.sa_mask);
        sigaction(SIGRTMIN + 1, &sa, nullptr);
        return SIGRTMIN + 1;
    }();
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    const pthread_t claimer = pthread_self();
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(m);
        if (cv.wait_for(lock, std::chrono::milliseconds(limit_ms), [&] { return done; }))
            return;
        while (!done) {
            pthread_kill(claimer, wake_signal);
            cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; });
        }
    });
    const int r = ioctl(fd, PPCLAIM);
    const int error = errno;
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    cv.notify_all();
    watchdog.join();
    errno = r == 0 ? 0 : error == EINTR ? EBUSY : error;
    return r == 0;
}

class PpdevDevice final : public ParallelDevice {
public:
    explicit PpdevDevice(int fd) : fd_(fd) {}
    ~PpdevDevice() override {
        ErrnoKeeper keep;
        ioctl(fd_.get(), PPRELEASE);
    }

    bool get_timeouts(ParallelTimeouts& t) override {
        t = timeouts_;
        return true;
    }
    bool set_timeouts(const ParallelTimeouts& t) override {
        timeouts_ = t;
        return true;
    }

    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written) override {
        written = 0;
        const uint64_t limit =
            uint64_t(timeouts_.write_multiplier) * length + timeouts_.write_constant;
        const uint64_t start = monotonic_ms();
        while (written < length) {
            const ssize_t n = ::write(fd_.get(), data + written, length - written);
            if (n > 0) {
                written += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return static_cast<uint32_t>(errno);
            if (limit != 0 && monotonic_ms() - start >= limit)
                return PARALLEL_TIMEOUT;
            pause_step();
        }
        return PARALLEL_DONE;
    }

    uint32_t read(uint8_t* data, uint32_t count, uint32_t& got, uint32_t wait_ms) override {
        got = 0;
        const uint64_t total =
            uint64_t(timeouts_.read_multiplier) * count + timeouts_.read_constant;
        const uint64_t start = monotonic_ms();
        uint64_t last_byte = 0;
        while (got < count) {
            const ssize_t n = ::read(fd_.get(), data + got, count - got);
            const uint64_t now = monotonic_ms();
            if (n > 0) {
                got += static_cast<uint32_t>(n);
                last_byte = now;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return static_cast<uint32_t>(errno);
            // The request's own end, by its time-outs...
            if (total != 0 && now - start >= total)
                return PARALLEL_DONE;
            if (got > 0 && timeouts_.read_interval != 0 &&
                now - last_byte > timeouts_.read_interval)
                return PARALLEL_DONE;
            // ...or the caller's wait ends first: nothing stays outstanding here.
            if (now - start >= wait_ms)
                return PARALLEL_IO_INCOMPLETE;
            pause_step();
        }
        return PARALLEL_DONE;
    }

private:
    FileDescriptor fd_;
    ParallelTimeouts timeouts_{};
};

class PpdevPorts final : public ParallelPorts {
public:
    std::unique_ptr<ParallelDevice> open(const char* name) override {
        FileDescriptor fd(open_locked(name));
        if (fd.get() < 0)
            return nullptr;
        if (!claim_within(fd.get(), CLAIM_LIMIT_MS))
            return nullptr;
        int mode = IEEE1284_MODE_ECP;
        if (ioctl(fd.get(), PPNEGOT, &mode) != 0 || ioctl(fd.get(), PPSETMODE, &mode) != 0) {
            ErrnoKeeper keep;
            ioctl(fd.get(), PPRELEASE);
            return nullptr;
        }
        return std::make_unique<PpdevDevice>(fd.release());
    }

    PortProbe probe(const char* name) override {
        FileDescriptor fd(open_locked(name));
        if (fd.get() >= 0)
            return PortProbe::free;
        switch (errno) {
            case EBUSY:
                return PortProbe::busy;
            case EACCES:
            case EPERM:
                return PortProbe::denied;
            default:
                return PortProbe::absent;
        }
    }

    void debug_output(const char*) override {}
};

}  // namespace

ParallelPorts& posix_parallel() {
    static PpdevPorts parallel;
    return parallel;
}

}  // namespace vx
