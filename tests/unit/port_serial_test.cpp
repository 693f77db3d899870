// The serial port layer against a scripted far end: time-out rules, buffer bounds, the
// presence tests of the open and the dispatch by port kind.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "port_fixture.h"
#include "protocol/emulation.h"

namespace vx::test {
namespace {

constexpr uint8_t GUARD = 0xEE;
const uint8_t CMD[3] = {0x1B, 0x7D, 0x7B};

void queue(FakeSerialDevice& dev, size_t count, uint8_t first = 'a') {
    for (size_t i = 0; i < count; ++i)
        dev.incoming.push_back(static_cast<uint8_t>(first + i));
}

// ---- which read time-outs each operation sets ----

struct TimeoutCase {
    const char* name;
    std::function<void(PortFixture&)> op;
    uint32_t expected;  // interval = multiplier = constant; 0: the operation sets none
};

class ReadTimeouts_ : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(ReadTimeouts_, EachReadSetsItsOwn) {
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    dev.timeout_log.clear();
    GetParam().op(f);
    if (GetParam().expected == 0) {
        EXPECT_TRUE(dev.timeout_log.empty());
        return;
    }
    ASSERT_EQ(dev.timeout_log.size(), 1u);
    const ReadTimeouts& t = dev.timeout_log[0];
    EXPECT_EQ(t.interval, GetParam().expected);
    EXPECT_EQ(t.multiplier, GetParam().expected);
    EXPECT_EQ(t.constant, GetParam().expected);
}

uint8_t scratch[64];
INSTANTIATE_TEST_SUITE_P(
    Serial, ReadTimeouts_,
    ::testing::Values(
        TimeoutCase{
            "read_com",
            [](PortFixture& f) { read_port(f.parts.port_troubles, f.port(), scratch, 8, 300); },
            300},
        TimeoutCase{"read_com_block",
                    [](PortFixture& f) {
                        read_port_block(f.parts.port_troubles, f.port(), scratch, 4, 500);
                    },
                    500},
        TimeoutCase{
            "read_port",
            [](PortFixture& f) { read_port(f.parts.port_troubles, f.port(), scratch, 1, 10000); },
            10000},
        TimeoutCase{"write_read_reply",
                    [](PortFixture& f) {
                        write_read_port(f.parts.port_troubles, f.port(), CMD, 3, scratch, 8);
                    },
                    2000},
        TimeoutCase{"write_read_no_reply",
                    [](PortFixture& f) {
                        write_read_port(f.parts.port_troubles, f.port(), CMD, 3, nullptr, 0);
                    },
                    2000},
        TimeoutCase{"hex_command",
                    [](PortFixture& f) { hex_exchange(f.port(), "1b40", scratch, 8); }, 50},
        TimeoutCase{"write_sets_none",
                    [](PortFixture& f) { write_port(f.parts.port_troubles, f.port(), CMD, 3); },
                    0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- read_com: capacity - 1 bytes and a terminating 0, never past the buffer ----

struct CapacityCase {
    uint32_t capacity;
    size_t incoming;
    int expected;
};

class ReadComCapacity : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(ReadComCapacity, StoresAtMostCapacityMinusOneAndStaysInside) {
    const CapacityCase c = GetParam();
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    queue(dev, c.incoming);
    std::vector<uint8_t> buf(c.capacity + 4, GUARD);
    EXPECT_EQ(read_port(f.parts.port_troubles, f.port(), buf.data(), c.capacity, 100), c.expected);
    for (int i = 0; i < c.expected; ++i)
        EXPECT_EQ(buf[i], 'a' + i) << i;
    for (uint32_t i = c.expected; i < c.capacity; ++i)
        EXPECT_EQ(buf[i], 0) << i;
    for (size_t i = c.capacity; i < buf.size(); ++i)
        EXPECT_EQ(buf[i], GUARD) << "past end " << i;
    EXPECT_EQ(dev.incoming.size(), c.incoming - static_cast<size_t>(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Serial, ReadComCapacity,
                         ::testing::Values(CapacityCase{8, 10, 7}, CapacityCase{8, 3, 3},
                                           CapacityCase{8, 0, 0}, CapacityCase{2, 5, 1},
                                           CapacityCase{1, 5, 1}, CapacityCase{1, 0, 0},
                                           CapacityCase{0, 5, 0}));

TEST(ReadCom, NoBufferOrClosedPortReadsNothing) {
    PortFixture f;
    uint8_t buf[4] = {GUARD, GUARD, GUARD, GUARD};
    EXPECT_EQ(read_port(f.parts.port_troubles, f.port(), buf, 4, 100), 0);  // not open
    EXPECT_EQ(buf[0], GUARD);
    FakeSerialDevice& dev = f.open();
    queue(dev, 3);
    EXPECT_EQ(read_port(f.parts.port_troubles, f.port(), nullptr, 4, 100), 0);
    EXPECT_EQ(dev.incoming.size(), 3u);
}

TEST(ReadCom, SilentPrinterCostsTwiceTheTimeoutPerByteRead) {
    PortFixture f;
    f.open();
    uint8_t buf[8];
    const uint64_t before = f.fake.clock.now;
    EXPECT_EQ(read_port(f.parts.port_troubles, f.port(), buf, 8, 10000), 0);
    EXPECT_EQ(f.fake.clock.now - before, 20000u);  // one empty single-byte read
}

// ---- read_com_block ----

TEST(ReadComBlock, PartialResultZeroesTheRest) {
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    queue(dev, 2);
    uint8_t buf[6] = {GUARD, GUARD, GUARD, GUARD, GUARD, GUARD};
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 4, 500), 2);
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(buf[1], 'b');
    EXPECT_EQ(buf[2], 0);
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(buf[4], GUARD);
}

TEST(ReadComBlock, SilentOneByteReadWaitsTwiceTheTimeout) {
    PortFixture f;
    f.open();
    uint8_t b = 0;
    const uint64_t before = f.fake.clock.now;
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), &b, 1, 2000), 0);
    EXPECT_EQ(f.fake.clock.now - before, 4000u);
}

TEST(ReadComBlock, FailedReadAndEmptyRequestsGiveZero) {
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    queue(dev, 4);
    uint8_t buf[4];
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 0, 500), 0);
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), nullptr, 4, 500), 0);
    dev.read_fails = true;
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 4, 500), 0);
}

// ---- writes ----

TEST(WriteReadCom, FailedWriteGivesZeroAndReadsNothing) {
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    dev.write_fails = true;
    queue(dev, 3);
    uint8_t reply[8];
    EXPECT_EQ(write_read_port(f.parts.port_troubles, f.port(), CMD, 3, reply, 8), 0);
    EXPECT_EQ(dev.incoming.size(), 3u);
}

TEST(WriteReadCom, ReturnsWrittenCountOrReplyCount) {
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    EXPECT_EQ(write_read_port(f.parts.port_troubles, f.port(), CMD, 3, nullptr, 0), 3);
    dev.on_write = [](FakeSerialDevice& d, const uint8_t*, uint32_t) { queue(d, 5, 'x'); };
    uint8_t reply[5] = {GUARD, GUARD, GUARD, GUARD, GUARD};
    EXPECT_EQ(write_read_port(f.parts.port_troubles, f.port(), CMD, 3, reply, 4),
              3);  // capacity - 1
    EXPECT_EQ(reply[0], 'x');
    EXPECT_EQ(reply[3], 0);
    EXPECT_EQ(reply[4], GUARD);
    EXPECT_EQ(dev.written.size(), 6u);
}

TEST(WriteCom, FailedWriteIsSilentAndCountsZero) {
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    dev.write_fails = true;
    EXPECT_EQ(write_port(f.parts.port_troubles, f.port(), CMD, 3), 0);
    EXPECT_EQ(f.trace().find("write"), std::string::npos);
}

// ---- send_hex_command ----

struct HexCase {
    const char* name;
    const char* text;
    std::vector<uint8_t> sent;
};

class HexCommand : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexCommand, SendsThePairsThatAreValid) {
    EXPECT_EQ(hex_bytes(GetParam().text), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Serial, HexCommand,
    ::testing::Values(HexCase{"nine_bytes",
                              "1b5b63040001cc0101",
                              {0x1b, 0x5b, 0x63, 0x04, 0x00, 0x01, 0xcc, 0x01, 0x01}},
                      HexCase{"upper_case", "1B5BFF", {0x1b, 0x5b, 0xff}},
                      HexCase{"odd_digit_dropped", "1b5", {0x1b}},
                      HexCase{"stops_at_non_hex", "1bzz40", {0x1b}}, HexCase{"empty", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HexCommandText, LongTextIsBoundedByTheWorkBuffer) {
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    uint8_t reply[8];
    hex_exchange(f.port(), std::string(1000, 'a'), reply, sizeof reply);
    EXPECT_EQ(dev.written.size(), 256u);
}

struct HexReplyCase {
    size_t incoming;
    uint32_t capacity;
    int expected;
};

class HexReply : public ::testing::TestWithParam<HexReplyCase> {};

TEST_P(HexReply, CollectsChunksWithinCapacity) {
    const HexReplyCase c = GetParam();
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    dev.on_write = [&](FakeSerialDevice& d, const uint8_t*, uint32_t) { queue(d, c.incoming); };
    std::vector<uint8_t> reply(c.capacity + 4, GUARD);
    EXPECT_EQ(hex_exchange(f.port(), "1b40", reply.data(), c.capacity), c.expected);
    for (int i = 0; i < c.expected; ++i)
        EXPECT_EQ(reply[i], 'a' + i);
    for (size_t i = c.capacity; i < reply.size(); ++i)
        EXPECT_EQ(reply[i], GUARD) << i;
}

INSTANTIATE_TEST_SUITE_P(Serial, HexReply,
                         ::testing::Values(HexReplyCase{5, 256, 0},    // short first chunk
                                           HexReplyCase{0, 256, 0},    // silence
                                           HexReplyCase{8, 256, 8},    // one full chunk
                                           HexReplyCase{20, 256, 20},  // 8 + 8 + 4
                                           HexReplyCase{20, 12, 12},   // bounded by capacity
                                           HexReplyCase{8, 3, 3}));

// ---- open_com: presence tests and settings ----

struct OpenCase {
    const char* name;
    int flash_mode;
    std::function<void(FakePlatform&)> setup;
    int expected;
    std::vector<std::string> trace;  // in order
    std::string ko;
    size_t boxes;
};

class OpenCom : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenCom, FailureTable) {
    const OpenCase& c = GetParam();
    PortFixture f;
    f.report.set_mode(c.flash_mode);
    c.setup(f.fake);
    EXPECT_EQ(open_port(f.opening(), f.port(), true), c.expected);
    const std::string trace = f.trace();
    EXPECT_TRUE(in_order(trace, {"[FLASH][open_port] Port COM1\n"}));
    for (const std::string& line : c.trace)
        EXPECT_TRUE(in_order(trace, {line}));
    EXPECT_EQ(f.ko(), c.ko);
    EXPECT_EQ(f.fake.ui.boxes.size(), c.boxes);
}

const std::string DSR_TRACE = "[FLASH][open_com] Printer connected to COM1 OFF DSR=0 \n";
const std::string DSR_KO = "[Error 5] Printer OFF. - portname COM1\n";

INSTANTIATE_TEST_SUITE_P(
    Serial, OpenCom,
    ::testing::Values(OpenCase{"opens", 2, [](FakePlatform&) {}, 1, {}, "", 0},
                      OpenCase{"not_found",
                               2,
                               [](FakePlatform& p) {
                                   p.serial.open_fails = true;
                                   p.serial.failure = OpenFailure::not_found;
                               },
                               0,
                               {"Port COM1 not found"},
                               "",
                               0},
                      OpenCase{"access_denied",
                               2,
                               [](FakePlatform& p) {
                                   p.serial.open_fails = true;
                                   p.serial.failure = OpenFailure::access_denied;
                               },
                               0,
                               {"permission denied", "dialout"},
                               "",
                               0},
                      OpenCase{"busy",
                               2,
                               [](FakePlatform& p) {
                                   p.serial.open_fails = true;
                                   p.serial.failure = OpenFailure::busy;
                               },
                               0,
                               {"in use by another program"},
                               "",
                               0},
                      OpenCase{"dsr_off",
                               2,
                               [](FakePlatform& p) {
                                   p.serial.configure = [](FakeSerialDevice& d) { d.modem = 0x10; };
                               },
                               0,
                               {DSR_TRACE},
                               DSR_KO,
                               0},
                      OpenCase{"no_modem_lines",
                               2,
                               [](FakePlatform& p) {
                                   p.serial.configure = [](FakeSerialDevice& d) {
                                       d.modem_fails = true;
                                   };
                               },
                               0,
                               {"GetCommModemStatus failed on COM1", DSR_TRACE},
                               DSR_KO,
                               0},
                      OpenCase{"comm_state_unreadable",
                               2,
                               [](FakePlatform& p) {
                                   p.serial.configure = [](FakeSerialDevice& d) {
                                       d.state_fails = true;
                                   };
                               },
                               0,
                               {"Function SetCommState : COM1 Error"},
                               "",
                               0},
                      OpenCase{"comm_state_interactive_box",
                               0,
                               [](FakePlatform& p) {
                                   p.serial.configure = [](FakeSerialDevice& d) {
                                       d.state_fails = true;
                                   };
                               },
                               0,
                               {},
                               "",
                               1},
                      OpenCase{"queue_on_port_interactive",
                               0,
                               [](FakePlatform& p) {
                                   p.printers.queues = {{"Other", "LPT1:"}, {"P1", "com1:"}};
                               },
                               0,
                               {"[FLASH][open_com] Port COM1 in use by Printer P1 \n"},
                               "",
                               1},
                      OpenCase{"queue_on_port_silent",
                               2,
                               [](FakePlatform& p) {
                                   p.printers.queues = {{"P1", "COM1:"}};
                               },
                               1,
                               {},
                               "",
                               0},
                      OpenCase{"queue_list_of_ports_never_matches",
                               0,
                               [](FakePlatform& p) {
                                   p.printers.queues = {{"P1", "COM1:,COM2:"}};
                               },
                               1,
                               {},
                               "",
                               0},
                      OpenCase{"queue_list_unavailable",
                               0,
                               [](FakePlatform& p) { p.printers.ok = false; },
                               0,
                               {"[FLASH][open_com] Port COM1 in use by Printer  \n"},
                               "",
                               1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpenComBox, InUseBoxNamesPrinterAndPort) {
    PortFixture f;
    f.report.set_mode(INTERACTIVE_MODE);
    f.fake.printers.queues = {{"P1", "COM1:"}};
    EXPECT_EQ(open_port(f.opening(), f.port(), true), 0);
    ASSERT_EQ(f.fake.ui.boxes.size(), 1u);
    EXPECT_EQ(f.fake.ui.boxes[0].caption, "M2");
    EXPECT_EQ(f.fake.ui.boxes[0].text, "Printer P1 uses COM1 (COM1)");
    EXPECT_EQ(f.fake.ui.boxes[0].type, BOX_ICONEXCLAMATION);
}

TEST(LineSettings, BootLineThenConfiguredLine) {
    PortFixture f;
    f.fake.serial.configure = [](FakeSerialDevice& d) {
        d.state = CommState{19200, 7, 2, 2, true, true, 'x'};
    };
    FakeSerialDevice& dev = f.open();
    EXPECT_EQ(dev.state.baud, 9600u);
    EXPECT_EQ(dev.state.byte_size, 8);
    EXPECT_EQ(dev.state.parity, 0);
    EXPECT_EQ(dev.state.stop_bits, 0);
    EXPECT_FALSE(dev.state.parity_check);
    EXPECT_FALSE(dev.state.dsr_sensitivity);
    EXPECT_EQ(dev.state.evt_char, 0x03);

    f.config.line.baud = 115200;
    f.config.line.data_bits = 7;
    f.config.line.parity = 1;
    f.config.line.stop_bits = 2;
    EXPECT_EQ(set_port_line(f.parts.port_troubles, f.port(), configured_port(f.config).line), 1);
    EXPECT_EQ(dev.state.baud, 115200u);
    EXPECT_EQ(dev.state.byte_size, 7);
    EXPECT_EQ(dev.state.parity, 1);
    EXPECT_EQ(dev.state.stop_bits, 2);
    EXPECT_TRUE(dev.state.parity_check);
    EXPECT_EQ(set_port_line(f.parts.port_troubles, f.port(), BOOT_LINE), 1);
    EXPECT_EQ(dev.state.baud, 9600u);
}

TEST(LineSettings, RefusedSettingsReportThePort) {
    PortFixture f;
    FakeSerialDevice& dev = f.open();
    dev.state_fails = true;
    EXPECT_EQ(set_port_line(f.parts.port_troubles, f.port(), configured_port(f.config).line), 0);
    EXPECT_TRUE(in_order(f.trace(), {"Function SetCommState : COM1 Error"}));
    f.port().close();
    EXPECT_EQ(set_port_line(f.parts.port_troubles, f.port(), configured_port(f.config).line),
              0);  // closed port: nothing to set
}

// ---- dispatch by port kind ----

struct DispatchCase {
    const char* name;
    const char* port;
    uint16_t type;
    int open_result;
    int purge_result;
    std::string ko;
    std::vector<std::string> trace;
    size_t serial_opens;
};

class Dispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(Dispatch, ByPortKind) {
    const DispatchCase& c = GetParam();
    PortFixture f;
    f.set_port(c.port, c.type);
    EXPECT_EQ(open_port(f.opening(), f.port(), true), c.open_result);
    EXPECT_EQ(purge_port(f.parts.port_troubles, f.port()), c.purge_result);
    EXPECT_EQ(set_port_line(f.parts.port_troubles, f.port(), configured_port(f.config).line), 1);
    uint8_t buf[4];
    EXPECT_EQ(read_port(f.parts.port_troubles, f.port(), buf, 4, 10), 0);
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 4, 10), 0);
    f.port().close();
    f.port().close();  // closing twice does nothing
    EXPECT_EQ(f.ko(), c.ko);
    EXPECT_EQ(f.fake.serial.opened.size(), c.serial_opens);
    const std::string trace = f.trace();
    for (const std::string& line : c.trace)
        EXPECT_TRUE(in_order(trace, {line}));
}

INSTANTIATE_TEST_SUITE_P(
    Ports, Dispatch,
    ::testing::Values(
        DispatchCase{"com", "COM1", COM_PORT, 1, 1, "", {"[FLASH][open_port] Port COM1\n"}, 1},
        DispatchCase{"lower_case_usb_is_serial",
                     "usb01",
                     COM_PORT,
                     1,
                     1,
                     "",
                     {"[FLASH][open_port] Port usb01\n"},
                     1},
        DispatchCase{"usb",
                     "USB01",
                     USB_PORT,
                     0,
                     1,
                     "[Error 5] Printer OFF - portname USB01.\n",
                     {"[FLASH][open_port] Port USB01\n", "[FLASH][open_port] Printer OFF\n"},
                     0},
        DispatchCase{"lpt",
                     "LPT1",
                     LPT_PORT,
                     0,
                     1,
                     "",
                     // No parallel port here: the open fails without a trace line of its own.
                     {"[FLASH][open_port] Port LPT1\n"},
                     0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DispatchClosed, SerialPurgeOnClosedPortFails) {
    PortFixture f;
    EXPECT_EQ(purge_port(f.parts.port_troubles, f.port()), 0);
    EXPECT_EQ(write_read_port(f.parts.port_troubles, f.port(), CMD, 3, nullptr, 0), 0);
}

}  // namespace
}  // namespace vx::test
