// The bank transfer over each port kind, against the in-process printer simulator: a serial
// fake whose far end is the simulator, or the simulator's USB session. Tables have a row per
// port kind where the kinds share the behaviour, and say in the row what differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "download_fixture.h"
#include "printer.h"
#include "protocol/bank_transfer.h"
#include "sim_usb.h"
#include "usb_session.h"

namespace vx::test {
namespace {

using Bytes = std::vector<uint8_t>;
enum class Kind { serial, usb };

const std::string COM = "[Cls_flash][download_com] ";
const std::string USB = "[Cls_flash][download_usb] ";
const std::string REPLY = "[FLASH][check_reply] ";

constexpr uint64_t bank_bytes(uint64_t pages) {
    return pages * PAGE_SIZE + 2;
}

// Table rows print as their names in failure reports.
void PrintTo(Kind kind, std::ostream* os) {
    *os << (kind == Kind::serial ? "serial" : "usb");
}
template <typename Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// The printer's reply bytes to a bank, before its own acknowledgement.
vxsim::BankFault replies(uint32_t bank, const Bytes& bytes) {
    vxsim::BankFault fault{bank, false, {}};
    for (uint8_t b : bytes)
        fault.steps.push_back({vxsim::ReplyStep::byte, b});
    return fault;
}

struct PipeHooks {
    std::function<void()> after_write;
    bool cut = false;  // USB: every write completes one byte short
};

// The simulator's USB session behind a pipe that can turn short.
class HookedUsbDevice : public SimUsbDevice {
public:
    HookedUsbDevice(FakeClock& clock, vxsim::UsbSession& session, PipeHooks& hooks)
        : SimUsbDevice(clock, session), hooks_(hooks) {}
    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written,
                   uint32_t timeout_ms) override {
        if (hooks_.cut) {
            written = length - 1;
            return 0;
        }
        const uint32_t error = SimUsbDevice::write(data, length, written, timeout_ms);
        hooks_.after_write();
        return error;
    }

private:
    PipeHooks& hooks_;
};

// The view records whether the trace already ended when the end texts appear.
class EndOrderView : public RecordingMainView {
public:
    std::function<bool()> trace_ended;
    bool end_after_trace = false;
    void printer_status(const char* t) override {
        end_after_trace |= std::string(t) == "finished" && trace_ended();
        RecordingMainView::printer_status(t);
    }
};

class TransferHarness : public ProtocolTest {
protected:
    Kind kind = Kind::serial;
    vxsim::Config sim_cfg;
    vxsim::UsbConfig usb_cfg;
    std::unique_ptr<vxsim::Printer> sim;
    std::unique_ptr<vxsim::UsbSession> session;
    PipeHooks hooks;
    EndOrderView shown;
    // Once the printer has this many bank bytes the line takes no more, or the user asks to
    // stop.
    uint64_t cut_at = UINT64_MAX, stop_at = UINT64_MAX;
    bool armed = false;  // the printer took the header

    void SetUp() override {
        ProtocolTest::SetUp();
        printer = [this](FakeSerialDevice&, const uint8_t* p, uint32_t n) {
            if (sim != nullptr)
                sim->receive(p, n, fp.clock.now);
            hooks.after_write();
        };
        hooks.after_write = [this] { check_triggers(); };
        shown.trace_ended = [this] {
            const auto lines = trace();
            return !lines.empty() && lines.back().ends_with("END\n");
        };
        fp.usb.make = [this](const UsbPrinterInfo&) -> std::unique_ptr<UsbDevice> {
            return std::make_unique<HookedUsbDevice>(fp.clock, *session, hooks);
        };
        std::strcpy(config.fw_filename, "image.bin");
        config.send_baud = 115200;
    }

    // A port left open closes onto the printer and the hooks, before they go.
    void TearDown() override { backend.reset(); }

    void use(Kind k, int model = VX3PLUS_CR_MODEL) {
        backend.reset();
        kind = k;
        std::strcpy(config.port_name, k == Kind::serial ? "COM1" : "USB01");
        config.port_type = k == Kind::serial ? COM_PORT : USB_PORT;
        parts.session.printer_model = model;
        sim_cfg.model = model;
        sim_cfg.header_ack = vxsim::model_sync_char(model);
        sim_cfg.stall_ms = 0;
    }
    const std::string& tag() const { return kind == Kind::serial ? COM : USB; }

    // Image page j is filled with the byte j + 1, so a page in flash names its origin.
    void write_image(size_t pages, size_t extra_bytes = 0) {
        std::string bytes;
        for (size_t j = 0; j < pages; ++j)
            bytes.append(PAGE_SIZE, char(j + 1));
        bytes.append(extra_bytes, '\x55');
        dir.write("image.bin", bytes);
    }

    void range(uint32_t begin, uint32_t end, uint32_t offset = 0) {
        parts.session.begin_page = begin;
        parts.session.end_page = end;
        parts.session.offset_page = offset;
    }

    // The printer in download mode with the header taken, as the procedure leaves it.
    void start_printer() {
        armed = false;
        stop_requested = false;
        sim = std::make_unique<vxsim::Printer>(sim_cfg, fp.clock.now);
        if (kind == Kind::usb) {
            session = std::make_unique<vxsim::UsbSession>(*sim, usb_cfg);
            if (fp.usb.devices.empty())
                fp.usb.devices.push_back({"sim", "USB\\VID_7A1E&PID_0030&REV_0100", true, 1});
        }
        ASSERT_EQ(open_port(opening(), port(), true), 1);
        if (kind == Kind::serial)
            serial_far_end(*fp.serial.last);
        // The download command, then the range (a byte a page number on the VX3E, eight more
        // bytes of sections on the ADF) and the speed.
        const uint32_t b = parts.session.begin_page, e = parts.session.end_page;
        Bytes header = {0x1B, 0x7D, 0x7B, uint8_t(b >> 8), uint8_t(b), uint8_t(e >> 8), uint8_t(e)};
        if (sim_cfg.model == VX3E_MODEL)
            header = {0x1B, 0x7D, 0x7B, uint8_t(b), uint8_t(e)};
        header.insert(header.end(), sim_cfg.model == KD5_ADF_L2_MODEL ? 8 : 0, 0);
        header.insert(header.end(), sim_cfg.model == VX3E_MODEL ? 0 : 1, 0);
        header.push_back(0x56);
        if (kind == Kind::usb)
            session->write(header.data(), header.size(), fp.clock.now);
        else
            sim->receive(header.data(), header.size(), fp.clock.now);
        // The header's acknowledgement and the ready byte are the header step's to read.
        fp.clock.now += 3000;
        (kind == Kind::usb) ? session->take_output(fp.clock.now) : sim->take_output(fp.clock.now);
        write_calls.clear();
        armed = true;
        check_triggers();
    }

    // The serial fake plays the simulator: a read waits on the clock for what it sends, as
    // far as the read's time-outs allow; a purge drops what it sent so far.
    void serial_far_end(FakeSerialDevice& dev) {
        dev.on_read = [this](FakeSerialDevice& d, uint32_t length) {
            const uint64_t deadline =
                fp.clock.now + uint64_t(d.timeouts.multiplier) * length + d.timeouts.constant;
            for (;;) {
                for (uint8_t byte : sim->take_output(fp.clock.now))
                    d.incoming.push_back(byte);
                const auto due = sim->next_due();
                if (d.incoming.size() >= length || !due || *due > deadline)
                    return;
                fp.clock.now = std::max(fp.clock.now, *due);
            }
        };
        dev.on_purge = [this](FakeSerialDevice&) { sim->take_output(fp.clock.now); };
    }

    void check_triggers() {
        if (armed && printer_got() >= cut_at) {
            if (kind == Kind::serial)
                fp.serial.last->write_fails = true;
            hooks.cut = kind == Kind::usb;
        }
        if (armed && printer_got() >= stop_at)
            stop_requested = true;
    }

    TransferResult run(const char* tag_text = nullptr) {
        return download_image(protocol(), report_on(shown), port(), tag_text);
    }

    // Bank bytes the printer received, check bytes and resends included.
    uint64_t printer_got() const {
        return sim->downloads().empty() ? 0 : sim->downloads().back().data_bytes;
    }

    // Flash page p holds image page p - shift.
    void expect_pages(uint32_t first, uint32_t last, uint32_t shift) {
        ASSERT_EQ(sim->flash().size(), size_t(last - first + 1));
        for (uint32_t p = first; p <= last; ++p) {
            ASSERT_TRUE(sim->flash().count(p)) << p;
            EXPECT_EQ(sim->flash().at(p), Bytes(PAGE_SIZE, uint8_t(p - shift + 1))) << p;
        }
    }

    size_t trace_starting(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& l : trace())
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
};

// A table whose every row runs over each port kind.
template <typename Case>
class TransferTable : public TransferHarness,
                      public ::testing::WithParamInterface<std::tuple<Kind, Case>> {
protected:
    const Case& row() const { return std::get<1>(this->GetParam()); }
    void SetUp() override {
        TransferHarness::SetUp();
        use(std::get<0>(this->GetParam()));
    }
};

template <typename Case>
std::string kind_and_name(const ::testing::TestParamInfo<std::tuple<Kind, Case>>& info) {
    return std::string(std::get<0>(info.param) == Kind::serial ? "serial_" : "usb_") +
           std::get<1>(info.param).name;
}

// ---- The bank plan: which image page lands where, and what the wire and the bars see ----

struct PlanCase {
    const char* name;
    uint32_t begin, end, offset;
    size_t file_pages;
    uint32_t banks;
    std::vector<std::string> page_steps;  // the page bar's step changes
    vxsim::BankFault fault;               // the printer asks for a bank again
    uint32_t resent_pages;
};

using TransferPlan = TransferTable<PlanCase>;

TEST_P(TransferPlan, BanksFromTheTopDownArriveWhole) {
    const PlanCase& c = row();
    sim_cfg.faults = {c.fault};
    write_image(c.file_pages);
    range(c.begin, c.end, c.offset);
    start_printer();
    const TransferResult r = run();
    ASSERT_EQ(r.outcome, TransferOutcome::completed);
    EXPECT_EQ(r.banks_sent, c.banks);
    EXPECT_EQ(r.banks, c.banks);
    // The printer plans its banks itself: a bank out of order or of the wrong size, or a
    // resend that is not the same bank, lands on the wrong pages or fails its check.
    expect_pages(c.begin, c.end, c.begin - c.offset);
    EXPECT_EQ(sim->downloads_done(), 1u);
    EXPECT_EQ(sim->check_failures(), 0u);
    const uint32_t pages = c.end - c.begin + 1;
    const uint64_t resent = c.resent_pages != 0 ? bank_bytes(c.resent_pages) : 0;
    EXPECT_EQ(printer_got(), uint64_t(pages) * PAGE_SIZE + 2 * c.banks + resent);
    EXPECT_EQ(trace_count(tag() + "RESEND BANK (" + std::to_string(resent) + " bytes)\n"),
              resent != 0 ? 1u : 0u);
    std::vector<std::string> steps;
    for (const auto& e : shown.pages_log) {
        if (e.rfind("step ", 0) == 0)
            steps.push_back(e);
    }
    EXPECT_EQ(steps, c.page_steps);
    // The bank bar moves every 2048 bytes on a serial line, once per page on USB; the page
    // bar once per bank.
    const size_t bank_steps = kind == Kind::serial ? 8 : 1;
    EXPECT_EQ(size_t(std::count(shown.bank_log.begin(), shown.bank_log.end(), "stepit 0 0")),
              bank_steps * pages);
    EXPECT_EQ(size_t(std::count(shown.pages_log.begin(), shown.pages_log.end(), "stepit 0 0")),
              c.banks);
    EXPECT_FALSE(port_open());
    if (kind == Kind::serial) {
        // One write a byte, so that the printer paces the line; a resend in one write.
        EXPECT_EQ(write_calls.size(), printer_got() - resent + (resent != 0));
        EXPECT_EQ(std::count_if(write_calls.begin(), write_calls.end(),
                                [](const Bytes& w) { return w.size() != 1; }),
                  resent != 0);
        EXPECT_FALSE(shown.end_after_trace);
    } else {
        const auto& sizes = session->data_write_sizes();
        EXPECT_EQ(size_t(std::count(sizes.begin(), sizes.end(), 4096)), 4 * pages);
        EXPECT_EQ(sizes.size(), 4 * pages + (resent != 0));
        EXPECT_EQ(session->closes(), 1u);  // the close byte after the acknowledged open
        EXPECT_TRUE(shown.end_after_trace);
    }
    // The start and end texts; only a serial line shows its speed.
    const bool serial = kind == Kind::serial;
    const std::vector<std::string> speed_shown = {"line 115200", "done"};
    EXPECT_EQ(shown.texts_of(Field::connection),
              serial ? speed_shown : std::vector<std::string>{" "});
    EXPECT_EQ(shown.texts_of(Field::pc_status).front(), "file image.bin");
    EXPECT_EQ(shown.texts[Field::model], "VX3Plus_:");
    EXPECT_EQ(shown.texts[Field::first_page], "first " + std::to_string(c.begin));
    EXPECT_EQ(shown.texts[Field::last_page], "last " + std::to_string(c.end));
    std::vector<std::pair<Field, std::string>> end = {
        {Field::printer_status, "ready"}, {Field::pc_status, "sent"},
        {Field::connection, "done"},      {Field::printer_status, "finished"},
        {Field::printer_status, "ready"}, {Field::reply, ""}};
    if (!serial)
        end.erase(end.begin() + 2);
    ASSERT_GE(shown.text_log.size(), end.size());
    EXPECT_TRUE(std::equal(end.rbegin(), end.rend(), shown.text_log.rbegin()));
}

const std::vector<std::string> kSixFrom0 = {"step 2 0", "step 4 0"};

INSTANTIATE_TEST_SUITE_P(
    Plans, TransferPlan,
    ::testing::Combine(
        ::testing::Values(Kind::serial, Kind::usb),
        ::testing::Values(
            PlanCase{"four_from_0", 0, 3, 0, 4, 1, {}, {}, 0},
            PlanCase{"eight_from_4", 4, 11, 0, 8, 2, {}, {}, 0},
            PlanCase{"six_from_0", 0, 5, 0, 6, 2, kSixFrom0, {}, 0},
            PlanCase{"six_from_1", 1, 6, 0, 6, 2, {"step 2 0"}, {}, 0},
            PlanCase{"two", 10, 11, 0, 2, 1, {}, {}, 0},
            PlanCase{"offset_two", 16, 20, 2, 8, 2, {"step 1 0"}, {}, 0},
            PlanCase{"resend_full_bank", 0, 3, 0, 4, 1, {}, replies(0, {6, 0}), 4},
            PlanCase{"resend_partial_first", 0, 5, 0, 6, 2, kSixFrom0, replies(0, {6}), 2},
            PlanCase{"resend_second_bank", 0, 5, 0, 6, 2, kSixFrom0, replies(1, {6}), 4})),
    kind_and_name<PlanCase>);

// ---- The printer's reply byte ----

struct ReplyCase {
    const char* name;
    Bytes replies;
    TransferOutcome outcome;
    std::vector<std::string> lines;  // check_reply class lines, in order
};

using TransferReply = TransferTable<ReplyCase>;

TEST_P(TransferReply, ClassifiesThePrinterReply) {
    const ReplyCase& c = row();
    sim_cfg.faults = {replies(0, c.replies)};
    sim_cfg.reply_gap_ms = 0;  // on USB, every reply byte in one IN transfer
    write_image(1);
    range(0, 0);
    start_printer();
    const TransferResult r = run();
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.banks_sent, c.outcome == TransferOutcome::completed ? 1u : 0u);
    std::vector<std::string> classes;
    for (const auto& l : trace()) {
        if (l.rfind(REPLY, 0) == 0 && l.find("PR_REPLY") == std::string::npos)
            classes.push_back(l);
    }
    EXPECT_EQ(classes, c.lines);
    EXPECT_TRUE(trace_has(REPLY + "PR_REPLY=" + std::to_string(c.replies.back()) + "\n"));
    EXPECT_FALSE(port_open());
    // The page shows the printer's status for each class the trace names, and no other.
    const auto status = shown.texts_of(Field::printer_status);
    const auto reply = shown.texts_of(Field::reply);
    auto named = [&](const char* cls) {
        return std::any_of(classes.begin(), classes.end(),
                           [&](const std::string& l) { return l.rfind(REPLY + cls, 0) == 0; });
    };
    auto has = [](const std::vector<std::string>& texts, const char* text) {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    };
    for (const auto& [cls, text] : {std::pair{"STILL_WAITING", "waiting bank 0"},
                                    {"BANK_PROGRAMMING", "prog bank 0"},
                                    {"RETRY_SEND_BANK", "retry bank 0"},
                                    {"BANK_OK", "ok bank 0"},
                                    {"UNRECOVABLE_ERROR", "fatal error"}})
        EXPECT_EQ(has(status, text), named(cls)) << text;
    EXPECT_EQ(has(reply, "programming bank 0"), named("BANK_PROGRAMMING"));
}

const std::string kOk = REPLY + "BANK_OK_REPLY\n";
const std::string kFatal = REPLY + "UNRECOVABLE_ERROR_REPLY\n";
const std::string kOdd = REPLY + "UNRECOVABLE_ERROR_REPLY !\n";
constexpr TransferOutcome kDone = TransferOutcome::completed;
constexpr TransferOutcome kRefused = TransferOutcome::refused;

INSTANTIATE_TEST_SUITE_P(
    Classes, TransferReply,
    ::testing::Combine(
        ::testing::Values(Kind::serial, Kind::usb),
        ::testing::Values(
            ReplyCase{"ack05", {0x05}, kDone, {kOk}}, ReplyCase{"ack16", {0x16}, kDone, {kOk}},
            ReplyCase{"ack17", {0x17}, kDone, {kOk}}, ReplyCase{"ack18", {0x18}, kDone, {kOk}},
            ReplyCase{"ack1A", {0x1A}, kDone, {kOk}}, ReplyCase{"ack20", {0x20}, kDone, {kOk}},
            ReplyCase{"waiting_then_ack",
                      {0x00, 0x03, 0x05},
                      kDone,
                      {REPLY + "STILL_WAITING_REPLY\n", REPLY + "BANK_PROGRAMMING_REPLY\n", kOk}},
            ReplyCase{"retry_then_ack", {0x06}, kDone, {REPLY + "RETRY_SEND_BANK_REPLY\n", kOk}},
            ReplyCase{"unrecoverable", {0x07}, kRefused, {kFatal}},
            ReplyCase{"unlisted", {0x01}, kRefused, {kOdd}},
            ReplyCase{"garbage", {0xFF}, kRefused, {kOdd}},
            ReplyCase{"sync_like", {0x15}, kRefused, {kOdd}})),
    kind_and_name<ReplyCase>);

// Eleven empty reply waits are fine, and a reply starts the count again (the twelfth ends the
// transfer: see the failure table).
TEST_F(TransferHarness, ElevenEmptyWaitsThenAReplyAreFine) {
    for (Kind k : {Kind::serial, Kind::usb}) {
        use(k);
        // One empty wait: the serial read rule (1 + 1) x 2 s, a minute on USB.
        const uint32_t wait_ms = k == Kind::serial ? 4000 : 60000;
        sim_cfg.program_ms = 11 * wait_ms + wait_ms / 2;
        write_image(8);
        range(0, 7);
        start_printer();
        EXPECT_TRUE(run().ok()) << tag();
        EXPECT_EQ(trace_count(tag() + "WAIT DATA retry number 11 \n"), 2u);
        EXPECT_FALSE(trace_has(tag() + "FAILED FOR MAX_RETRY\n"));
    }
}

// ---- How a transfer that does not complete ends ----

enum class Provoke {
    silence_after_bank0,
    resend_forever,
    refuse_bank1,
    endless_status,
    line_stops,  // the line takes no more bytes once the printer has `got` bank bytes
    stop_at,     // the user asks to stop once the printer has `got` bank bytes
    stop_while_silent,
    missing_image,
};

struct FailureCase {
    const char* name;
    Kind kind;
    Provoke provoke;
    TransferOutcome outcome;
    uint32_t banks_sent;
    const char* last;         // the trace's last line, after the kind's tag unless a tag of its own
    uint64_t got, slack = 0;  // bank bytes the printer has: got to got + slack
    uint64_t min_ms = 0, max_ms = 0;  // how long the transfer takes (max 0: no limit)
};

class TransferFailure : public TransferHarness,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(TransferFailure, EndsWithItsOutcome) {
    const FailureCase& c = GetParam();
    use(c.kind);
    write_image(8);
    range(0, 7);
    using Step = vxsim::ReplyStep;
    switch (c.provoke) {
        case Provoke::silence_after_bank0:
            sim_cfg.faults = {{1, false, {{Step::silence, 0}}}};
            break;
        case Provoke::resend_forever:
            sim_cfg.faults = {replies(0, Bytes(MAX_RETRY + 1, 0x06))};
            break;
        case Provoke::refuse_bank1:
            sim_cfg.faults = {replies(1, {0x07})};
            break;
        case Provoke::endless_status:
            sim_cfg.reply_gap_ms = 1000;
            sim_cfg.faults = {replies(0, Bytes(BANK_REPLY_LIMIT_MS / 1000 + 10, 0x00))};
            break;
        case Provoke::line_stops:
            cut_at = c.got;
            break;
        case Provoke::stop_while_silent:
            sim_cfg.faults = {{0, false, {{Step::silence, 0}}}};
            [[fallthrough]];
        case Provoke::stop_at:
            stop_at = c.got;
            break;
        case Provoke::missing_image:
            std::strcpy(config.fw_filename, "missing.bin");
            break;
    }
    start_printer();
    const uint64_t start = fp.clock.now;
    const TransferResult r = run();
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.banks_sent, c.banks_sent);
    EXPECT_EQ(r.banks, c.outcome == TransferOutcome::image_unreadable ? 0u : 2u);
    if (c.last != nullptr) {
        EXPECT_EQ(trace().back(), c.last[0] == '[' ? c.last : tag() + c.last);
    }
    // Only an image that cannot be read leaves the port open.
    EXPECT_EQ(port_open(), c.outcome == TransferOutcome::image_unreadable);
    EXPECT_GE(printer_got(), c.got);
    EXPECT_LE(printer_got(), c.got + c.slack);
    EXPECT_GE(fp.clock.now - start, c.min_ms);
    EXPECT_LE(fp.clock.now - start, c.max_ms != 0 ? c.max_ms : UINT64_MAX);
}

using O = TransferOutcome;
using P = Provoke;
constexpr Kind S = Kind::serial;
constexpr Kind U = Kind::usb;
constexpr uint64_t B4 = bank_bytes(4);
constexpr uint64_t kResent = (1 + MAX_RETRY) * B4;
constexpr uint64_t kLimit = BANK_REPLY_LIMIT_MS;
constexpr const char* kGaveUp = "FAILED FOR MAX_RETRY\n";
constexpr const char* kGaveUpResend = "FAILED FOR MAX_RETRY (resend)\n";
constexpr const char* kFatalLine = "[FLASH][check_reply] UNRECOVABLE_ERROR_REPLY\n";
constexpr const char* kNoAck = "NO BANK ACKNOWLEDGE WITHIN 180 s\n";
constexpr const char* kStopped = "Stopped by the user\n";

using F = FailureCase;

INSTANTIATE_TEST_SUITE_P(
    Outcomes, TransferFailure,
    ::testing::Values(
        // Twelve empty waits: a serial read of (1 + 1) x 2 s each, a minute each on USB.
        F{"serial_silent", S, P::silence_after_bank0, O::no_reply, 1, kGaveUp, 2 * B4, 0, 48000,
          50000},
        F{"usb_silent", U, P::silence_after_bank0, O::no_reply, 1, kGaveUp, 2 * B4, 0, 720000,
          750000},
        // A USB printer that waits for a bank takes the close byte for one of its bytes.
        F{"serial_resends", S, P::resend_forever, O::resends_exhausted, 0, kGaveUpResend, kResent},
        F{"usb_resends", U, P::resend_forever, O::resends_exhausted, 0, kGaveUpResend, kResent, 1},
        F{"serial_refused", S, P::refuse_bank1, O::refused, 1, kFatalLine, 2 * B4},
        F{"usb_refused", U, P::refuse_bank1, O::refused, 1, kFatalLine, 2 * B4},
        F{"serial_no_ack", S, P::endless_status, O::no_acknowledge, 0, kNoAck, B4, 0, kLimit,
          kLimit + 5000},
        F{"usb_no_ack", U, P::endless_status, O::no_acknowledge, 0, kNoAck, B4, 0, kLimit,
          kLimit + 5000},
        // A serial line fails at the next byte; after a short USB write the trace says no more.
        F{"serial_line_stops", S, P::line_stops, O::write_failed, 0,
          "WRITE FAILED: the printer takes no more data\n", 6500},
        F{"usb_short_write", U, P::line_stops, O::write_failed, 0, "Current PageByte=65536\n", 0},
        // A stop is seen inside a bank every 2048 bytes on a serial line, after each page on
        // USB; between banks; and within one empty wait: a serial read, a one-second slice of
        // the minute on USB.
        F{"serial_stop_in_bank", S, P::stop_at, O::stopped, 0, kStopped, 5000, 2048},
        F{"usb_stop_in_bank", U, P::stop_at, O::stopped, 0, kStopped, 20000, PAGE_SIZE},
        F{"serial_stop_between_banks", S, P::stop_at, O::stopped, 1, kStopped, B4},
        F{"usb_stop_between_banks", U, P::stop_at, O::stopped, 1, kStopped, B4, 1},
        F{"serial_stop_while_silent", S, P::stop_while_silent, O::stopped, 0, kStopped, B4, 0, 0,
          4000},
        F{"usb_stop_while_silent", U, P::stop_while_silent, O::stopped, 0, kStopped, B4, 0, 0,
          2000},
        F{"serial_missing_image", S, P::missing_image, O::image_unreadable, 0,
          "Error on load file !\n", 0},
        F{"usb_missing_image", U, P::missing_image, O::image_unreadable, 0, nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The page range against the image ----

struct RangeCase {
    const char* name;
    size_t file_pages, extra_bytes;
    uint32_t begin, end, offset;
    bool accepted;
};

using TransferRange = TransferTable<RangeCase>;

TEST_P(TransferRange, MustLieInsideTheImage) {
    const RangeCase& c = row();
    write_image(c.file_pages, c.extra_bytes);
    range(c.begin, c.end, c.offset);
    start_printer();
    const TransferResult r = run();
    EXPECT_EQ(r.outcome,
              c.accepted ? TransferOutcome::completed : TransferOutcome::range_outside_image);
    EXPECT_EQ(sim->downloads_done(), c.accepted ? 1u : 0u);
    EXPECT_EQ(trace_has(tag() + "Num Page Error !\n"), !c.accepted);
    if (!c.accepted) {
        EXPECT_EQ(printer_got(), 0u);
        // Only the serial lines close their port.
        EXPECT_EQ(port_open(), kind == Kind::usb);
        ASSERT_EQ(fp.ui.boxes.size(), 1u);
        EXPECT_EQ(fp.ui.boxes[0].caption, "Warning");
        EXPECT_EQ(fp.ui.boxes[0].text, "Too few pages");
        EXPECT_EQ(fp.ui.boxes[0].type, BOX_ICONEXCLAMATION);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, TransferRange,
    ::testing::Combine(
        ::testing::Values(Kind::serial, Kind::usb),
        ::testing::Values(RangeCase{"exact", 4, 0, 0, 3, 0, true},
                          RangeCase{"tail_bytes_ignored", 4, 100, 0, 3, 0, true},
                          RangeCase{"with_offset", 6, 0, 20, 23, 2, true},
                          RangeCase{"one_page_short", 3, 0, 0, 3, 0, false},
                          RangeCase{"short_last_page_filled_up", 3, 16383, 0, 3, 0, true},
                          RangeCase{"offset_past_end", 4, 0, 0, 3, 1, false},
                          RangeCase{"reversed", 64, 0, 160, 36, 0, false},
                          RangeCase{"offset_wrapped", 4, 0, 0, 0, 0xFFFFFFFCu, false},
                          RangeCase{"huge_range", 4, 0, 0, 0xFFFFFFFFu, 0, false})),
    kind_and_name<RangeCase>);

// ---- The trace of a whole transfer, line by line ----

struct TraceCase {
    const char* name;
    Kind kind;
    bool virtual_com;
    uint32_t begin, end;
    Bytes replies;  // to the first bank ("": the printer's own acknowledgement)
    std::vector<std::string> lines;
};

class TransferTrace : public TransferHarness, public ::testing::WithParamInterface<TraceCase> {};

TEST_P(TransferTrace, LineByLine) {
    const TraceCase& c = GetParam();
    use(c.kind);
    config.virtual_com = c.virtual_com;
    sim_cfg.faults = {replies(0, c.replies)};
    write_image(c.end - c.begin + 1);
    range(c.begin, c.end);
    start_printer();
    ASSERT_TRUE(run().ok());
    std::vector<std::string> lines;
    for (const auto& l : trace()) {
        if (l == "\n" || l.rfind("[Cls_flash][download_", 0) == 0 || l.rfind(REPLY, 0) == 0)
            lines.push_back(l);
    }
    EXPECT_EQ(lines, c.lines);
}

const std::vector<std::string> kSerialOneBank = {
    COM + "##### START FW DOWNLOAD ######\n",
    "\n",
    COM + "dw_start_block=0 \n",
    COM + "dw_n_block_of_64k=1\n",
    COM + "dw_block_in_pages=1\n",
    "\n",
    COM + "Current block=0 \n",
    COM + "PageByteOffset=0\n",
    COM + "Block in pages=1\n",
    "\n",
    COM + "Current block inside=0 \n",
    COM + "##### CRC1=0 CRC2=c0 sended ######\n",
    COM + "READ BANK REPLY - byte to read=1\n",
    COM + "read(n=1) SUCCESS (0)\n",
    REPLY + "PR_REPLY=0\n",
    REPLY + "STILL_WAITING_REPLY\n",
    COM + "READ BANK REPLY - byte to read=1\n",
    COM + "read(n=1) SUCCESS (5)\n",
    REPLY + "PR_REPLY=5\n",
    kOk,
    COM + "\n",
    COM + "END\n",
};

const std::vector<std::string> kUsbTwoBanks = {
    USB + "##### START FW DOWNLOAD ######\n",
    USB + "Begin_Page=4 End_Page=11 !\n",
    USB + "Current Block=4\n",
    USB + "Current PageByte=65536\n",
    USB + "FLUSHING...\n",
    USB + "##### CRC1 CRC2 sended ######\n",
    USB + "read(n=1) SUCCESS (23)\n",
    REPLY + "PR_REPLY=23\n",
    kOk,
    USB + "Current Block=0\n",
    USB + "Current PageByte=0\n",
    USB + "FLUSHING...\n",
    USB + "##### CRC1 CRC2 sended ######\n",
    USB + "read(n=1) SUCCESS (23)\n",
    REPLY + "PR_REPLY=23\n",
    kOk,
    USB + "\n",
    USB + "END\n",
};

// A virtual COM port writes the same trace under a tag of its own, without the blank line
// before END.
std::vector<std::string> on_virtual_com(std::vector<std::string> lines) {
    lines.erase(lines.end() - 2);
    for (std::string& l : lines) {
        if (l.rfind(COM, 0) == 0)
            l.replace(0, COM.size(), "[Cls_flash][download_virtual_com] ");
    }
    return lines;
}
const std::vector<std::string> kVirtualCom = on_virtual_com(kSerialOneBank);

INSTANTIATE_TEST_SUITE_P(
    Kinds, TransferTrace,
    ::testing::Values(
        TraceCase{"serial_one_bank", Kind::serial, false, 5, 5, {0x00, 0x05}, kSerialOneBank},
        TraceCase{"virtual_com_one_bank", Kind::serial, true, 5, 5, {0x00, 0x05}, kVirtualCom},
        TraceCase{"usb_two_banks", Kind::usb, false, 4, 11, {}, kUsbTwoBanks}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- What only one port kind does ----

TEST_F(TransferHarness, TagReplacesTheImageTagForModel1Only) {
    struct Case {
        int model;
        std::string tag;
        std::string want_at_0x70;
    };
    const std::string long_tag(20000, 'T');
    for (const Case& c : {Case{VX3E_MODEL, "NEWTAG", std::string("NEWTAG\0", 7)},
                          Case{VX3PLUS_MODEL, "NEWTAG", std::string(7, '\x01')},
                          Case{VX3E_MODEL, long_tag, std::string(PAGE_SIZE - 0x70, 'T')}}) {
        use(Kind::serial, c.model);
        write_image(1);
        range(0, 0);
        start_printer();
        ASSERT_TRUE(run(c.tag.c_str()).ok());
        const Bytes& got = sim->flash().at(0);
        EXPECT_EQ(std::string(got.begin() + 0x70, got.begin() + 0x70 + c.want_at_0x70.size()),
                  c.want_at_0x70);
        EXPECT_EQ(got[0x6F], 0x01);
        // The file itself keeps its own bytes.
        EXPECT_EQ(dir.read("image.bin")[0x70], '\x01');
    }
}

// However many stray bytes one packet brings, none of them is taken for the bank's reply.
TEST_F(TransferHarness, UsbStrayBytesAreDrainedBeforeTheCheckBytes) {
    use(Kind::usb);
    const struct {
        Bytes stray;
        const char* flushed;
    } cases[] = {
        {{0x41, 0x00, 0x07}, "******* FLUSHED 3 byte **********\n"},
        {Bytes(32, 0x07), "******* FLUSHED 32 byte **********\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flushed);
        usb_cfg.stray_after_bank = c.stray;
        write_image(8);
        range(0, 7);
        start_printer();
        ASSERT_TRUE(run().ok());
        expect_pages(0, 7, 0);
        EXPECT_EQ(trace_count(USB + c.flushed), 2u);
        EXPECT_EQ(sim->check_failures(), 0u);
    }
}

TEST_F(TransferHarness, UsbPrinterThatKeepsSendingGetsTwentyFlushReads) {
    use(Kind::usb);
    write_image(1);
    range(0, 0);
    fp.usb.make = nullptr;
    fp.usb.devices = {{"a", "USB\\VID_7A1E&PID_0031", true, 1}};
    int data_writes = 0;
    Bytes check;
    fp.usb.configure = [&](FakeUsbDevice& d) {
        d.on_write = [&](FakeUsbDevice& dev, const uint8_t* p, uint32_t n) {
            if (n == 1 && p[0] == 0x02) {
                dev.incoming.push_back({0x06});
            } else if (n == 4096 && ++data_writes == 4) {
                for (int i = 0; i < 25; ++i)
                    dev.incoming.push_back({0x00});
            } else if (n == 1 && data_writes == 4) {
                check.push_back(p[0]);
                if (check.size() == 2)
                    dev.incoming.push_back({0x17});
            }
        };
    };
    ASSERT_EQ(open_port(opening(), port(), true), 1);
    ASSERT_TRUE(run().ok());
    EXPECT_EQ(trace_count(USB + "******* FLUSHED 1 byte **********\n"), 20u);
    // The five bytes left over read as "still waiting", then the acknowledgement.
    EXPECT_EQ(trace_count(REPLY + "STILL_WAITING_REPLY\n"), 5u);
    // 16384 bytes of 0x01: sum 0x4000, check 0xC000 low byte first; then the close byte.
    EXPECT_EQ(check, (Bytes{0x00, 0xC0, 0x03}));
}

TEST_F(TransferHarness, UsbAdfVariantSaysWhatItSkips) {
    use(Kind::usb, KD5_ADF_L2_MODEL);
    const std::string adf = "[Cls_flash][download_usb_adf] ";
    for (uint32_t offset : {1u, 0u}) {
        SCOPED_TRACE(offset);
        dir.write("FlashTrace.dbg", "");
        write_image(5);
        range(2, 5, offset);
        start_printer();
        ASSERT_TRUE(run().ok());
        EXPECT_TRUE(shown.end_after_trace);
        expect_pages(2, 5, 2 - offset);
        EXPECT_EQ(trace_has(adf + "skip first 16384 bytes in the bin file !\n"), offset == 1);
        EXPECT_EQ(trace_starting(adf + "skip first"), offset == 1 ? 1u : 0u);
        EXPECT_TRUE(trace_has(adf + "Begin_Page=2 End_Page=5 !\n"));
        EXPECT_EQ(trace_starting(USB), 0u);
    }
}

// The model names on the page, and the printer's restart after the last bank.
TEST_F(TransferHarness, ModelLabelsAndTheRestartWait) {
    const char* labels[] = {"VX3:", "VX3E:", "VX3Plus:", "VX3Plus_:", "VX3PlusS:", "VX3:", "VX3:"};
    for (int model = 0; model < 7; ++model)
        EXPECT_STREQ(model_label(model), labels[model]) << model;
    const uint64_t slept = fp.clock.slept;
    report_on(view).ended(true);
    EXPECT_EQ(fp.clock.slept - slept, 3000u);
}

}  // namespace
}  // namespace vx::test
