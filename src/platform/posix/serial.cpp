// Serial ports on POSIX: termios for the line, poll() for the Windows read time-out rule,
// TIOCMGET, TIOCMBIS and TIOCMBIC for the modem lines. "COMn" opens /dev/ttyS(n-1); any other
// name is a path.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/posix/posix_fd.h"
#include "platform/posix/posix_serial.h"
#include "platform/serial_drain.h"

namespace vx {
namespace {

uint64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

struct Speed {
    uint32_t baud;
    speed_t code;
};

constexpr Speed SPEEDS[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool speed_code(uint32_t baud, speed_t& code) {
    for (const Speed& s : SPEEDS) {
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    }
    return false;
}

uint32_t speed_baud(speed_t code) {
    for (const Speed& s : SPEEDS) {
        if (s.code == code)
            return s.baud;
    }
    return 0;
}

class PosixSerialDevice final : public SerialDevice {
public:
    explicit PosixSerialDevice(int fd) : fd_(fd) {}
    // Give up exclusive use before closing: on a pty whose other end stays open the flag
    // would outlive us and refuse the next open (the reopening between transfer steps).
    // After a write that timed out, what the line still holds is dropped: a UART's close
    // would wait up to its closing time (30 s) for a printer that stopped reading.
    ~PosixSerialDevice() override {
        ErrnoKeeper keep;
        if (stalled_)
            tcflush(fd_.get(), TCOFLUSH);
        ioctl(fd_.get(), TIOCNXCL);
    }

    bool get_comm_state(CommState& state) override {
        termios tio{};
        if (tcgetattr(fd_.get(), &tio) != 0) {
            return false;
        }
        saved_ = tio;
        have_saved_ = true;
        state.baud = speed_baud(cfgetospeed(&tio));
        state.byte_size = (tio.c_cflag & CSIZE) == CS7 ? 7 : (tio.c_cflag & CSIZE) == CS8 ? 8 : 0;
        if ((tio.c_cflag & PARENB) == 0) {
            state.parity = 0;
        } else if (tio.c_cflag & CMSPAR) {
            state.parity = (tio.c_cflag & PARODD) ? 3 : 4;
        } else {
            state.parity = (tio.c_cflag & PARODD) ? 1 : 2;
        }
        state.stop_bits = (tio.c_cflag & CSTOPB) ? 2 : 0;
        state.parity_check = (tio.c_iflag & INPCK) != 0;
        state.dsr_sensitivity = false;  // no such mode here
        state.evt_char = evt_char_;
        return true;
    }

    bool set_comm_state(const CommState& state) override {
        termios tio{};
        if (have_saved_) {
            tio = saved_;
        } else if (tcgetattr(fd_.get(), &tio) != 0) {
            return false;
        }
        speed_t code{};
        // Refused: speeds without a termios code, 5/6-bit bytes, mark/space parity and 1.5
        // stop bits (termios has no such framing for 7 or 8 data bits).
        if (!speed_code(state.baud, code) || (state.byte_size != 7 && state.byte_size != 8) ||
            state.parity > 2 || (state.stop_bits != 0 && state.stop_bits != 2)) {
            errno = EINVAL;
            return false;
        }
        cfsetispeed(&tio, code);
        cfsetospeed(&tio, code);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
        tio.c_cflag |= state.byte_size == 7 ? CS7 : CS8;
        if (state.parity == 1)
            tio.c_cflag |= PARENB | PARODD;
        if (state.parity == 2)
            tio.c_cflag |= PARENB;
        if (state.stop_bits == 2)
            tio.c_cflag |= CSTOPB;
        if (state.parity_check) {
            tio.c_iflag |= INPCK;
        } else {
            tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
        }
        // Bytes already written go out at the old speed before the line changes, within their
        // time on the line: a line that holds them back longer does not stop the change (as
        // on Windows, where the change does not wait at all) nor hang it.
        drain_output();
        if (tcsetattr(fd_.get(), TCSANOW, &tio) != 0) {
            return false;
        }
        saved_ = tio;
        have_saved_ = true;
        evt_char_ = state.evt_char;
        return true;
    }

    bool set_read_timeouts(const ReadTimeouts& t) override {
        timeouts_ = t;
        return true;
    }

    bool modem_status(uint32_t& status) override {
        int lines = 0;
        if (ioctl(fd_.get(), TIOCMGET, &lines) != 0) {
            return false;  // ENOTTY / EINVAL on a device without modem lines (a pty)
        }
        status = 0;
        if (lines & TIOCM_CTS)
            status |= 0x0010;
        if (lines & TIOCM_DSR)
            status |= DSR_ON;
        if (lines & TIOCM_RNG)
            status |= 0x0040;
        if (lines & TIOCM_CAR)
            status |= 0x0080;
        return true;
    }

    // termios keeps no sticky error state to clear.
    bool clear_error() override { return fd_.get() >= 0; }

    bool set_modem_line(ModemLine line, bool on) override {
        int bits = line == ModemLine::rts ? TIOCM_RTS : TIOCM_DTR;
        return ioctl(fd_.get(), on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    }

    // The output queue is waited for, not flushed: tcflush(TCOFLUSH) would drop bytes
    // written but not yet sent (on a pty, bytes the peer has not read yet). tcdrain cannot
    // be bounded, so TIOCOUTQ is polled instead; a pty reports 0, its bytes being with the
    // peer already.
    bool purge() override {
        last_drain_ = drain_output();
        return tcflush(fd_.get(), TCIFLUSH) == 0;
    }
    PurgeDrain last_purge_drain() const override { return last_drain_; }

    // The descriptor is non-blocking: a full output queue is waited for with poll(), at
    // most the time the queued and the remaining bytes need on the line plus a margin.
    bool write(const uint8_t* data, uint32_t length, uint32_t& written) override {
        written = 0;
        uint64_t deadline = 0;
        while (written < length) {
            const ssize_t n = ::write(fd_.get(), data + written, length - written);
            if (n > 0) {
                written += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return false;
            const uint64_t now = monotonic_ms();
            if (deadline == 0) {
                const LineTiming line = line_timing();
                deadline = now + write_limit_ms(uint64_t{queued_output()} + (length - written),
                                                line.baud, line.frame_bits);
            }
            if (now >= deadline) {
                stalled_ = true;
                errno = ETIMEDOUT;
                return false;
            }
            pollfd p{fd_.get(), POLLOUT, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::min<uint64_t>(deadline - now, 1000)));
            if (r < 0 && errno != EINTR)
                return false;
            if (r > 0 && (p.revents & POLLOUT) == 0 &&
                (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                errno = EIO;  // the line went away
                return false;
            }
        }
        return true;
    }

    // The Windows rule: the read ends with `length` bytes, when more than `interval` ms pass
    // between two bytes, or after multiplier * length + constant ms in all. All three zero:
    // wait for the full count. Interval "all ones" with no total: return what is there.
    bool read(uint8_t* data, uint32_t length, uint32_t& got) override {
        got = 0;
        const ReadTimeouts t = timeouts_;
        const bool immediate = t.interval == 0xFFFFFFFFu && t.multiplier == 0 && t.constant == 0;
        const bool has_total = t.multiplier != 0 || t.constant != 0;
        const uint64_t start = monotonic_ms();
        const uint64_t total_deadline =
            start + static_cast<uint64_t>(t.multiplier) * length + t.constant;
        uint64_t last_byte = 0;
        while (got < length) {
            int wait = -1;
            const uint64_t now = monotonic_ms();
            if (immediate) {
                wait = 0;
            } else {
                uint64_t deadline = UINT64_MAX;
                if (has_total)
                    deadline = total_deadline;
                if (got > 0 && t.interval != 0 && t.interval != 0xFFFFFFFFu) {
                    deadline = std::min<uint64_t>(deadline, last_byte + t.interval);
                }
                if (deadline != UINT64_MAX) {
                    wait = deadline > now
                               ? static_cast<int>(std::min<uint64_t>(deadline - now, 0x7FFFFFFF))
                               : 0;
                }
            }
            pollfd p{fd_.get(), POLLIN, 0};
            const int r = ::poll(&p, 1, wait);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (r == 0) {
                return true;  // time-out: a partial result
            }
            if ((p.revents & POLLIN) == 0) {
                errno = EIO;  // hung up or failed with nothing to read
                return false;
            }
            const ssize_t n = ::read(fd_.get(), data + got, length - got);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return false;
            }
            if (n == 0) {
                return true;  // readable yet empty: end of input, never spin on it
            }
            got += static_cast<uint32_t>(n);
            last_byte = monotonic_ms();
        }
        return true;
    }

    // A plain 16550 port on Windows reports BAUD_USER, which keeps the configured download
    // speed.
    bool max_baud(uint32_t& flag) override {
        flag = MAXBAUD_USER;
        return true;
    }

private:
    struct LineTiming {
        uint32_t baud = 0;
        uint32_t frame_bits = 10;
    };
    // The line as last set, or as the device reports it.
    LineTiming line_timing() const {
        termios tio = saved_;
        if (!have_saved_ && tcgetattr(fd_.get(), &tio) != 0)
            tio.c_cflag = CS8;  // and speed 0: the waits assume the fallback speed
        const tcflag_t size = tio.c_cflag & CSIZE;
        const uint32_t data_bits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
        return {speed_baud(cfgetospeed(&tio)),
                frame_bits(data_bits, (tio.c_cflag & PARENB) != 0, (tio.c_cflag & CSTOPB) != 0)};
    }
    // Bytes written and not yet sent; false when the device cannot say.
    bool output_queue(uint32_t& n) const {
        int queued = 0;
        if (ioctl(fd_.get(), TIOCOUTQ, &queued) != 0 || queued < 0)
            return false;
        n = static_cast<uint32_t>(queued);
        return true;
    }
    uint32_t queued_output() const {
        uint32_t n = 0;
        return output_queue(n) ? n : 0;
    }
    PurgeDrain drain_output() const {
        const LineTiming line = line_timing();
        return wait_for_drain(
            [this](uint32_t& n) { return output_queue(n); }, monotonic_ms,
            [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); },
            line.baud, line.frame_bits);
    }

    FileDescriptor fd_;
    termios saved_{};
    bool have_saved_ = false;
    char evt_char_ = 0;
    ReadTimeouts timeouts_{};
    PurgeDrain last_drain_{};
    bool stalled_ = false;  // a write timed out: the printer takes nothing more
};

// "COMn" (any letter case, as Windows device names) is /dev/ttyS(n-1).
std::string device_path(const char* name) {
    const std::string s = name != nullptr ? name : "";
    if (s.size() > 3 && s.size() <= 6 && std::toupper(static_cast<unsigned char>(s[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(s[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(s[2])) == 'M') {
        bool digits = true;
        for (size_t i = 3; i < s.size(); ++i) {
            digits = digits && std::isdigit(static_cast<unsigned char>(s[i]));
        }
        const long n = digits ? std::strtol(s.c_str() + 3, nullptr, 10) : 0;
        if (n >= 1 && n <= 256) {
            return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return s;
}

OpenFailure classify(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return OpenFailure::not_found;
        case EACCES:
        case EPERM:
            return OpenFailure::access_denied;
        case EBUSY:
            return OpenFailure::busy;
        default:
            return OpenFailure::other;
    }
}

class PosixSerialPorts final : public SerialPorts {
public:
    std::unique_ptr<SerialDevice> open(const char* name) override {
        auto device = open_device(name);
        last_failure_ = device ? OpenFailure::none : classify(errno);
        return device;
    }
    OpenFailure last_open_failure() const override { return last_failure_; }
    const char* access_denied_advice() const override {
        return "Add the user to the group that owns the device (usually dialout: sudo usermod "
               "-a -G dialout USER), then log in again.";
    }

private:
    static std::unique_ptr<SerialDevice> open_device(const char* name) {
        const std::string path = device_path(name);
        if (path.empty()) {
            errno = ENOENT;
            return nullptr;
        }
        // Non-blocking so the open does not wait for carrier, and so that no write can
        // block: every wait on the device goes through poll() with a limit.
        FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0) {
            return nullptr;
        }
        if (!isatty(fd.get())) {
            errno = ENOTTY;
            return nullptr;
        }
        // Exclusive, like a Windows COM port: another program holding it makes this fail,
        // and TIOCEXCL keeps later opens out while we hold it.
        if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                errno = EBUSY;
            return nullptr;
        }
        if (ioctl(fd.get(), TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
            return nullptr;
        }
        // Binary line, like a Windows port: no echo, no line editing, no character
        // translation, no XON/XOFF; reads are timed by poll(), never by the driver.
        termios tio{};
        if (tcgetattr(fd.get(), &tio) != 0) {
            return nullptr;
        }
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
            return nullptr;
        }
        return std::make_unique<PosixSerialDevice>(fd.release());
    }

    OpenFailure last_failure_ = OpenFailure::none;
};

}  // namespace

SerialPorts& posix_serial_ports() {
    static PosixSerialPorts ports;
    return ports;
}

}  // namespace vx
