#include <gtest/gtest.h>

#include <vector>

#include "printer.h"
#include "usb_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimUsbSession, HandshakeAnswers) {
    const struct {
        const char* text;
        Bytes reply;
        bool open;
    } cases[] = {{"ack", {0x06}, true},
                 {"nak", {0x15}, false},
                 {"none", {}, false},
                 {"0x41", {0x41}, false}};
    for (const auto& c : cases) {
        vxsim::UsbConfig cfg;
        ASSERT_TRUE(vxsim::parse_handshake(c.text, cfg.handshake_reply)) << c.text;
        vxsim::Printer printer(vxsim::Config{});
        vxsim::UsbSession s(printer, cfg);
        const uint8_t open = 0x02;
        s.write(&open, 1, 0);
        EXPECT_EQ(s.take_output(0), c.reply) << c.text;
        EXPECT_EQ(s.open(), c.open) << c.text;
        EXPECT_EQ(printer.bytes_received(), 0u);  // session bytes never reach the protocol
    }
    std::optional<uint8_t> out;
    EXPECT_FALSE(vxsim::parse_handshake("yes", out));
    EXPECT_FALSE(vxsim::parse_handshake("123", out));
}

// A check byte or header byte equal to a session byte is protocol data, not a session event.
TEST(SimUsbSession, SessionBytesOnlyBetweenDownloads) {
    vxsim::Config pc;
    pc.model = 3;
    vxsim::Printer printer(pc);
    vxsim::UsbConfig cfg;
    cfg.stray_after_bank = {0x55};
    vxsim::UsbSession s(printer, cfg);
    const uint8_t open = 0x02, close = 0x03;
    s.write(&open, 1, 0);
    const uint8_t cmd[3] = {0x1B, 0x7D, 0x7B};
    s.write(cmd, 3, 0);
    const uint8_t header[6] = {0, 0, 0, 0, 0, 0x56};  // page 0 only
    s.write(header, 6, 0);
    s.take_output(5000);
    Bytes page(16384, 0x00);
    page[0] = 0xFD;  // sum 0xFD: check 0xFF03, low byte first
    for (int i = 0; i < 4; ++i)
        s.write(page.data() + i * 4096, 4096, 5000);
    EXPECT_EQ(s.take_output(5000), Bytes{0x55});
    const uint8_t crc1 = 0x03, crc2 = 0xFF;
    s.write(&crc1, 1, 5000);
    s.write(&crc2, 1, 5000);
    EXPECT_EQ(s.closes(), 0u);
    EXPECT_EQ(s.take_output(5000), Bytes{0x17});
    EXPECT_EQ(printer.downloads_done(), 1u);
    EXPECT_EQ(s.data_write_sizes(), std::vector<size_t>(4, 4096));
    s.write(&close, 1, 5000);
    EXPECT_EQ(s.closes(), 1u);
    EXPECT_FALSE(s.open());
}

}  // namespace
