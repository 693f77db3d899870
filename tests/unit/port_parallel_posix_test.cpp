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

#include "app/catalogue.h"
#include "app/cls_flash.h"
#include "port/parallel.h"

namespace vx {
namespace {

TEST(ParallelPpdev, PortPresentTellsMissingFreeAndBusyApart) {
    if (std::getenv("UMOCKDEV_DIR") == nullptr)
        GTEST_SKIP() << "needs umockdev-run with /dev/parport0 and /dev/parport1";
    Platform& platform = native_platform();
    MessageCatalogue catalogue(platform);
    Cls_flash flash(platform, catalogue);
    Cls_parallel lpt(flash);

    EXPECT_EQ(lpt.Port_present("LPT1"), 1);
    EXPECT_EQ(lpt.Port_present("LPT2"), 1);
    EXPECT_EQ(lpt.Port_present("LPT3"), 0);  // no /dev/parport2
    EXPECT_EQ(lpt.Port_present("PRN"), 0);

    // Another program holds LPT2.
    const int holder = ::open("/dev/parport1", O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(platform.parallel.probe("LPT2"), PortProbe::busy);
    EXPECT_EQ(lpt.Port_present("LPT2"), 0);
    EXPECT_EQ(lpt.Port_present("LPT1"), 1);
    ::close(holder);
    EXPECT_EQ(lpt.Port_present("LPT2"), 1);
    // The probe itself leaves the port free for the next one.
    EXPECT_EQ(lpt.Port_present("LPT2"), 1);
}

// ppdev_mock answers the claim and mode calls and replies "OK" to every write.
TEST(ParallelPpdev, OpenWritesAndReadsInEcpMode) {
    if (std::getenv("VX_PPDEV_MOCK") == nullptr)
        GTEST_SKIP() << "needs ppdev_mock (parallel_linux.sh)";
    Platform& platform = native_platform();
    MessageCatalogue catalogue(platform);
    Cls_flash flash(platform, catalogue);
    flash.report.set_mode(SILENT_MODE);
    std::snprintf(flash.config.port_name, sizeof flash.config.port_name, "LPT1");
    Cls_parallel lpt(flash);

    ASSERT_EQ(lpt.open(1), 1);
    const uint8_t command[] = {0x1B, 0x7D, 0x7B};
    uint8_t reply[8] = {};
    EXPECT_EQ(lpt.Write_Read_timeout(command, sizeof command, reply, sizeof reply, 2000), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply)), "OK");

    // Nothing more comes: the request is given up after its one-second wait.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lpt.Read_timeout(reply, sizeof reply, 0), 0);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 1900);
    // A second program cannot take the port while we hold it.
    EXPECT_EQ(platform.parallel.probe("LPT1"), PortProbe::busy);
    lpt.Close();
    EXPECT_EQ(platform.parallel.probe("LPT1"), PortProbe::free);
}

}  // namespace
}  // namespace vx
