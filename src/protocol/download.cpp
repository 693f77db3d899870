// Bank transfer over every port kind: one loop, and a wire per kind for how the bytes go out.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/main_view.h"
#include "protocol/bank_transfer.h"
#include "protocol/port_exchange.h"
#include "protocol/printer_protocol.h"
#include "protocol/run_timing.h"
#include "protocol/transfer_report.h"

namespace vx {

namespace {

constexpr uint32_t REPLY_CAPACITY = 2048;

}  // namespace

const char* model_label(int model) {
    switch (model) {
        case VX3E_MODEL:
            return "VX3E:";
        case VX3PLUS_MODEL:
            return "VX3Plus:";
        case VX3PLUS_CR_MODEL:
            return "VX3Plus_:";
        case VX3PLUS_SC_MODEL:
            return "VX3PlusS:";
        default:
            return "VX3:";
    }
}

namespace {

// What the port kinds do differently around the one bank loop. Every port call of a transfer
// goes through a wire: how a page goes out, the input flush, the check bytes, the reply wait
// and a resend.
struct WireKind {
    const char* tag;
    bool line_steps;        // serial lines trace a failed load, the bank plan and each page
    bool reports_skip;      // the ADF variant says how much of the file it skips
    bool blank_before_end;  // a blank tag line before END
};

constexpr WireKind kComKind{"[Cls_flash][download_com] ", true, false, true};
constexpr WireKind kVirtualComKind{"[Cls_flash][download_virtual_com] ", true, false, false};
constexpr WireKind kUsbKind{"[Cls_flash][download_usb] ", false, false, true};
constexpr WireKind kUsbAdfKind{"[Cls_flash][download_usb_adf] ", false, true, true};

class BankWire {
public:
    BankWire(ProtocolRun& run, PortBackend& port, TransferReport& progress, const WireKind& kind)
        : kind(kind), run_(run), port_(port), progress_(progress), tag_(kind.tag) {}
    virtual ~BankWire() = default;

    // Trace lines of a bank before its label is shown, and the steps after it.
    virtual void announce_bank(uint32_t current, uint32_t bank_pages) = 0;
    virtual void open_bank(uint32_t current) = 0;
    // Page k of the bank from src into dst (its place in sent_bank) and onto the wire. False:
    // the line took no more, or a stop was asked.
    virtual bool put_page(const uint8_t* src, uint8_t* dst, uint32_t k) = 0;
    // The two check bytes behind the bank's data.
    virtual bool put_check(const uint8_t* check) = 0;
    // One reply wait for a byte into `reply`; the byte count, 0 or less when none came.
    virtual int read_reply(uint8_t* reply) = 0;
    // The same data and check bytes as the first time, in one write.
    virtual bool resend(const uint8_t* bank, uint32_t length) = 0;
    // Whether a silent wait counts against the bank's time limit as well as the empty waits.
    virtual bool times_silence() const = 0;

    bool stop_asked() {
        if (!run_.stop_requested.load(std::memory_order_relaxed))
            return false;
        run_.report.trace_line("%sStopped by the user\n", tag_);
        return true;
    }

    PortBackend& port() { return port_; }
    const WireKind& kind;

protected:
    ProtocolRun& run_;
    PortBackend& port_;
    TransferReport& progress_;
    const char* tag_;
};

// Serial and parallel lines: one write a byte, so that the printer paces the line.
class BytewiseWire final : public BankWire {
public:
    using BankWire::BankWire;

    void announce_bank(uint32_t current, uint32_t bank_pages) override {
        run_.report.trace_line("\n");
        run_.report.trace_line("%sCurrent block=%d \n", tag_, static_cast<int>(current));
        run_.report.trace_line("%sPageByteOffset=%d\n", tag_,
                               static_cast<int>(current * PAGE_SIZE));
        run_.report.trace_line("%sBlock in pages=%d\n", tag_, static_cast<int>(bank_pages));
    }
    void open_bank(uint32_t) override { purge_port(run_.troubles, port_); }

    bool put_page(const uint8_t* src, uint8_t* dst, uint32_t k) override {
        run_.report.trace_line("\n");
        run_.report.trace_line("%sCurrent block inside=%d \n", tag_, static_cast<int>(k));
        for (uint32_t i = 0; i < PAGE_SIZE; ++i) {
            dst[i] = src[i];
            if (i % BAR_STEP_BYTES == 0) {
                progress_.bank_bar().step();
                if (stop_asked())
                    return false;
            }
            if (!sent(dst + i))
                return false;
        }
        return true;
    }

    bool put_check(const uint8_t* check) override {
        if (!sent(check))
            return false;
        purge_port(run_.troubles, port_);
        if (!sent(check + 1))
            return false;
        run_.report.trace_line("%s##### CRC1=%x CRC2=%x sended ######\n", tag_,
                               static_cast<unsigned>(check[0]), static_cast<unsigned>(check[1]));
        return true;
    }

    int read_reply(uint8_t* reply) override {
        run_.report.trace_line("%sREAD BANK REPLY - byte to read=%d\n", tag_, 1);
        return read_port_block(run_.troubles, port_, reply, 1, REPLY_WAIT_MS);
    }

    bool resend(const uint8_t* bank, uint32_t length) override {
        purge_port(run_.troubles, port_);
        return write_read_port(run_.troubles, port_, bank, length, nullptr, 0) > 0 ||
               write_failed();
    }

    bool times_silence() const override { return true; }

private:
    static constexpr uint32_t BAR_STEP_BYTES = 2048;
    static constexpr uint32_t REPLY_WAIT_MS = 2000;

    // A byte the line did not take within its limit ends the transfer: the printer stopped.
    bool sent(const uint8_t* byte) {
        return write_port(run_.troubles, port_, byte, 1) == 1 || write_failed();
    }
    bool write_failed() {
        run_.report.trace_line("%sWRITE FAILED: the printer takes no more data\n", tag_);
        return false;
    }
};

// USB: each page in four 4096-byte writes on the bulk pipe, the input drained before the check
// bytes, and a minute per reply wait.
class UsbPageWire final : public BankWire {
public:
    using BankWire::BankWire;

    void announce_bank(uint32_t, uint32_t) override {}
    void open_bank(uint32_t current) override {
        run_.report.trace_line("%sCurrent Block=%d\n", tag_, static_cast<int>(current));
        run_.report.trace_line("%sCurrent PageByte=%d\n", tag_,
                               static_cast<int>(current * PAGE_SIZE));
    }

    bool put_page(const uint8_t* src, uint8_t* dst, uint32_t) override {
        std::memcpy(dst, src, PAGE_SIZE);
        progress_.bank_bar().step();
        for (uint32_t at = 0; at < PAGE_SIZE; at += WRITE_UNIT) {
            if (write_port(run_.troubles, port_, dst + at, WRITE_UNIT) == 0)
                return false;
        }
        return !stop_asked();
    }

    // A check byte the pipe did not take ends the transfer: no reply can come.
    bool put_check(const uint8_t* check) override {
        flush_input();
        if (write_port(run_.troubles, port_, check, 1) == 0 ||
            write_port(run_.troubles, port_, check + 1, 1) == 0)
            return false;
        run_.report.trace_line("%s##### CRC1 CRC2 sended ######\n", tag_);
        return true;
    }

    // One wait of up to a minute, read in slices so that a stop is seen within one of them.
    int read_reply(uint8_t* reply) override {
        Clock& clock = run_.platform.clock;
        const uint64_t until = clock.now_ms() + REPLY_WAIT_MS;
        for (;;) {
            const uint64_t now = clock.now_ms();
            const uint32_t slice = static_cast<uint32_t>(
                std::min<uint64_t>(REPLY_SLICE_MS, until > now ? until - now : 1));
            const int got = read_port_block(run_.troubles, port_, reply, 1, slice);
            if (got > 0 || clock.now_ms() >= until || run_.stop_requested.load())
                return got;
        }
    }

    bool resend(const uint8_t* bank, uint32_t length) override {
        return write_read_port(run_.troubles, port_, bank, length, nullptr, 0) != 0;
    }

    // Silence is bounded by the empty-wait count alone.
    bool times_silence() const override { return false; }

private:
    static constexpr uint32_t WRITE_UNIT = 4096;
    static constexpr uint32_t FLUSH_READS = 20;
    static constexpr uint32_t FLUSH_WAIT_MS = 500;
    static constexpr uint32_t REPLY_WAIT_MS = 60000;
    static constexpr uint32_t REPLY_SLICE_MS = 1000;

    // Whatever the printer sent during the bank is not its reply: drop it before the check
    // bytes go out, but never wait for more than twenty reads.
    void flush_input() {
        run_.report.trace_line("%sFLUSHING...\n", tag_);
        for (uint32_t i = 0; i < FLUSH_READS; ++i) {
            // Whole requests: all a packet brought goes at once, however many bytes it held.
            const int got =
                read_port_block(run_.troubles, port_, drain_, sizeof drain_, FLUSH_WAIT_MS);
            if (got <= 0)
                break;
            run_.report.trace_line("%s******* FLUSHED %d byte **********\n", tag_, got);
        }
    }

    uint8_t drain_[REPLY_CAPACITY] = {};
};

void begin_transfer(ProtocolRun& run, PortBackend& port, TransferReport& progress,
                    const char* tag) {
    if (run.sent_bank.size() < TX_BUFFER_SIZE)
        run.sent_bank.resize(TX_BUFFER_SIZE);
    std::fill(run.sent_bank.begin(), run.sent_bank.end(), uint8_t{0});
    run.report.trace_line("%s##### START FW DOWNLOAD ######\n", tag);
    TransferStart start;
    start.first_page = run.session.begin_page;
    start.last_page = run.session.end_page;
    start.baud = run.config.send_baud;
    start.shows_line_speed = port.capabilities().shows_line_speed;
    start.file_name = run.config.fw_filename;
    start.model_label = model_label(run.session.printer_model);
    progress.started(start);
}

void put_tag(std::vector<uint8_t>& image, uint32_t size, const char* tag_text, int model) {
    constexpr uint32_t TAG_OFFSET = 0x70;
    if (tag_text == nullptr || model != VX3E_MODEL || size <= TAG_OFFSET || image.size() < size)
        return;
    const size_t room = size - TAG_OFFSET;
    const size_t want = std::strlen(tag_text) + 1;
    std::memcpy(image.data() + TAG_OFFSET, tag_text, want < room ? want : room);
}

bool range_in_image(ProtocolRun& run, TransferReport& progress, const char* tag, uint32_t size,
                    uint64_t& pages) {
    const uint64_t file_pages = size / PAGE_SIZE;
    const bool reversed = run.session.end_page < run.session.begin_page;
    pages = reversed ? 0 : uint64_t(run.session.end_page) - run.session.begin_page + 1;
    if (!reversed && uint64_t(run.session.offset_page) + pages <= file_pages)
        return true;
    run.report.trace_line("%sNum Page Error !\n", tag);
    progress.too_few_pages();
    return false;
}

// The printer's answer byte to a bank. The report hears it before the trace says it.
int check_reply(ProtocolRun& run, TransferReport& progress, const uint8_t* reply,
                uint32_t counter) {
    constexpr const char* TAG = "[FLASH][check_reply] ";
    struct Class {
        BankReply reply;
        int result;
        const char* name;
    };
    static constexpr Class kWaiting{BankReply::waiting, STILL_WAITING_REPLY, "STILL_WAITING_REPLY"};
    static constexpr Class kProgramming{BankReply::programming, BANK_PROGRAMMING_REPLY,
                                        "BANK_PROGRAMMING_REPLY"};
    static constexpr Class kOk{BankReply::accepted, BANK_OK_REPLY, "BANK_OK_REPLY"};
    static constexpr Class kRetry{BankReply::retry, RETRY_SEND_BANK_REPLY, "RETRY_SEND_BANK_REPLY"};
    static constexpr Class kFatal{BankReply::unrecoverable, UNRECOVERABLE_ERROR_REPLY,
                                  "UNRECOVABLE_ERROR_REPLY"};
    static constexpr Class kOdd{BankReply::unrecoverable, UNRECOVERABLE_ERROR_REPLY,
                                "UNRECOVABLE_ERROR_REPLY !"};
    const uint8_t value = reply ? reply[0] : 0x07;
    run.report.trace_line("%sPR_REPLY=%d\n", TAG, static_cast<int>(value));
    const Class* c = &kOdd;
    switch (value) {
        case 0x00:
            c = &kWaiting;
            break;
        case 0x03:
            c = &kProgramming;
            break;
        case 0x05:
        case 0x16:
        case 0x17:
        case 0x18:
        case 0x1A:
        case 0x20:
            c = &kOk;
            break;
        case 0x06:
            c = &kRetry;
            break;
        case 0x07:
            c = &kFatal;
            break;
        default:
            break;
    }
    progress.reply(c->reply, counter);
    run.report.trace_line("%s%s\n", TAG, c->name);
    return c->result;
}

// The image pages go out from the top of the range down in banks of up to four pages, each
// closed by a check value and acknowledged by the printer before the next one starts.
class BankTransfer {
public:
    BankTransfer(ProtocolRun& run, TransferReport& progress, BankWire& wire)
        : run_(run), progress_(progress), wire_(wire), kind_(wire.kind), tag_(kind_.tag) {}

    TransferResult send(const char* tag_text);

private:
    bool send_bank(const uint8_t* data, const BankWalk& walk);
    // `completed` once the printer acknowledged the bank.
    TransferOutcome await_reply(uint32_t bank_counter, uint32_t bank_bytes);
    TransferResult ended(TransferOutcome outcome) const { return {outcome, banks_sent_, banks_}; }
    TransferResult fail(TransferOutcome outcome) {
        wire_.port().close();
        return ended(outcome);
    }
    void trace_plan(const BankPlan& plan);
    void trace_end() {
        if (kind_.blank_before_end)
            run_.report.trace_line("%s\n", tag_);
        run_.report.trace_line("%sEND\n", tag_);
    }

    ProtocolRun& run_;
    TransferReport& progress_;
    BankWire& wire_;
    const WireKind& kind_;
    const char* tag_;
    uint32_t empty_waits_ = 0;
    uint32_t banks_sent_ = 0;
    uint32_t banks_ = 0;
    uint8_t reply_[REPLY_CAPACITY] = {};
};

TransferResult BankTransfer::send(const char* tag_text) {
    begin_transfer(run_, wire_.port(), progress_, tag_);

    std::vector<uint8_t> image;
    const uint32_t size = load_image_for_transfer(run_.session, run_.report, run_.platform.files,
                                                  run_.config.fw_filename, image);
    if (size == 0 || image.size() < size) {
        if (kind_.line_steps)
            run_.report.trace_line("%sError on load file !\n", tag_);
        return ended(TransferOutcome::image_unreadable);  // the port stays open
    }

    put_tag(image, size, tag_text, run_.session.printer_model);
    if (kind_.reports_skip && run_.session.offset_page != 0) {
        run_.report.trace_line("%sskip first %d bytes in the bin file !\n", tag_,
                               static_cast<int>(run_.session.offset_page * PAGE_SIZE));
    }
    progress_.step(TransferStep::ready);
    if (!kind_.line_steps) {
        run_.report.trace_line("%sBegin_Page=%d End_Page=%d !\n", tag_,
                               static_cast<int>(run_.session.begin_page),
                               static_cast<int>(run_.session.end_page));
    }

    // A range outside the image is refused before anything is read; only the serial lines
    // close their port then.
    uint64_t pages = 0;
    if (!range_in_image(run_, progress_, tag_, size, pages))
        return kind_.line_steps ? fail(TransferOutcome::range_outside_image)
                                : ended(TransferOutcome::range_outside_image);
    const uint8_t* data = image.data() + uint64_t(run_.session.offset_page) * PAGE_SIZE;

    const BankPlan plan = plan_banks(static_cast<uint32_t>(pages), run_.session.begin_page);
    trace_plan(plan);
    banks_ = plan.banks;

    for (BankWalk walk(plan); !walk.done();) {
        if (wire_.stop_asked())
            return fail(TransferOutcome::stopped);
        // A page cut short is a stop when one was asked, else the line took no more.
        if (!send_bank(data, walk))
            return fail(run_.stop_requested.load() ? TransferOutcome::stopped
                                                   : TransferOutcome::write_failed);
        const TransferOutcome reply =
            await_reply(walk.counter(), walk.block_in_pages() * PAGE_SIZE);
        if (reply != TransferOutcome::completed)
            return fail(reply);
        ++banks_sent_;
        progress_.pages_bar().step();
        const uint32_t step = walk.advance();
        if (step != 0)
            progress_.pages_bar().set_step(static_cast<int>(step));
        progress_.reply_cleared();
    }

    run_.platform.clock.sleep_ms(wait_ms::AFTER_LAST_BANK);
    progress_.step(TransferStep::ready);
    wire_.port().close();
    image.clear();
    image.shrink_to_fit();

    // The serial lines show the end texts before their last trace lines, USB after them.
    if (!kind_.line_steps)
        trace_end();
    progress_.ended(wire_.port().capabilities().shows_line_speed);
    if (kind_.line_steps)
        trace_end();
    return ended(TransferOutcome::completed);
}

void BankTransfer::trace_plan(const BankPlan& plan) {
    const bool partial =
        plan.bank_case == BankCase::partial_last || plan.bank_case == BankCase::partial_first;
    if (kind_.line_steps && partial)
        run_.report.trace_line("%sNumber blocks not multiple of 4 !\n", tag_);
    if (plan.bank_case == BankCase::partial_first)
        progress_.pages_bar().set_step(static_cast<int>(plan.remainder));
    if (!kind_.line_steps)
        return;
    run_.report.trace_line("\n");
    run_.report.trace_line("%sdw_start_block=%d \n", tag_, static_cast<int>(plan.first_page));
    run_.report.trace_line("%sdw_n_block_of_64k=%d\n", tag_, static_cast<int>(plan.banks));
    run_.report.trace_line("%sdw_block_in_pages=%d\n", tag_,
                           static_cast<int>(plan.first_bank_pages));
}

// The bank stays whole in sent_bank (page k at k * PAGE_SIZE, the check bytes behind it), so
// that a resend request is answered with exactly what went out.
bool BankTransfer::send_bank(const uint8_t* data, const BankWalk& walk) {
    uint8_t* tx = run_.sent_bank.data();
    const uint32_t current = walk.current_page();
    const uint32_t bank_pages = walk.block_in_pages();

    progress_.step(TransferStep::sending_data);
    wire_.announce_bank(current, bank_pages);
    progress_.bank(walk.counter());
    wire_.open_bank(current);

    for (uint32_t k = 0; k < bank_pages; ++k) {
        if (!wire_.put_page(data + uint64_t(current + k) * PAGE_SIZE, tx + k * PAGE_SIZE, k))
            return false;
    }

    const uint32_t bank_bytes = bank_pages * PAGE_SIZE;
    const uint16_t check = bank_check_value(tx, bank_bytes);
    tx[bank_bytes] = static_cast<uint8_t>(check & 0xFF);
    tx[bank_bytes + 1] = static_cast<uint8_t>(check >> 8);
    if (!wire_.put_check(tx + bank_bytes))
        return false;

    progress_.step(TransferStep::waiting_confirm);
    progress_.bank_bar().set_position(0);
    return true;
}

TransferOutcome BankTransfer::await_reply(uint32_t bank_counter, uint32_t bank_bytes) {
    std::memset(reply_, 0, sizeof reply_);
    uint32_t resends = 0;
    uint64_t deadline = run_.platform.clock.now_ms() + BANK_REPLY_LIMIT_MS;
    for (;;) {
        const int got = wire_.read_reply(reply_);
        if (got <= 0) {
            if (empty_waits_ >= MAX_RETRY) {
                run_.report.trace_line("%sFAILED FOR MAX_RETRY\n", tag_);
                return TransferOutcome::no_reply;
            }
            ++empty_waits_;
            run_.report.trace_line("%sWAIT DATA retry number %d \n", tag_,
                                   static_cast<int>(empty_waits_));
        } else {
            run_.report.trace_line("%sread(n=%d) SUCCESS (%d)\n", tag_, got,
                                   static_cast<int>(reply_[0]));
            empty_waits_ = 0;
            switch (check_reply(run_, progress_, reply_, bank_counter)) {
                case BANK_OK_REPLY:
                    return TransferOutcome::completed;
                case STILL_WAITING_REPLY:
                    break;
                case BANK_PROGRAMMING_REPLY:
                    progress_.programming(bank_counter);
                    break;
                case RETRY_SEND_BANK_REPLY:
                    if (resends >= MAX_RETRY) {
                        run_.report.trace_line("%sFAILED FOR MAX_RETRY (resend)\n", tag_);
                        return TransferOutcome::resends_exhausted;
                    }
                    ++resends;
                    run_.report.trace_line("%sRESEND BANK (%d bytes)\n", tag_,
                                           static_cast<int>(bank_bytes + 2));
                    if (!wire_.resend(run_.sent_bank.data(), bank_bytes + 2))
                        return TransferOutcome::write_failed;
                    deadline = run_.platform.clock.now_ms() + BANK_REPLY_LIMIT_MS;
                    break;
                default:
                    return TransferOutcome::refused;
            }
        }
        if (wire_.stop_asked())
            return TransferOutcome::stopped;
        // A printer that keeps answering without ever acknowledging must not hold the line
        // for ever.
        if ((got > 0 || wire_.times_silence()) && run_.platform.clock.now_ms() > deadline) {
            run_.report.trace_line("%sNO BANK ACKNOWLEDGE WITHIN %d s\n", tag_,
                                   static_cast<int>(BANK_REPLY_LIMIT_MS / 1000));
            return TransferOutcome::no_acknowledge;
        }
    }
}

template <typename Wire>
TransferResult transfer(ProtocolRun& run, PortBackend& port, TransferReport& progress,
                        const WireKind& kind, const char* tag_text) {
    Wire wire(run, port, progress, kind);
    return BankTransfer(run, progress, wire).send(tag_text);
}

}  // namespace

TransferResult download_image(ProtocolRun& run, TransferReport& progress, PortBackend& port,
                              const char* tag) {
    if (port.capabilities().transfer == TransferKind::usb_pages) {
        return run.session.printer_model == KD5_ADF_L2_MODEL
                   ? transfer<UsbPageWire>(run, port, progress, kUsbAdfKind, tag)
                   : transfer<UsbPageWire>(run, port, progress, kUsbKind, tag);
    }
    return run.config.virtual_com
               ? transfer<BytewiseWire>(run, port, progress, kVirtualComKind, tag)
               : transfer<BytewiseWire>(run, port, progress, kComKind, tag);
}

}  // namespace vx
