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
    const PortCapabilities caps = f.flash.port_caps();
    EXPECT_EQ(caps.modem_lines, c.modem_lines);
    EXPECT_EQ(caps.forced_sync_probe, c.forced_sync_probe);
    EXPECT_EQ(caps.max_baud_report, c.max_baud_report);
    EXPECT_EQ(caps.shows_line_speed, c.shows_line_speed);
    EXPECT_EQ(caps.transfer, c.transfer);

    EXPECT_EQ(f.flash.open_port(1), 0);
    EXPECT_FALSE(f.flash.port_open());
    EXPECT_TRUE(in_order(f.trace(),
                         {std::string("[FLASH][open_port] Port ") + c.port + "\n", c.open_trace}));
    EXPECT_EQ(f.ko(), c.ko);
    // Nothing is open, so every exchange fails without touching a device.
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(f.flash.write_read_port(buf, 1, buf, 4), 0);
    EXPECT_EQ(f.flash.read_port_block(buf, 1, 10), 0);
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

// Changing the port kind replaces the backend and closes the old port first.
TEST(PortKind, ChangingTheKindClosesTheOpenPort) {
    PortFixture f;
    f.fake.serial.configure = [](FakeSerialDevice& d) { d.modem = DSR_ON; };
    ASSERT_EQ(f.flash.open_port(1), 1);
    ASSERT_TRUE(f.flash.port_open());
    f.set_port("USB01", USB_PORT);
    EXPECT_EQ(f.flash.port_caps().transfer, TransferKind::usb_pages);
    EXPECT_FALSE(f.flash.port_open());
}

}  // namespace
}  // namespace vx::test

namespace vx::test {
namespace {

// A purge that gave up waiting for the output says so in the trace; one that did not is
// silent.
TEST(PortPurge, GivingUpOnTheOutputIsTraced) {
    for (bool timed_out : {false, true}) {
        PortFixture f;
        FakeSerialDevice& dev = f.open();
        dev.purge_drain = PurgeDrain{timed_out, 1354};
        EXPECT_EQ(f.flash.purge_port(), 1);
        const bool traced = f.trace().find(
                                "[FLASH][purge_port] Output did not drain within 1354 ms: input "
                                "discarded\n") != std::string::npos;
        EXPECT_EQ(traced, timed_out);
    }
}

}  // namespace
}  // namespace vx::test
