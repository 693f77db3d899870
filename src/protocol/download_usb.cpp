// Bank transfer over USB: the banks, check value and replies of the serial transfer, but each
// page goes out in four 4096-byte writes on the bulk pipe, the input is drained before the
// check bytes, and the printer gets a minute per reply wait.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/cls_flash.h"
#include "app/message_ids.h"
#include "app/port_reports.h"
#include "protocol/bank_transfer.h"
#include "protocol/run_timing.h"
#include "protocol/transfer_steps.h"

namespace vx {

namespace {

constexpr uint32_t USB_WRITE_UNIT = 4096;
constexpr uint32_t FLUSH_READS = 20;
constexpr uint32_t FLUSH_WAIT_MS = 500;
constexpr uint32_t USB_REPLY_WAIT_MS = 60000;
// A reply wait is made of reads this long, so that a stop is seen within one of them.
constexpr uint32_t REPLY_SLICE_MS = 1000;
constexpr uint32_t REPLY_CAPACITY = 2048;

struct UsbTraits {
    const char* tag;
    bool reports_skip;  // the ADF variant says how much of the file it skips
};

class UsbBankTransfer {
public:
    UsbBankTransfer(Cls_flash& f, PortBackend& port, const UsbTraits& traits, MainPageView& view)
        : f_(f), port_(port), tag_(traits.tag), traits_(traits), view_(view) {}

    int run(const char* tag_text);

private:
    enum class Outcome { acknowledged, failed };

    bool send_bank(const uint8_t* data, const BankWalk& walk);
    void flush_input();
    Outcome await_reply(uint32_t bank_counter, uint32_t bank_bytes);
    int read_reply();
    bool stop_asked() {
        if (!f_.stop_requested.load(std::memory_order_relaxed))
            return false;
        f_.report.trace_line("%sStopped by the user\n", tag_);
        return true;
    }
    int fail() {
        port_.close();
        return 0;
    }

    Cls_flash& f_;
    PortBackend& port_;
    const char* tag_;
    UsbTraits traits_;
    MainPageView& view_;
    uint32_t empty_waits_ = 0;
    uint8_t reply_[REPLY_CAPACITY] = {};
};

int UsbBankTransfer::run(const char* tag_text) {
    std::memset(reply_, 0, sizeof reply_);
    begin_transfer(f_, view_, port_, tag_);

    std::vector<uint8_t> image;
    const uint32_t size = load_image_for_transfer(f_.session, f_.report, f_.platform.files,
                                                  f_.config.fw_filename, image);
    if (size == 0 || image.size() < size)
        return 0;  // the loader has said why; the port stays open

    put_tag(image, size, tag_text, f_.session.printer_model);

    if (traits_.reports_skip && f_.session.offset_page != 0) {
        f_.report.trace_line("%sskip first %d bytes in the bin file !\n", tag_,
                             static_cast<int>(f_.session.offset_page * PAGE_SIZE));
    }
    view_.computer_status(f_.get_message(msg::READY));
    f_.report.trace_line("%sBegin_Page=%d End_Page=%d !\n", tag_,
                         static_cast<int>(f_.session.begin_page),
                         static_cast<int>(f_.session.end_page));

    // A range outside the image is refused before anything is read; the port stays open.
    uint64_t pages = 0;
    if (!range_in_image(f_, view_, tag_, size, pages))
        return 0;
    const uint8_t* data = image.data() + uint64_t(f_.session.offset_page) * PAGE_SIZE;

    const BankPlan plan = plan_banks(static_cast<uint32_t>(pages), f_.session.begin_page);
    if (plan.bank_case == BankCase::partial_first)
        view_.pages_bar().set_step(static_cast<int>(plan.remainder));

    for (BankWalk walk(plan); !walk.done();) {
        if (stop_asked() || !send_bank(data, walk))
            return fail();
        if (await_reply(walk.counter(), walk.block_in_pages() * PAGE_SIZE) !=
            Outcome::acknowledged) {
            return fail();
        }
        view_.pages_bar().step();
        const uint32_t step = walk.advance();
        if (step != 0)
            view_.pages_bar().set_step(static_cast<int>(step));
        view_.reply_line("");
    }

    f_.platform.clock.sleep_ms(wait_ms::AFTER_LAST_BANK);
    view_.computer_status(f_.get_message(msg::READY));
    port_.close();
    image.clear();
    image.shrink_to_fit();

    f_.report.trace_line("%s\n", tag_);
    f_.report.trace_line("%sEND\n", tag_);
    f_.show_download_end(view_, port_.capabilities().shows_line_speed);
    return 1;
}

// The bank stays whole in sent_bank (page k at k * 16384, the check bytes behind it), so a
// resend request is answered with exactly what went out.
bool UsbBankTransfer::send_bank(const uint8_t* data, const BankWalk& walk) {
    uint8_t* tx = f_.sent_bank.data();
    const uint32_t current = walk.current_page();
    const uint32_t bank_pages = walk.block_in_pages();

    view_.computer_status(f_.get_message(msg::SENDING_DATA));
    view_.bank_label(f_.message_int(msg::BANK_NUMBER, walk.counter()).c_str());
    f_.report.trace_line("%sCurrent Block=%d\n", tag_, static_cast<int>(current));
    f_.report.trace_line("%sCurrent PageByte=%d\n", tag_, static_cast<int>(current * PAGE_SIZE));

    for (uint32_t k = 0; k < bank_pages; ++k) {
        uint8_t* page = tx + k * PAGE_SIZE;
        std::memcpy(page, data + uint64_t(current + k) * PAGE_SIZE, PAGE_SIZE);
        view_.bank_bar().step();
        for (uint32_t at = 0; at < PAGE_SIZE; at += USB_WRITE_UNIT) {
            if (write_port(f_, port_, page + at, USB_WRITE_UNIT) == 0)
                return false;
        }
        if (stop_asked())
            return false;
    }

    flush_input();

    const uint32_t bank_bytes = bank_pages * PAGE_SIZE;
    const uint16_t check = bank_check_value(tx, bank_bytes);
    tx[bank_bytes] = static_cast<uint8_t>(check & 0xFF);
    tx[bank_bytes + 1] = static_cast<uint8_t>(check >> 8);
    // A check byte the pipe did not take ends the transfer: no reply can come.
    if (write_port(f_, port_, tx + bank_bytes, 1) == 0 ||
        write_port(f_, port_, tx + bank_bytes + 1, 1) == 0)
        return false;
    f_.report.trace_line("%s##### CRC1 CRC2 sended ######\n", tag_);

    view_.computer_status(f_.get_message(msg::WAITING_CONFIRM));
    std::memset(reply_, 0, sizeof reply_);
    view_.bank_bar().set_position(0);
    return true;
}

// Whatever the printer sent during the bank is not its reply: drop it before the check bytes
// go out, but never wait for more than twenty reads.
void UsbBankTransfer::flush_input() {
    f_.report.trace_line("%sFLUSHING...\n", tag_);
    for (uint32_t i = 0; i < FLUSH_READS; ++i) {
        // Whole requests: all a packet brought goes at once, however many bytes it held.
        const int got = read_port_block(f_, port_, reply_, sizeof reply_, FLUSH_WAIT_MS);
        if (got <= 0)
            break;
        f_.report.trace_line("%s******* FLUSHED %d byte **********\n", tag_, got);
    }
}

// One reply wait of up to a minute, read in slices; it ends early when a stop is asked.
int UsbBankTransfer::read_reply() {
    Clock& clock = f_.platform.clock;
    const uint64_t until = clock.now_ms() + USB_REPLY_WAIT_MS;
    for (;;) {
        const uint64_t now = clock.now_ms();
        const uint32_t slice = static_cast<uint32_t>(
            std::min<uint64_t>(REPLY_SLICE_MS, until > now ? until - now : 1));
        const int got = read_port_block(f_, port_, reply_, 1, slice);
        if (got > 0 || clock.now_ms() >= until || f_.stop_requested.load())
            return got;
    }
}

UsbBankTransfer::Outcome UsbBankTransfer::await_reply(uint32_t bank_counter, uint32_t bank_bytes) {
    uint32_t resends = 0;
    uint64_t deadline = f_.platform.clock.now_ms() + BANK_REPLY_LIMIT_MS;
    for (;;) {
        const int got = read_reply();
        if (got <= 0) {
            if (empty_waits_ >= MAX_RETRY) {
                f_.report.trace_line("%sFAILED FOR MAX_RETRY\n", tag_);
                return Outcome::failed;
            }
            ++empty_waits_;
            f_.report.trace_line("%sWAIT DATA retry number %d \n", tag_,
                                 static_cast<int>(empty_waits_));
            if (stop_asked())
                return Outcome::failed;
            continue;  // silence is bounded by the empty-wait count alone
        }
        f_.report.trace_line("%sread(n=%d) SUCCESS (%d)\n", tag_, got, static_cast<int>(reply_[0]));
        empty_waits_ = 0;
        switch (f_.check_reply(view_, reply_, bank_counter)) {
            case BANK_OK_REPLY:
                return Outcome::acknowledged;
            case STILL_WAITING_REPLY:
                break;
            case BANK_PROGRAMMING_REPLY:
                view_.reply_line(f_.message_int(msg::BANK_PROGRAMMING_REPLY, bank_counter).c_str());
                break;
            case RETRY_SEND_BANK_REPLY:
                if (resends >= MAX_RETRY) {
                    f_.report.trace_line("%sFAILED FOR MAX_RETRY (resend)\n", tag_);
                    return Outcome::failed;
                }
                ++resends;
                // The same data bytes and check bytes as the first time, in one write.
                f_.report.trace_line("%sRESEND BANK (%d bytes)\n", tag_,
                                     static_cast<int>(bank_bytes + 2));
                if (write_read_port(f_, port_, f_.sent_bank.data(), bank_bytes + 2, nullptr, 0) ==
                    0)
                    return Outcome::failed;
                deadline = f_.platform.clock.now_ms() + BANK_REPLY_LIMIT_MS;
                break;
            default:
                return Outcome::failed;
        }
        if (stop_asked())
            return Outcome::failed;
        // A printer that keeps answering without ever acknowledging must not hold the
        // line for ever.
        if (f_.platform.clock.now_ms() > deadline) {
            f_.report.trace_line("%sNO BANK ACKNOWLEDGE WITHIN %d s\n", tag_,
                                 static_cast<int>(BANK_REPLY_LIMIT_MS / 1000));
            return Outcome::failed;
        }
    }
}

constexpr UsbTraits kUsbTraits{"[Cls_flash][download_usb] ", false};
constexpr UsbTraits kUsbAdfTraits{"[Cls_flash][download_usb_adf] ", true};

}  // namespace

int Cls_flash::download_usb(MainPageView& view, PortBackend& port, const char* tag) {
    return UsbBankTransfer(*this, port, kUsbTraits, view).run(tag);
}

int Cls_flash::download_usb_adf(MainPageView& view, PortBackend& port, const char* tag) {
    return UsbBankTransfer(*this, port, kUsbAdfTraits, view).run(tag);
}

}  // namespace vx
