// The ppdev presence test against device nodes served by umockdev (parallel_linux.sh runs
// these under umockdev-run with /dev/parport0 and /dev/parport1). Skipped elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "port/parallel_port.h"

namespace vx {
namespace {

TEST(ParallelPpdev, PortPresentTellsMissingFreeAndBusyApart) {
    if (std::getenv("UMOCKDEV_DIR") == nullptr)
        GTEST_SKIP() << "needs umockdev-run with /dev/parport0 and /dev/parport1";
    Platform& platform = native_platform();
    auto present = [&](const char* name) { return parallel_port_present(platform.parallel, name); };

    EXPECT_TRUE(present("LPT1"));
    EXPECT_TRUE(present("LPT2"));
    EXPECT_FALSE(present("LPT3"));  // no /dev/parport2
    EXPECT_FALSE(present("PRN"));

    // Another program holds LPT2.
    const int holder = ::open("/dev/parport1", O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(platform.parallel.probe("LPT2"), PortProbe::busy);
    EXPECT_FALSE(present("LPT2"));
    EXPECT_TRUE(present("LPT1"));
    ::close(holder);
    EXPECT_TRUE(present("LPT2"));
    // The probe itself leaves the port free for the next one.
    EXPECT_TRUE(present("LPT2"));
}

// ppdev_mock answers the claim and mode calls and replies "OK" to every write.
TEST(ParallelPpdev, OpenWritesAndReadsInEcpMode) {
    if (std::getenv("VX_PPDEV_MOCK") == nullptr)
        GTEST_SKIP() << "needs ppdev_mock (parallel_linux.sh)";
    Platform& platform = native_platform();
    ParallelPort lpt(PortSettings{"LPT1", PortKind::parallel, {}}, platform.parallel,
                     platform.errors);

    ASSERT_TRUE(lpt.open().ok());
    const uint8_t command[] = {0x1B, 0x7D, 0x7B};
    uint8_t reply[8] = {};
    EXPECT_EQ(lpt.write_read(command, sizeof command, reply, sizeof reply, 2000), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply)), "OK");

    // Nothing more comes: the request is given up after its one-second wait.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lpt.read(reply, sizeof reply, 0), 0);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 1900);
    // A second program cannot take the port while we hold it.
    EXPECT_EQ(platform.parallel.probe("LPT1"), PortProbe::busy);
    lpt.close();
    EXPECT_EQ(platform.parallel.probe("LPT1"), PortProbe::free);
}

}  // namespace
}  // namespace vx
