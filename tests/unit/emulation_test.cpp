// The emulation switch-off: its command texts, then the dialogue against the simulated
// printer (which notes RTS at every command) and against scripted replies and failing lines.
#include "protocol/emulation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session_fixture.h"
#include "sim_fixture.h"

namespace vx::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes command(uint8_t length, const Bytes& payload) {
    Bytes b = {0x1B, 0x5B, 0x63, length, 0x00};
    for (uint8_t x : payload)
        b.push_back(x);
    return b;
}
const Bytes OPENING = command(4, {0x01, 0xCC, 0x01, 0x01});
const Bytes QUERY = command(4, {0x01, 0xC5, 0x01, 0x01});
Bytes setting(uint8_t code) {
    return command(4, {0x01, code, 0x01, 0x01});
}
Bytes final_command(uint8_t code) {
    return command(8, {0x01, code, 0x1B, 0x7D, 0x20, 0x34, 0x01, 0x01});
}
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// ---- command texts ----

TEST(EmulationCommand, EverySettingGivesAHexDigit) {
    for (int value = 0; value < 256; ++value) {
        const std::string text = emulation_command(EMULATION_STATE_QUERY, uint8_t(value));
        ASSERT_EQ(text.size(), std::string(EMULATION_STATE_QUERY).size());
        EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
        EXPECT_EQ(text[12], "0123456789abcdef"[value >> 4]);
        EXPECT_EQ(text.substr(0, 12) + text.substr(13),
                  "1b5b63040001"
                  "50101");
    }
}

struct CommandCase {
    const char* base;
    uint8_t setting;
    const char* text;
};

class EmulationCommandTable : public ::testing::TestWithParam<CommandCase> {};

TEST_P(EmulationCommandTable, Table) {
    EXPECT_EQ(emulation_command(GetParam().base, GetParam().setting), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EmulationCommandTable,
    ::testing::Values(CommandCase{EMULATION_STATE_QUERY, 0xE2, "1b5b63040001e50101"},
                      CommandCase{EMULATION_STATE_QUERY, 0x52, "1b5b63040001550101"},
                      CommandCase{EMULATION_STATE_QUERY, 0x0F, "1b5b63040001050101"},
                      CommandCase{EMULATION_FINAL, 0xC2, "1b5b63080001c61b7d20340101"},
                      CommandCase{EMULATION_FINAL, 0x72, "1b5b63080001761b7d20340101"},
                      CommandCase{"1b5b6304", 0xFF, "1b5b6304"},  // too short: unchanged
                      CommandCase{nullptr, 0xFF, ""}));

TEST(EmulationState, OnlyFourStatesMeanActive) {
    std::vector<int> active;
    for (int s = 0; s < 256; ++s) {
        if (emulation_active(uint8_t(s)))
            active.push_back(s);
    }
    EXPECT_EQ(active, (std::vector<int>{0x09, 0x0B, 0x0D, 0x0F}));
}

// ---- the dialogue against the simulated printer ----

vxsim::Config with_emulation(uint8_t state, uint8_t setting_byte) {
    vxsim::Config cfg;
    cfg.emulation.present = true;
    cfg.emulation.state = state;
    cfg.emulation.setting = setting_byte;
    return cfg;
}

struct DialogueCase {
    const char* name;
    vxsim::Config cfg;
    Bytes wire;                       // every byte the printer receives
    std::vector<std::string> events;  // the printer's emulation events, in order
    uint8_t state_after;
};

class Dialogue : public ::testing::TestWithParam<DialogueCase> {};

TEST_P(Dialogue, Table) {
    const DialogueCase& c = GetParam();
    SimFixture f(c.cfg);
    f.open();
    EXPECT_TRUE(disable_4722_emulation(f.report, f.port()));
    EXPECT_EQ(f.received(), c.wire);
    std::vector<std::string> events;
    for (const std::string& e : f.events()) {
        if (e.find("emulation") != std::string::npos)
            events.push_back(e);
    }
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(f.printer.emulation().state, c.state_after);
    EXPECT_EQ(f.trace(), "");  // no failure, nothing to say
}

INSTANTIATE_TEST_SUITE_P(
    Printers, Dialogue,
    ::testing::Values(
        // 0xA2 | 0x40 is 0xE2: both setting commands carry E5; the flip of 0x20 gives C6.
        DialogueCase{
            "active_a2",
            with_emulation(0x0B, 0xA2),
            concat({OPENING, QUERY, setting(0xE5), setting(0xE5), final_command(0xC6)}),
            {"emulation opening command (RTS off) state=0x0b setting=0xa2",
             "emulation state query (RTS on) state=0x0b setting=0xa2",
             "emulation setting command 0xe5 (RTS on) state=0x0b setting=0xe2",
             "emulation setting command 0xe5 (RTS on) state=0x0b setting=0xe2",
             "emulation final command 0xc6, emulation off (RTS off) state=0x0a setting=0xc2"},
            0x0A},
        // Upper digits below 10 are sent as digits: 0x12 | 0x40 = 0x52 gives 55, the flip 76.
        DialogueCase{
            "active_low_digit",
            with_emulation(0x0D, 0x12),
            concat({OPENING, QUERY, setting(0x55), setting(0x55), final_command(0x76)}),
            {"emulation opening command (RTS off) state=0x0d setting=0x12",
             "emulation state query (RTS on) state=0x0d setting=0x12",
             "emulation setting command 0x55 (RTS on) state=0x0d setting=0x52",
             "emulation setting command 0x55 (RTS on) state=0x0d setting=0x52",
             "emulation final command 0x76, emulation off (RTS off) state=0x0c setting=0x72"},
            0x0C},
        DialogueCase{"absent",
                     vxsim::Config{},
                     concat({OPENING, QUERY}),
                     {"emulation command ignored, no emulation (RTS off): 1b 5b 63 04 00 01 cc "
                      "01 01",
                      "emulation command ignored, no emulation (RTS on): 1b 5b 63 04 00 01 c5 "
                      "01 01"},
                     0x0B}),
    [](const auto& info) { return std::string(info.param.name); });

// A state that never says "active": one hundred state queries (never the previous reply as a
// command), then nothing more.
TEST(DialogueInactive, PollsOneHundredTimes) {
    SimFixture f(with_emulation(0x08, 0xA2));
    f.open();
    EXPECT_TRUE(disable_4722_emulation(f.report, f.port()));
    Bytes wire = OPENING;
    for (int i = 0; i < EMULATION_POLL_ATTEMPTS; ++i)
        wire.insert(wire.end(), QUERY.begin(), QUERY.end());
    EXPECT_EQ(f.received(), wire);
}

// With the emulation active the printer ignores the download command; the switch-off lets
// the detection through.
TEST(DialogueDetect, DownloadModeOnlyAfterTheSwitchOff) {
    for (int ibm_emulation : {0, 1}) {
        SimFixture f(with_emulation(0x0B, 0xA2));
        f.config.ibm_emulation = ibm_emulation;
        f.open();
        EXPECT_EQ(detect_printer_model(f.run, f.port()).outcome,
                  ibm_emulation ? DetectOutcome::detected : DetectOutcome::no_answer)
            << ibm_emulation;
    }
}

// ---- scripted replies and failing lines ----

Bytes reply(uint8_t state, uint8_t setting_byte) {
    return {0x1B, 0x5B, 0x63, state, 0x00, 0x01, setting_byte, 0x01};
}

// The next command is built from the latest stored reply; a silent exchange keeps the last.
TEST(DialogueScripted, SettingComesFromTheLatestReply) {
    PortSession f(false);
    FakeSerialDevice& dev = f.open();
    std::vector<Bytes> replies = {{}, reply(0x09, 0xA2), reply(0x09, 0x31), {}, {}};
    size_t exchange = 0;
    dev.on_write = [&](FakeSerialDevice& d, const uint8_t*, uint32_t) {
        const Bytes& r = replies.at(exchange++);
        d.incoming.insert(d.incoming.end(), r.begin(), r.end());
    };
    EXPECT_TRUE(disable_4722_emulation(f.report, f.port()));
    // 0x31 | 0x40 = 0x71; the silent second setting leaves 0x71; 0x71 ^ 0x20 = 0x51.
    EXPECT_EQ(dev.written,
              concat({OPENING, QUERY, setting(0xE5), setting(0x75), final_command(0x56)}));
    EXPECT_FALSE(dev.rts);
    EXPECT_TRUE(dev.dtr);
}

// A first chunk of fewer than 8 bytes is no reply: the emulation counts as absent.
TEST(DialogueScripted, ShortReplyIsNoReply) {
    PortSession f(false);
    FakeSerialDevice& dev = f.open();
    dev.on_write = [](FakeSerialDevice& d, const uint8_t*, uint32_t) {
        for (uint8_t b : {0x1B, 0x5B, 0x63, 0x0B, 0x00})
            d.incoming.push_back(b);
    };
    EXPECT_TRUE(disable_4722_emulation(f.report, f.port()));
    EXPECT_EQ(dev.written, concat({OPENING, QUERY}));
}

struct LineFailure {
    const char* name;
    int failing_call;  // set_modem_line calls: CLRRTS, SETDTR, SETRTS, CLRRTS, ...
    int result;
    std::string trace;
    Bytes written;
};

class DialogueLines : public ::testing::TestWithParam<LineFailure> {};

TEST_P(DialogueLines, Table) {
    const LineFailure& c = GetParam();
    PortSession f;
    FakeSerialDevice& dev = f.open();
    dev.line_call_fails = {c.failing_call};
    dev.on_write = [](FakeSerialDevice& d, const uint8_t*, uint32_t) {
        const Bytes r = reply(0x0B, 0xA2);
        d.incoming.insert(d.incoming.end(), r.begin(), r.end());
    };
    EXPECT_EQ(disable_4722_emulation(f.report, f.port()), c.result == 1);
    EXPECT_EQ(f.trace(), c.trace);
    EXPECT_EQ(dev.written, c.written);
}

const std::string CLRRTS = "[FLASH][disable_4722_emulation] EscapeCommFunction CLRRTS Error!\n";
const std::string SETRTS = "[FLASH][disable_4722_emulation] EscapeCommFunction SETRTS Error!\n";

INSTANTIATE_TEST_SUITE_P(
    Failures, DialogueLines,
    ::testing::Values(
        LineFailure{"first_clrrts", 0, 0, CLRRTS, {}},
        LineFailure{"setdtr",
                    1,
                    0,
                    "[FLASH][disable_4722_emulation] EscapeCommFunction SETDTR Error!\n",
                    {}},
        LineFailure{"poll_setrts", 2, 1, SETRTS, OPENING},
        LineFailure{"poll_clrrts", 3, 1, CLRRTS, concat({OPENING, QUERY})},
        LineFailure{"setting_setrts", 4, 1, SETRTS, concat({OPENING, QUERY})},
        LineFailure{"second_setting_clrrts", 7, 1, CLRRTS,
                    concat({OPENING, QUERY, setting(0xE5), setting(0xE5)})},
        // The script answers 0xA2 every time: 0xA2 ^ 0x20 = 0x82.
        LineFailure{"final_clrrts", 8, 1, CLRRTS,
                    concat({OPENING, QUERY, setting(0xE5), setting(0xE5), final_command(0x86)})}),
    [](const auto& info) { return std::string(info.param.name); });

// Not a serial line: nothing to drive, nothing sent.
TEST(DialogueUsb, NoModemLinesNoDialogue) {
    PortSession f;
    f.port_settings = {"USB01", PortKind::usb, {}};
    EXPECT_FALSE(disable_4722_emulation(f.report, f.port()));
    EXPECT_TRUE(in_order(f.trace(), {CLRRTS}));
}

}  // namespace
}  // namespace vx::test
