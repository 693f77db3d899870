#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "download_fixture.h"

namespace vx::test {
namespace {

using Bytes = std::vector<uint8_t>;

class HeaderTest : public ProtocolTest {
protected:
    void set_range(int model, uint32_t begin, uint32_t end, uint32_t baud) {
        parts.session.printer_model = model;
        parts.session.begin_page = begin;
        parts.session.end_page = end;
        parts.session.max_page = 0xFFFF;
        config.send_baud = baud;
        config.config_baud = 9600;
    }
};

struct ItemsCase {
    const char* name;
    int model;
    uint32_t begin, end, baud;
    int printer_announced;
    std::vector<Bytes> expected;
};

class HeaderItems : public HeaderTest, public ::testing::WithParamInterface<ItemsCase> {};

TEST_P(HeaderItems, EachItemIsOneWrite) {
    const ItemsCase& c = GetParam();
    FakeSerialDevice& dev = open_serial();
    set_range(c.model, c.begin, c.end, c.baud);
    parts.session.printer_announced = c.printer_announced;
    parts.session.start_fw = 4;
    parts.session.end_fw = 0x0123;
    parts.session.start_FPGA = 0x0124;
    parts.session.end_FPGA = 0x0130;
    parts.session.start_cg = 0x0131;
    parts.session.end_cg = 0x02FF;
    dev.max_baud_flag = MAXBAUD_USER;

    ASSERT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::sent);
    EXPECT_EQ(write_calls, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Models, HeaderItems,
    ::testing::Values(
        ItemsCase{"model3", 3, 200, 400, 115200, 0, {{0x00, 0xC8}, {0x01, 0x90}, {0x00, 0x56}}},
        ItemsCase{"model2", 2, 64, 300, 38400, 0, {{0x00, 0x40}, {0x01, 0x2C}, {0x00, 0x70}}},
        ItemsCase{"model5", 5, 160, 36, 19200, 0, {{0x00, 0xA0}, {0x00, 0x24}, {0x00, 0x80}}},
        ItemsCase{"model1_forced", 1, 32, 63, 57600, 1, {{0x20}, {0x3F}, {0x66}}},
        ItemsCase{"model6_sections",
                  6,
                  7,
                  9,
                  115200,
                  0,
                  {{0x00, 0x04},
                   {0x01, 0x23},
                   {0x01, 0x24},
                   {0x01, 0x30},
                   {0x01, 0x31},
                   {0x02, 0xFF},
                   {0x00, 0x56}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct MaxBaudCase {
    uint32_t flag;
    uint32_t download_baud;
    uint8_t code;
};

class HeaderMaxBaud : public HeaderTest, public ::testing::WithParamInterface<MaxBaudCase> {};

TEST_P(HeaderMaxBaud, PortMaximumDecidesTheSpeed) {
    const MaxBaudCase& c = GetParam();
    FakeSerialDevice& dev = open_serial();
    set_range(3, 0, 7, 115200);
    dev.max_baud_flag = c.flag;

    ASSERT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::sent);
    ASSERT_FALSE(write_calls.empty());
    EXPECT_EQ(write_calls.back(), (Bytes{0x00, c.code}));
    EXPECT_EQ(config.send_baud, c.download_baud);
    EXPECT_EQ(dev.state.baud, c.download_baud);
}

INSTANTIATE_TEST_SUITE_P(Flags, HeaderMaxBaud,
                         ::testing::Values(MaxBaudCase{MAXBAUD_19200, 115200, 0x56},
                                           MaxBaudCase{MAXBAUD_38400, 115200, 0x56},
                                           MaxBaudCase{MAXBAUD_56K, 115200, 0x56},
                                           MaxBaudCase{MAXBAUD_128K, 115200, 0x56},
                                           MaxBaudCase{MAXBAUD_USER, 115200, 0x56},
                                           MaxBaudCase{MAXBAUD_115200, 9600, 0x90},
                                           MaxBaudCase{MAXBAUD_57600, 9600, 0x90},
                                           MaxBaudCase{0, 9600, 0x90},
                                           MaxBaudCase{MAXBAUD_USER | MAXBAUD_128K, 9600, 0x90}));

TEST_F(HeaderTest, SwitchesTheLineAfterTheWaitAndReadsOneByte) {
    FakeSerialDevice& dev = open_serial();
    set_range(3, 0, 7, 57600);
    config.config_baud = 19200;
    dev.state.parity = 2;
    dev.state.stop_bits = 2;
    dev.state.byte_size = 7;

    ASSERT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::sent);
    EXPECT_EQ(dev.state.baud, 57600u);
    EXPECT_EQ(dev.state.byte_size, 8);
    EXPECT_EQ(dev.state.parity, 0);
    EXPECT_EQ(dev.state.stop_bits, 0);
    EXPECT_EQ(config.line.baud, 57600u);
    EXPECT_GE(fp.clock.slept, 2000u);
    ASSERT_FALSE(dev.timeout_log.empty());
    EXPECT_EQ(dev.timeout_log.back().constant, 5000u);
    EXPECT_EQ(view.texts[Field::connection], "speed 57600");
    EXPECT_EQ(view.texts[Field::reply], "");
}

TEST_F(HeaderTest, TraceLines) {
    FakeSerialDevice& dev = open_serial();
    set_range(4, 200, 400, 115200);
    dev.max_baud_flag = MAXBAUD_USER;
    ASSERT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::sent);
    std::vector<std::string> mine;
    for (const auto& l : trace()) {
        if (l.rfind("[FLASH][send_header]", 0) == 0)
            mine.push_back(l);
    }
    EXPECT_EQ(mine, (std::vector<std::string>{
                        "[FLASH][send_header] Sendheader\n",
                        "[FLASH][send_header] Send begin_page=200 end_page=400 !\n",
                        "[FLASH][send_header] Send baud_rate=0x56\n",
                    }));
}

TEST_F(HeaderTest, EndPageAboveMaximumIsRefusedBeforeAnythingIsSent) {
    struct Case {
        uint32_t end;
        HeaderOutcome result;
    };
    for (const Case& c :
         {Case{64, HeaderOutcome::sent}, Case{65, HeaderOutcome::range_beyond_flash}}) {
        write_calls.clear();
        open_serial();
        set_range(3, 40, c.end, 115200);
        parts.session.max_page = 64;
        EXPECT_EQ(send_header(protocol(), report_on(view), port()), c.result) << c.end;
        EXPECT_EQ(write_calls.empty(), c.result != HeaderOutcome::sent) << c.end;
        port().close();
    }
    EXPECT_TRUE(trace_has("[FLASH][send_header] Invalid endpage=65  number ( Max 64 ) !\n"));
}

// A page number wider than the model's header item would reach the printer cut to its low
// bits, and the printer would write the data there.
TEST_F(HeaderTest, RangeTheHeaderCannotSayIsRefusedBeforeAnythingIsSent) {
    const struct {
        int model;
        uint32_t begin, end;
        bool sayable;
    } cases[] = {
        {1, 255, 255, true},    {1, 256, 300, false},   {1, 0, 256, false},
        {2, 255, 300, true},    {2, 260, 263, false},   {5, 4, 0xFFFF, true},
        {5, 4, 0x10000, false}, {6, 300, 0xFFFF, true}, {6, 0x10000, 0x10003, false},
        {6, 4, 0x10000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.model) + ": " + std::to_string(c.begin) + "-" +
                     std::to_string(c.end));
        write_calls.clear();
        FakeSerialDevice& dev = open_serial();
        dev.max_baud_flag = MAXBAUD_USER;
        set_range(c.model, c.begin, c.end, 115200);
        parts.session.max_page = 0x20000;
        EXPECT_EQ(send_header(protocol(), report_on(view), port()),
                  c.sayable ? HeaderOutcome::sent : HeaderOutcome::range_unaddressable);
        EXPECT_EQ(write_calls.empty(), !c.sayable);
        port().close();
    }
    EXPECT_TRUE(
        trace_has("[FLASH][send_header] Invalid page range begin_page=260 end_page=263: "
                  "model 2 cannot address it !\n"));
}

TEST_F(HeaderTest, NonSerialPortsDownloadAt9600) {
    for (uint16_t kind : {LPT_PORT, USB_PORT}) {
        config.port_type = kind;
        set_range(3, 0, 7, 115200);
        EXPECT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::sent) << kind;
        EXPECT_EQ(config.send_baud, 9600u) << kind;
        EXPECT_EQ(view.texts[Field::connection], " ") << kind;
    }
    EXPECT_EQ(trace_count("[FLASH][send_header] Send baud_rate=0x90\n"), 2u);
}

TEST_F(HeaderTest, ForcedSyncKeepsTheSpeedAndStartsFromTheBootLine) {
    FakeSerialDevice& dev = open_serial();
    set_range(3, 0, 7, 115200);
    parts.session.printer_announced = true;
    dev.max_baud_flag = MAXBAUD_115200;  // ignored under forced sync
    ASSERT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::sent);
    EXPECT_EQ(write_calls.back(), (Bytes{0x00, 0x56}));
    EXPECT_EQ(dev.state.baud, 115200u);
}

TEST_F(HeaderTest, Model1At4800SwitchesTo38400) {
    FakeSerialDevice& dev = open_serial();
    set_range(1, 0, 31, 115200);
    config.config_baud = 4800;
    dev.max_baud_flag = MAXBAUD_USER;
    ASSERT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::sent);
    EXPECT_EQ(write_calls.back(), (Bytes{0x70}));
    EXPECT_EQ(config.send_baud, 38400u);
    EXPECT_EQ(dev.state.baud, 38400u);
    EXPECT_TRUE(trace_has("[FLASH][send_header] Change Baud send to 38400 \n"));
}

TEST_F(HeaderTest, UnknownSpeedIsRefusedAfterThePageItems) {
    open_serial();
    set_range(3, 0, 7, 14400);
    EXPECT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::speed_unsupported);
    EXPECT_EQ(write_calls.size(), 2u);
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].caption, "Warning");
    EXPECT_EQ(fp.ui.boxes[0].text, "Unknown speed");
    EXPECT_EQ(fp.ui.boxes[0].type, BOX_ICONEXCLAMATION);
}

TEST_F(HeaderTest, UnreadablePortPropertiesAreRefused) {
    // A serial port that is not open has no properties to read.
    set_range(3, 0, 7, 115200);
    EXPECT_EQ(send_header(protocol(), report_on(view), port()), HeaderOutcome::speed_unreadable);
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].caption, "Warning");
    EXPECT_EQ(fp.ui.boxes[0].text, "Warning");
    EXPECT_TRUE(write_calls.empty());
}

}  // namespace
}  // namespace vx::test
