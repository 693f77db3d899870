// The termios serial port over a real pseudo-terminal: the Windows read time-out rule as
// poll() emulates it, the purge that never drops written bytes, the line settings termios
// refuses and the exclusive open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/posix/posix_serial.h"

namespace vx {
namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

struct Pty {
    int master = -1;
    int slave = -1;
    char name[128] = {};
    Pty() {
        EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        // Only the program's side keeps the slave open.
        close(slave);
        slave = -1;
    }
    ~Pty() {
        if (master >= 0)
            close(master);
    }
    void send(const char* bytes, size_t n) const {
        EXPECT_EQ(write(master, bytes, n), static_cast<ssize_t>(n));
    }
    // What the far end can read now.
    std::string drain() const {
        std::string out;
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        char buf[256];
        for (;;) {
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, static_cast<size_t>(n));
        }
        fcntl(master, F_SETFL, flags);
        return out;
    }
};

std::unique_ptr<SerialDevice> open_pty(const Pty& pty) {
    auto dev = posix_serial_ports().open(pty.name);
    EXPECT_NE(dev, nullptr) << pty.name << ": " << std::strerror(errno);
    return dev;
}

TEST(PosixSerialRead, FullCountReturnsAtOnce) {
    Pty pty;
    auto dev = open_pty(pty);
    ASSERT_TRUE(dev);
    dev->set_read_timeouts({2000, 2000, 2000});
    pty.send("abcd", 4);
    uint8_t buf[4];
    uint32_t got = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(dev->read(buf, 4, got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
    EXPECT_LT(elapsed_ms(start), 1000);
}

TEST(PosixSerialRead, PartialReadEndsOnTheIntervalTimeout) {
    Pty pty;
    auto dev = open_pty(pty);
    ASSERT_TRUE(dev);
    dev->set_read_timeouts({100, 0, 5000});
    pty.send("xy", 2);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        pty.send("z", 1);
    });
    uint8_t buf[8];
    uint32_t got = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(dev->read(buf, 8, got));
    const long ms = elapsed_ms(start);
    late.join();
    EXPECT_EQ(got, 2u);
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 1400);  // well before the late byte and the 5 s total
}

TEST(PosixSerialRead, SilenceEndsOnTheTotalTimeout) {
    Pty pty;
    auto dev = open_pty(pty);
    ASSERT_TRUE(dev);
    dev->set_read_timeouts({50, 50, 50});  // 50 * 4 + 50
    uint8_t buf[4];
    uint32_t got = 7;
    const auto start = Clock::now();
    ASSERT_TRUE(dev->read(buf, 4, got));
    const long ms = elapsed_ms(start);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms, 240);
    EXPECT_LT(ms, 2000);
}

TEST(PosixSerialRead, TotalTimeoutBoundsATrickle) {
    Pty pty;
    auto dev = open_pty(pty);
    ASSERT_TRUE(dev);
    dev->set_read_timeouts({1000, 0, 300});
    std::thread trickle([&] {
        for (int i = 0; i < 10; ++i) {
            pty.send("t", 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    });
    uint8_t buf[64];
    uint32_t got = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(dev->read(buf, 64, got));
    const long ms = elapsed_ms(start);
    trickle.join();
    EXPECT_GE(got, 1u);
    EXPECT_LT(got, 10u);
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 590);
}

TEST(PosixSerialPurge, KeepsWrittenBytesAndDropsPendingInput) {
    Pty pty;
    auto dev = open_pty(pty);
    ASSERT_TRUE(dev);
    std::string out(1000, '\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(i);
    uint32_t written = 0;
    ASSERT_TRUE(dev->write(reinterpret_cast<const uint8_t*>(out.data()), 1000, written));
    EXPECT_EQ(written, 1000u);
    pty.send("stale", 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(dev->purge());
    EXPECT_EQ(pty.drain(), out);  // nothing the program wrote was lost
    dev->set_read_timeouts({20, 20, 20});
    uint8_t buf[8];
    uint32_t got = 9;
    ASSERT_TRUE(dev->read(buf, 8, got));
    EXPECT_EQ(got, 0u);  // the stale input is gone
}

// A pty has no output queue (TIOCOUTQ reads 0: written bytes are with the peer already), so
// the purge's bounded wait ends at once even while the peer reads nothing.
TEST(PosixSerialPurge, UnreadPeerDoesNotHoldThePurge) {
    Pty pty;
    auto dev = open_pty(pty);
    ASSERT_TRUE(dev);
    int slave = ::open(pty.name, O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    int queued = -1;
    EXPECT_EQ(ioctl(slave, TIOCOUTQ, &queued), 0) << std::strerror(errno);
    EXPECT_EQ(queued, 0);
    ::close(slave);
    CommState s;
    ASSERT_TRUE(dev->get_comm_state(s));
    s.baud = 9600;
    ASSERT_TRUE(dev->set_comm_state(s));
    const std::string out(8000, 'x');  // over eight seconds of line time at 9600
    uint32_t written = 0;
    ASSERT_TRUE(dev->write(reinterpret_cast<const uint8_t*>(out.data()), 8000, written));
    const auto start = Clock::now();
    EXPECT_TRUE(dev->purge());
    EXPECT_LT(elapsed_ms(start), 400);
    EXPECT_FALSE(dev->last_purge_drain().timed_out);
    EXPECT_EQ(dev->last_purge_drain().waited_ms, 0u);
    EXPECT_EQ(pty.drain(), out);
}

TEST(PosixSerialLine, SupportedAndRefusedSettings) {
    Pty pty;
    auto dev = open_pty(pty);
    ASSERT_TRUE(dev);
    CommState s;
    ASSERT_TRUE(dev->get_comm_state(s));
    struct Case {
        uint32_t baud;
        uint8_t bits, parity, stop;
        bool ok;
    } cases[] = {
        {9600, 8, 0, 0, true},  {115200, 8, 0, 0, true}, {38400, 7, 2, 2, true},
        {57600, 8, 1, 0, true}, {14400, 8, 0, 0, false}, {12345, 8, 0, 0, false},
        {9600, 6, 0, 0, false}, {9600, 8, 3, 0, false},  {9600, 8, 4, 0, false},
        {9600, 8, 0, 1, false},
    };
    for (const Case& c : cases) {
        CommState want = s;
        want.baud = c.baud;
        want.byte_size = c.bits;
        want.parity = c.parity;
        want.stop_bits = c.stop;
        errno = 0;
        EXPECT_EQ(dev->set_comm_state(want), c.ok) << c.baud << " " << int(c.bits);
        if (!c.ok) {
            EXPECT_EQ(errno, EINVAL);
            continue;
        }
        CommState now;
        ASSERT_TRUE(dev->get_comm_state(now));
        EXPECT_EQ(now.baud, c.baud);  // a pty keeps the speed; it normalises the framing
    }
    uint32_t flag = 0;
    ASSERT_TRUE(dev->max_baud(flag));
    EXPECT_EQ(flag, MAXBAUD_USER);
}

TEST(PosixSerialOpen, ExclusiveAndReopenable) {
    Pty pty;
    auto first = open_pty(pty);
    ASSERT_TRUE(first);
    EXPECT_EQ(posix_serial_ports().open(pty.name), nullptr);
    EXPECT_EQ(posix_serial_ports().last_open_failure(), OpenFailure::busy);
    first.reset();
    auto again = posix_serial_ports().open(pty.name);
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(posix_serial_ports().last_open_failure(), OpenFailure::none);
}

TEST(PosixSerialOpen, FailuresAreClassified) {
    EXPECT_EQ(posix_serial_ports().open("/nonexistent/ttyX"), nullptr);
    EXPECT_EQ(posix_serial_ports().last_open_failure(), OpenFailure::not_found);
    EXPECT_EQ(posix_serial_ports().open("/dev/null"), nullptr);  // not a terminal
    EXPECT_EQ(posix_serial_ports().last_open_failure(), OpenFailure::other);
}

TEST(PosixSerialModem, PtyHasNoModemLines) {
    Pty pty;
    auto dev = open_pty(pty);
    ASSERT_TRUE(dev);
    uint32_t status = 0;
    EXPECT_FALSE(dev->modem_status(status));
}

}  // namespace
}  // namespace vx
