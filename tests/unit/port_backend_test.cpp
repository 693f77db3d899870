// The port kind picks one backend; the protocol reads its capabilities instead of the kind.
#include <gtest/gtest.h>

#include "port_fixture.h"

namespace vx::test {
namespace {

struct KindCase {
    const char* name;
    const char* port;
    uint16_t type;
    bool modem_lines, forced_sync_probe, max_baud_report, shows_line_speed;
    TransferKind transfer;
    std::string open_trace;  // what a failed open says
    std::string ko;
};

class PortKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(PortKinds, CapabilitiesAndFailedOpen) {
    const KindCase& c = GetParam();
    PortFixture f;
    f.set_port(c.port, c.type);
    f.fake.serial.open_fails = true;
    const PortCapabilities caps = f.port().capabilities();
    EXPECT_EQ(caps.modem_lines, c.modem_lines);
    EXPECT_EQ(caps.forced_sync_probe, c.forced_sync_probe);
    EXPECT_EQ(caps.max_baud_report, c.max_baud_report);
    EXPECT_EQ(caps.shows_line_speed, c.shows_line_speed);
    EXPECT_EQ(caps.transfer, c.transfer);

    EXPECT_EQ(open_port(f.opening(), f.port(), true), 0);
    EXPECT_FALSE(f.port_open());
    EXPECT_TRUE(in_order(f.trace(),
                         {std::string("[FLASH][open_port] Port ") + c.port + "\n", c.open_trace}));
    EXPECT_EQ(f.ko(), c.ko);
    // Nothing is open, so every exchange fails without touching a device.
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(write_read_port(f.parts.port_troubles, f.port(), buf, 1, buf, 4), 0);
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 1, 10), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Port, PortKinds,
    ::testing::Values(KindCase{"serial", "COM1", COM_PORT, true, true, true, true,
                               TransferKind::bytewise,
                               "[FLASH][open_com] Port COM1 cannot be opened", ""},
                      KindCase{"usb", "USB01", USB_PORT, false, false, false, false,
                               TransferKind::usb_pages, "[FLASH][open_port] Printer OFF\n",
                               "[Error 5] Printer OFF - portname USB01.\n"},
                      KindCase{"parallel", "LPT1", LPT_PORT, false, true, false, false,
                               TransferKind::bytewise, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A purge that gave up waiting for the output says so in the trace; one that did not is
// silent.
TEST(PortPurge, GivingUpOnTheOutputIsTraced) {
    for (bool timed_out : {false, true}) {
        PortFixture f;
        FakeSerialDevice& dev = f.open();
        dev.purge_drain = PurgeDrain{timed_out, 1354};
        EXPECT_EQ(purge_port(f.parts.port_troubles, f.port()), 1);
        const bool traced = f.trace().find(
                                "[FLASH][purge_port] Output did not drain within 1354 ms: input "
                                "discarded\n") != std::string::npos;
        EXPECT_EQ(traced, timed_out);
    }
}

}  // namespace
}  // namespace vx::test
