// The printer simulator's state machine, driven the way the host drives a printer.
#include <gtest/gtest.h>

#include <numeric>

#include "printer.h"
#include "sim_serial.h"

namespace {

using vxsim::Printer;
using Bytes = std::vector<uint8_t>;

const Bytes CMD = {0x1B, 0x7D, 0x7B};

struct Host {
    Printer printer;
    uint64_t t = 0;
    explicit Host(vxsim::Config cfg) : printer(std::move(cfg), 0) {}
    void send(const Bytes& b) { printer.receive(b.data(), b.size(), t); }
    Bytes take() { return printer.take_output(t); }
    Bytes wait(uint64_t ms) {
        t += ms;
        return take();
    }
};

// Bank bytes for flash page `page`: distinct per page so a misplaced page shows.
Bytes page_bytes(uint32_t page) {
    Bytes b(vxsim::PAGE_BYTES);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(page * 31 + i * 7);
    return b;
}

Bytes bank_with_check(uint32_t first_page, uint32_t pages, int spoil = 0) {
    Bytes b;
    for (uint32_t p = 0; p < pages; ++p) {
        Bytes pg = page_bytes(first_page + p);
        b.insert(b.end(), pg.begin(), pg.end());
    }
    uint32_t sum = std::accumulate(b.begin(), b.end(), 0u);
    uint32_t check = (65536 - (sum & 0xFFFF) + spoil) & 0xFFFF;
    b.push_back(static_cast<uint8_t>(check & 0xFF));
    b.push_back(static_cast<uint8_t>(check >> 8));
    return b;
}

Bytes header_2to5(uint32_t begin, uint32_t end) {
    return {0,
            static_cast<uint8_t>(begin),
            static_cast<uint8_t>(end >> 8),
            static_cast<uint8_t>(end),
            0,
            0x56};
}

TEST(SimPrinter, AnswersTheDownloadCommandWithTheModelsSyncChar) {
    const uint8_t expected[] = {0x05, 0x16, 0x17, 0x18, 0x1A, 0x20};
    for (int model = 1; model <= 6; ++model) {
        vxsim::Config cfg;
        cfg.model = model;
        Host h(cfg);
        h.send({0x00, 0x1B});  // noise before the command does not matter
        EXPECT_TRUE(h.take().empty()) << model;
        h.send({0x7D, 0x7B});
        EXPECT_EQ(h.take(), Bytes{expected[model - 1]}) << model;
        EXPECT_EQ(h.printer.state(), Printer::State::header);
    }
}

TEST(SimPrinter, ForcedSyncAnnouncesUntilTheHostSpeaks) {
    vxsim::Config cfg;
    cfg.model = 6;
    cfg.forced_sync_ms = 100;
    Host h(cfg);
    EXPECT_EQ(h.take(), Bytes{0x20});
    EXPECT_EQ(h.wait(250), (Bytes{0x20, 0x20}));
    h.send({0x00});  // first byte of the section table
    EXPECT_TRUE(h.wait(1000).empty());
    EXPECT_EQ(h.printer.state(), Printer::State::header);
}

TEST(SimPrinter, WrongSyncCharSilentPrinterAndStrayBytes) {
    vxsim::Config wrong;
    wrong.sync_char = 0x06;
    Host a(wrong);
    a.send(CMD);
    EXPECT_EQ(a.take(), Bytes{0x06});

    vxsim::Config silent;
    silent.silent = true;
    silent.stray = {0x41, 0x42};
    Host b(silent);
    EXPECT_EQ(b.take(), (Bytes{0x41, 0x42}));  // stray bytes go out even from a silent printer
    b.send(CMD);
    EXPECT_TRUE(b.wait(20000).empty());
}

struct HeaderCase {
    int model;
    Bytes header;
    uint32_t begin, end, baud;
};

TEST(SimPrinter, ReadsTheHeaderOfEachModel) {
    const HeaderCase cases[] = {
        {1, {0x20, 0x3F, 0x66}, 32, 63, 57600},
        {3, {0x00, 0x2C, 0x01, 0x90, 0x00, 0x90}, 44, 400, 9600},
        {5, {0x00, 0x04, 0x00, 0x9B, 0x00, 0x56}, 4, 155, 115200},
        // Model 6: FW 4-11, FPGA 12-15, CG 16-20.
        {6, {0, 4, 0, 11, 0, 12, 0, 15, 0, 16, 0, 20, 0, 0x70}, 4, 20, 38400},
        // Model 6, CG only: the empty sections are all zero.
        {6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 20, 0, 0x80}, 16, 20, 19200},
    };
    for (const HeaderCase& c : cases) {
        vxsim::Config cfg;
        cfg.model = c.model;
        cfg.header_ack = 0x55;
        cfg.ready_ms = 2500;
        Host h(cfg);
        h.send(CMD);
        h.take();
        h.send(c.header);
        ASSERT_EQ(h.printer.headers().size(), 1u) << c.model;
        EXPECT_EQ(h.printer.headers()[0].begin_page, c.begin) << c.model;
        EXPECT_EQ(h.printer.headers()[0].end_page, c.end) << c.model;
        EXPECT_EQ(h.printer.headers()[0].baud, c.baud) << c.model;
        EXPECT_EQ(h.take(), Bytes{0x55});
        EXPECT_TRUE(h.wait(2499).empty());
        EXPECT_EQ(h.wait(1), Bytes{vxsim::model_sync_char(c.model)});  // the ready byte
        EXPECT_EQ(h.printer.state(), Printer::State::bank);
    }
}

TEST(SimPrinter, RefusesAHeaderItCannotUse) {
    const Bytes bad[] = {
        {0x00, 0x04, 0x00, 0x07, 0x00, 0x55},  // unknown speed code
        {0x00, 0x08, 0x00, 0x07, 0x00, 0x56},  // end below begin
    };
    for (const Bytes& hdr : bad) {
        Host h(vxsim::Config{});
        h.send(CMD);
        h.take();
        h.send(hdr);
        EXPECT_TRUE(h.printer.headers().empty());
        EXPECT_EQ(h.printer.state(), Printer::State::idle);
    }
}

struct PlanCase {
    uint32_t begin, end;
    std::vector<std::pair<uint32_t, uint32_t>> banks;  // first flash page, pages
};

// Sends the banks in the expected order; the printer only completes the download when every
// bank has the size it expects, so a wrong plan on either side shows.
TEST(SimPrinter, TakesBanksFromTheTopDownInThePlannedSizes) {
    const PlanCase cases[] = {
        {0, 3, {{0, 4}}},                    // one full bank
        {0, 5, {{4, 2}, {0, 4}}},            // short bank first: range starts at 0
        {1, 6, {{3, 4}, {1, 2}}},            // short bank last
        {8, 9, {{8, 2}}},                    // fewer than four pages
        {3, 7, {{7, 1}, {3, 4}}},            // begin + 1 is a multiple of four
        {5, 14, {{11, 4}, {7, 4}, {5, 2}}},  // two full banks, then the short one
        {32, 63, {{60, 4}, {56, 4}, {52, 4}, {48, 4}, {44, 4}, {40, 4}, {36, 4}, {32, 4}}},
    };
    for (const PlanCase& c : cases) {
        vxsim::Config cfg;
        Host h(cfg);
        h.send(CMD);
        h.send(header_2to5(c.begin, c.end));
        h.wait(3000);
        for (auto [first, pages] : c.banks) {
            h.send(bank_with_check(first, pages));
            EXPECT_EQ(h.wait(0), Bytes{0x17}) << c.begin << "-" << c.end << " bank " << first;
        }
        EXPECT_EQ(h.printer.downloads_done(), 1u) << c.begin << "-" << c.end;
        ASSERT_EQ(h.printer.flash().size(), c.end - c.begin + 1);
        for (uint32_t p = c.begin; p <= c.end; ++p)
            EXPECT_EQ(h.printer.flash().at(p), page_bytes(p)) << p;
        EXPECT_EQ(h.printer.state(), Printer::State::idle);
    }
}

TEST(SimPrinter, BadCheckBytesAskForTheBankAgainThenGiveUp) {
    vxsim::Config cfg;
    Host h(cfg);
    h.send(CMD);
    h.send(header_2to5(4, 7));
    h.wait(3000);
    h.send(bank_with_check(4, 4, 1));
    EXPECT_EQ(h.take(), Bytes{0x06});
    h.send(bank_with_check(4, 4));  // a correct resend is accepted
    EXPECT_EQ(h.take(), Bytes{0x17});
    EXPECT_EQ(h.printer.downloads_done(), 1u);

    h.send(CMD);
    h.send(header_2to5(4, 7));
    h.wait(3000);
    Bytes replies;
    for (int i = 0; i < 3; ++i) {
        h.send(bank_with_check(4, 4, 0x100));
        Bytes r = h.take();
        replies.insert(replies.end(), r.begin(), r.end());
    }
    EXPECT_EQ(replies, (Bytes{0x06, 0x06, 0x07}));
    EXPECT_EQ(h.printer.state(), Printer::State::idle);
    EXPECT_EQ(h.printer.check_failures(), 4u);
}

struct ScriptCase {
    const char* fault;
    Bytes bank1_replies;  // what the host reads after sending bank 1 once
    bool resend;          // the printer asked for bank 1 again
    uint32_t downloads;
};

TEST(SimPrinter, PlaysTheReplyScriptOfABank) {
    const ScriptCase cases[] = {
        {"1:06", {0x06}, true, 1},
        {"1:00x3,ok", {0x00, 0x00, 0x00, 0x17}, false, 1},
        {"1:03", {0x03, 0x17}, false, 1},
        {"1:20", {0x20}, false, 1},  // any model's sync char acknowledges
        {"1:07", {0x07}, false, 0},
        {"1:01", {0x01}, false, 0},
        {"1+:silence", {}, false, 0},
        {"1:lost", {}, false, 1},    // programmed, but the host hears nothing
        {"5:07", {0x17}, false, 1},  // no bank 5 in this download
    };
    for (const ScriptCase& c : cases) {
        vxsim::Config cfg;
        cfg.program_ms = 100;
        cfg.reply_gap_ms = 10;
        vxsim::BankFault f;
        std::string err;
        ASSERT_TRUE(vxsim::parse_fault(c.fault, f, err)) << c.fault << ": " << err;
        cfg.faults.push_back(f);
        Host h(cfg);
        h.send(CMD);
        h.send(header_2to5(4, 11));
        h.wait(3000);
        h.send(bank_with_check(8, 4));
        EXPECT_TRUE(h.wait(99).empty()) << c.fault;  // programming time first
        EXPECT_EQ(h.wait(1), Bytes{0x17}) << c.fault;
        h.send(bank_with_check(4, 4));
        EXPECT_EQ(h.wait(1000), c.bank1_replies) << c.fault;
        if (c.resend) {
            h.send(bank_with_check(4, 4));
            EXPECT_EQ(h.wait(1000), Bytes{0x17}) << c.fault;
            EXPECT_EQ(h.printer.page_writes().at(4), 1u);
        }
        EXPECT_EQ(h.printer.downloads_done(), c.downloads) << c.fault;
    }
}

TEST(SimPrinter, ReturnsToIdleAfterADownloadOrAStall) {
    vxsim::Config cfg;
    cfg.model = 1;
    cfg.forced_sync_ms = 200;
    Host h(cfg);
    h.take();
    h.send({0, 1, 0x56});
    h.wait(3000);
    h.send(bank_with_check(0, 2));
    EXPECT_EQ(h.take(), Bytes{0x05});
    EXPECT_EQ(h.printer.state(), Printer::State::announcing);  // announces itself again
    EXPECT_EQ(h.wait(600), (Bytes{0x05, 0x05, 0x05}));

    vxsim::Config plain;
    plain.stall_ms = 5000;
    Host s(plain);
    s.send(CMD);
    s.send({0x00, 0x04});  // half a header, then nothing
    s.wait(5001);
    EXPECT_EQ(s.printer.state(), Printer::State::idle);
    s.send(CMD);
    EXPECT_EQ(s.take(), Bytes{0x17});
}

TEST(SimPrinter, ParsesFaultRecipes) {
    struct Case {
        const char* recipe;
        bool ok;
        uint32_t bank;
        bool later;
        size_t steps;
    };
    const Case cases[] = {
        {"2:06", true, 2, false, 1},        {"1:00x3,ok", true, 1, false, 4},
        {"0:0x07", true, 0, false, 1},      {"3+:silence", true, 3, true, 1},
        {"0:0x00x2,03", true, 0, false, 3}, {"", false, 0, false, 0},
        {"2", false, 0, false, 0},          {"x:06", false, 0, false, 0},
        {"1:", false, 0, false, 0},         {"1:100", false, 0, false, 0},
        {"1:zz", false, 0, false, 0},       {"1:06x", false, 0, false, 0},
        {"-1:06", false, 0, false, 0},      {"0:lost,ok", true, 0, false, 2},
    };
    for (const Case& c : cases) {
        vxsim::BankFault f;
        std::string err;
        EXPECT_EQ(vxsim::parse_fault(c.recipe, f, err), c.ok) << c.recipe;
        if (!c.ok) {
            EXPECT_FALSE(err.empty()) << c.recipe;
            continue;
        }
        EXPECT_EQ(f.bank, c.bank) << c.recipe;
        EXPECT_EQ(f.and_later, c.later) << c.recipe;
        EXPECT_EQ(f.steps.size(), c.steps) << c.recipe;
    }
}

TEST(SimPrinter, CutsABankShortAfterItsBytes) {
    struct Case {
        const char* text;
        vxsim::BankCut::Action action;
        Bytes sent;  // what the host reads after sending bank 1 whole
        bool hung_up;
    };
    const Case cases[] = {
        {"1:5000", vxsim::BankCut::hang_up, {}, true},
        {"1:5000", vxsim::BankCut::reset, {0xFF, 0x00, 0x55, 0xAA}, false},
        {"1:1:41,0x42", vxsim::BankCut::reset, {0x41, 0x42}, false},
        {"1:65536", vxsim::BankCut::hang_up, {}, true},   // the last data byte, before the check
        {"2:1", vxsim::BankCut::hang_up, {0x17}, false},  // no bank 2 in this download
        {"1:5000", vxsim::BankCut::stall, {}, false},     // takes nothing more, line still up
    };
    for (const Case& c : cases) {
        vxsim::Config cfg;
        vxsim::BankCut cut;
        std::string err;
        ASSERT_TRUE(vxsim::parse_bank_cut(c.text, c.action, cut, err)) << c.text << ": " << err;
        cfg.cut = cut;
        Host h(cfg);
        h.send(CMD);
        h.send(header_2to5(4, 11));
        h.wait(3000);
        h.send(bank_with_check(8, 4));
        EXPECT_EQ(h.take(), Bytes{0x17}) << c.text;
        h.send(bank_with_check(4, 4));
        EXPECT_EQ(h.wait(1000), c.sent) << c.text;
        EXPECT_EQ(h.printer.hung_up(), c.hung_up) << c.text;
        EXPECT_EQ(h.printer.stalled(), c.action == vxsim::BankCut::stall) << c.text;
        // Only the first bank was programmed, and a cut printer stays quiet.
        EXPECT_EQ(h.printer.flash().size(), c.sent == Bytes{0x17} ? 8u : 4u) << c.text;
        h.send(CMD);
        EXPECT_EQ(h.wait(100).empty(), c.sent != Bytes{0x17}) << c.text;
    }

    const char* refused[][2] = {{"1", "hang"},       {"1:0", "hang"},   {"x:5", "hang"},
                                {"1:5:ff", "hang"},  {"1:5:", "reset"}, {"1:5:zz", "reset"},
                                {"1:5:100", "reset"}};
    for (auto [text, kind] : refused) {
        vxsim::BankCut cut;
        std::string err;
        const auto action =
            std::string(kind) == "reset" ? vxsim::BankCut::reset : vxsim::BankCut::hang_up;
        EXPECT_FALSE(vxsim::parse_bank_cut(text, action, cut, err)) << text;
        EXPECT_FALSE(err.empty()) << text;
    }
}

// The in-process adapter plays the Windows read time-out rule on the fake clock.
TEST(SimSerial, ReadTimeOutsRunOnTheFakeClock) {
    vx::test::FakeClock clock;
    vxsim::Config cfg;
    cfg.program_ms = 1500;
    cfg.header_ack = 0x17;
    vxsim::Printer printer(cfg, 0);
    vx::test::SimSerialDevice dev(clock, printer);
    dev.set_read_timeouts({2000, 2000, 2000});
    uint8_t buf[4] = {};
    uint32_t got = 0, written = 0;

    ASSERT_TRUE(dev.read(buf, 1, got));  // nothing comes: (1 + 1) x 2000 ms
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(clock.now, 4000u);

    dev.write(CMD.data(), 3, written);
    ASSERT_TRUE(dev.read(buf, 4, got));  // one byte, then the interval rule ends the read
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buf[0], 0x17);
    EXPECT_EQ(clock.now, 6000u);

    Bytes hdr = header_2to5(4, 7);
    dev.write(hdr.data(), static_cast<uint32_t>(hdr.size()), written);
    clock.sleep_ms(2000);
    dev.purge();  // drops the header acknowledgement; the ready byte is still to come
    ASSERT_TRUE(dev.read(buf, 1, got));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(clock.now, 8500u);

    Bytes bank = bank_with_check(4, 4);
    dev.write(bank.data(), static_cast<uint32_t>(bank.size()), written);
    ASSERT_TRUE(dev.read(buf, 1, got));  // the reply after the programming time
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buf[0], 0x17);
    EXPECT_EQ(clock.now, 10000u);
    EXPECT_EQ(printer.downloads_done(), 1u);
}

// ---- commands outside the download ----

const Bytes RELEASE_REQUEST = {0x1B, 0x20, 0x62};
const Bytes EMULATION_QUERY = {0x1B, 0x5B, 0x63, 0x04, 0x00, 0x01, 0xC5, 0x01, 0x01};
const Bytes EMULATION_FINAL = {0x1B, 0x5B, 0x63, 0x08, 0x00, 0x01, 0xC6,
                               0x1B, 0x7D, 0x20, 0x34, 0x01, 0x01};

struct ReleaseCase {
    vxsim::ReleaseAnswer answer;
    Bytes expected;
};

TEST(SimPrinter, AnswersTheReleaseRequestAsConfigured) {
    vxsim::ReleaseAnswer text;
    text.release = "1.05;A01;";
    vxsim::ReleaseAnswer raw;
    raw.kind = vxsim::ReleaseAnswer::raw;
    raw.bytes = {0x02, 0x03};
    vxsim::ReleaseAnswer silent;
    silent.kind = vxsim::ReleaseAnswer::silence;
    const ReleaseCase cases[] = {
        {text, {0x02, 0x20, '1', '.', '0', '5', ';', 'A', '0', '1', ';', 0x20, 0x03}},
        {raw, {0x02, 0x03}},
        {silent, {}}};
    for (const ReleaseCase& c : cases) {
        vxsim::Config cfg;
        cfg.release = c.answer;
        Host h(cfg);
        // Split across two deliveries, after a stray byte: still one request.
        h.send({0x00, 0x1B});
        h.send({0x20, 0x62});
        EXPECT_EQ(h.take(), c.expected);
        EXPECT_EQ(h.printer.release_requests(), 1u);
        h.send({0x1B, 0x6C, 0x1B, 0x6E});
        EXPECT_EQ(h.printer.closing_commands(), 1u);
        EXPECT_EQ(h.printer.state(), Printer::State::idle);
    }
}

TEST(SimPrinter, ActiveEmulationKeepsTheDownloadCommandOut) {
    vxsim::Config cfg;
    cfg.emulation.present = true;
    Host h(cfg);
    h.printer.set_rts(true);
    h.send(EMULATION_QUERY);
    EXPECT_EQ(h.take(), (Bytes{0x1B, 0x5B, 0x63, 0x0B, 0x00, 0x01, 0xA2, 0x01}));
    h.send(CMD);
    EXPECT_TRUE(h.wait(1000).empty());
    h.printer.set_rts(false);
    h.send(EMULATION_FINAL);
    EXPECT_EQ(h.take(), (Bytes{0x1B, 0x5B, 0x63, 0x0A, 0x00, 0x01, 0xC2, 0x01}));
    h.send(CMD);
    EXPECT_EQ(h.take(), Bytes{0x17});
    EXPECT_EQ(h.printer.state(), Printer::State::header);
}

// A command cut short (a host that gave up half way) does not swallow the next one.
TEST(SimPrinter, IncompleteCommandIsDropped) {
    vxsim::Config cfg;
    cfg.emulation.present = true;
    Host h(cfg);
    h.send({0x1B, 0x5B, 0x63, 0x04, 0x00, 0x01});
    h.t += 500;
    h.send(EMULATION_QUERY);
    EXPECT_EQ(h.take().size(), 8u);
    bool dropped = false;
    for (const auto& e : h.printer.transcript())
        dropped = dropped || e.text == "incomplete command dropped: 1b 5b 63 04 00 01";
    EXPECT_TRUE(dropped);
}

}  // namespace
