// The ppdev presence test against device nodes served by umockdev (parallel_linux.sh runs
// these under umockdev-run with /dev/parport0 and /dev/parport1). Skipped elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

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

}  // namespace
}  // namespace vx
