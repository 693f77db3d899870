// Bank transfer over serial and parallel lines: the image pages go out from the top of the
// range down in banks of up to four pages, each closed by a check value and acknowledged by
// the printer before the next one starts.
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

constexpr uint32_t BANK_BAR_STEP_BYTES = 2048;
constexpr uint32_t REPLY_WAIT_MS = 2000;
constexpr uint32_t REPLY_CAPACITY = 2048;

}  // namespace

const char* model_label(int model) {
    switch (model) {
        case VX3E_MODE:
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

// The two transfer variants differ only in their trace tag and one blank line at the end.
struct TransferTraits {
    const char* tag;
    bool blank_before_end;
};

class BankTransfer {
public:
    BankTransfer(Cls_flash& f, PortBackend& port, const TransferTraits& traits, MainPageView& view)
        : f_(f), port_(port), tag_(traits.tag), traits_(traits), view_(view) {}

    int run(const char* tag_text);

private:
    enum class Outcome { acknowledged, failed };

    // False when the user asked to stop: the bank is left unfinished.
    bool send_bank(const uint8_t* data, const BankWalk& walk);
    bool stop_asked() {
        if (!f_.stop_requested.load(std::memory_order_relaxed))
            return false;
        f_.report.trace_line("%sStopped by the user\n", tag_);
        return true;
    }
    // A byte the line did not take within its limit ends the transfer: the printer stopped.
    bool sent(const uint8_t* byte) { return write_port(f_, port_, byte, 1) == 1 || write_failed(); }
    bool write_failed() {
        f_.report.trace_line("%sWRITE FAILED: the printer takes no more data\n", tag_);
        return false;
    }
    Outcome await_reply(uint32_t bank_counter, uint32_t bank_bytes);
    int fail() {
        port_.close();
        return 0;
    }

    Cls_flash& f_;
    PortBackend& port_;
    const char* tag_;
    TransferTraits traits_;
    MainPageView& view_;
    uint32_t empty_waits_ = 0;
    uint8_t reply_[REPLY_CAPACITY] = {};
};

int BankTransfer::run(const char* tag_text) {
    std::memset(reply_, 0, sizeof reply_);
    begin_transfer(f_, view_, port_, tag_);

    std::vector<uint8_t> image;
    const uint32_t size = load_image_for_transfer(f_.session, f_.report, f_.platform.files,
                                                  f_.config.fw_filename, image);
    if (size == 0 || image.size() < size) {
        f_.report.trace_line("%sError on load file !\n", tag_);
        return 0;
    }

    put_tag(image, size, tag_text, f_.session.printer_model);
    view_.computer_status(f_.get_message(msg::READY));

    uint64_t pages = 0;
    if (!range_in_image(f_, view_, tag_, size, pages)) {
        return fail();
    }
    const uint8_t* data = image.data() + uint64_t(f_.session.offset_page) * PAGE_SIZE;

    const BankPlan plan = plan_banks(static_cast<uint32_t>(pages), f_.session.begin_page);
    if (plan.bank_case == BankCase::partial_last || plan.bank_case == BankCase::partial_first) {
        f_.report.trace_line("%sNumber blocks not multiple of 4 !\n", tag_);
    }
    if (plan.bank_case == BankCase::partial_first) {
        view_.pages_bar().set_step(static_cast<int>(plan.remainder));
    }
    f_.report.trace_line("\n");
    f_.report.trace_line("%sdw_start_block=%d \n", tag_, static_cast<int>(plan.first_page));
    f_.report.trace_line("%sdw_n_block_of_64k=%d\n", tag_, static_cast<int>(plan.banks));
    f_.report.trace_line("%sdw_block_in_pages=%d\n", tag_, static_cast<int>(plan.first_bank_pages));

    for (BankWalk walk(plan); !walk.done();) {
        if (stop_asked() || !send_bank(data, walk)) {
            return fail();
        }
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

    f_.show_download_end(view_, port_.capabilities().shows_line_speed);
    if (traits_.blank_before_end)
        f_.report.trace_line("%s\n", tag_);
    f_.report.trace_line("%sEND\n", tag_);
    return 1;
}

// Each byte is kept in sent_bank at its offset within the bank, so that a resend request
// can be answered with exactly what went out; the check bytes follow the data.
bool BankTransfer::send_bank(const uint8_t* data, const BankWalk& walk) {
    uint8_t* tx = f_.sent_bank.data();
    const uint32_t current = walk.current_page();
    const uint32_t bank_pages = walk.block_in_pages();

    view_.computer_status(f_.get_message(msg::SENDING_DATA));
    f_.report.trace_line("\n");
    f_.report.trace_line("%sCurrent block=%d \n", tag_, static_cast<int>(current));
    f_.report.trace_line("%sPageByteOffset=%d\n", tag_, static_cast<int>(current * PAGE_SIZE));
    f_.report.trace_line("%sBlock in pages=%d\n", tag_, static_cast<int>(bank_pages));
    view_.bank_label(f_.message_int(msg::BANK_NUMBER, walk.counter()).c_str());
    purge_port(f_, port_);

    for (uint32_t k = 0; k < bank_pages; ++k) {
        f_.report.trace_line("\n");
        f_.report.trace_line("%sCurrent block inside=%d \n", tag_, static_cast<int>(k));
        const uint8_t* src = data + uint64_t(current + k) * PAGE_SIZE;
        uint8_t* dst = tx + k * PAGE_SIZE;
        for (uint32_t i = 0; i < PAGE_SIZE; ++i) {
            dst[i] = src[i];
            if (i % BANK_BAR_STEP_BYTES == 0) {
                view_.bank_bar().step();
                if (stop_asked())
                    return false;
            }
            // One write per byte: the printer is paced by it.
            if (!sent(dst + i))
                return false;
        }
    }

    const uint32_t bank_bytes = bank_pages * PAGE_SIZE;
    const uint16_t check = bank_check_value(tx, bank_bytes);
    tx[bank_bytes] = static_cast<uint8_t>(check & 0xFF);
    if (!sent(tx + bank_bytes))
        return false;
    purge_port(f_, port_);
    tx[bank_bytes + 1] = static_cast<uint8_t>(check >> 8);
    if (!sent(tx + bank_bytes + 1))
        return false;
    f_.report.trace_line("%s##### CRC1=%x CRC2=%x sended ######\n", tag_,
                         static_cast<unsigned>(tx[bank_bytes]),
                         static_cast<unsigned>(tx[bank_bytes + 1]));

    view_.computer_status(f_.get_message(msg::WAITING_CONFIRM));
    view_.bank_bar().set_position(0);
    return true;
}

BankTransfer::Outcome BankTransfer::await_reply(uint32_t bank_counter, uint32_t bank_bytes) {
    std::memset(reply_, 0, sizeof reply_);
    constexpr uint32_t n = 1;
    uint32_t resends = 0;
    uint64_t deadline = f_.platform.clock.now_ms() + BANK_REPLY_LIMIT_MS;
    for (;;) {
        f_.report.trace_line("%sREAD BANK REPLY - byte to read=%d\n", tag_, static_cast<int>(n));
        const int got = read_port_block(f_, port_, reply_, n, REPLY_WAIT_MS);
        if (got <= 0) {
            if (empty_waits_ >= MAX_RETRY) {
                f_.report.trace_line("%sFAILED FOR MAX_RETRY\n", tag_);
                return Outcome::failed;
            }
            ++empty_waits_;
            f_.report.trace_line("%sWAIT DATA retry number %d \n", tag_,
                                 static_cast<int>(empty_waits_));
        } else {
            f_.report.trace_line("%sread(n=%d) SUCCESS (%d)\n", tag_, got,
                                 static_cast<int>(reply_[0]));
            empty_waits_ = 0;
            switch (f_.check_reply(view_, reply_, bank_counter)) {
                case BANK_OK_REPLY:
                    return Outcome::acknowledged;
                case STILL_WAITING_REPLY:
                    break;
                case BANK_PROGRAMMING_REPLY:
                    view_.reply_line(
                        f_.message_int(msg::BANK_PROGRAMMING_REPLY, bank_counter).c_str());
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
                    purge_port(f_, port_);
                    if (write_read_port(f_, port_, f_.sent_bank.data(), bank_bytes + 2, nullptr,
                                        0) <= 0) {
                        write_failed();
                        return Outcome::failed;
                    }
                    deadline = f_.platform.clock.now_ms() + BANK_REPLY_LIMIT_MS;
                    break;
                default:
                    return Outcome::failed;
            }
        }
        if (stop_asked()) {
            return Outcome::failed;
        }
        if (f_.platform.clock.now_ms() > deadline) {
            f_.report.trace_line("%sNO BANK ACKNOWLEDGE WITHIN %d s\n", tag_,
                                 static_cast<int>(BANK_REPLY_LIMIT_MS / 1000));
            return Outcome::failed;
        }
    }
}

constexpr TransferTraits kComTraits{"[Cls_flash][download_com] ", true};
constexpr TransferTraits kVirtualComTraits{"[Cls_flash][download_virtual_com] ", false};

}  // namespace

int Cls_flash::download_image(MainPageView& view, PortBackend& port, const char* tag) {
    if (port.capabilities().transfer == TransferKind::usb_pages) {
        return session.printer_model == KD5_ADF_L2_MODEL ? download_usb_adf(view, port, tag)
                                                         : download_usb(view, port, tag);
    }
    return config.virtual_com ? download_virtual_com(view, port, tag)
                              : download_com(view, port, tag);
}

int Cls_flash::download_com(MainPageView& view, PortBackend& port, const char* tag) {
    return BankTransfer(*this, port, kComTraits, view).run(tag);
}

int Cls_flash::download_virtual_com(MainPageView& view, PortBackend& port, const char* tag) {
    return BankTransfer(*this, port, kVirtualComTraits, view).run(tag);
}

int Cls_flash::check_reply(MainPageView& view, const uint8_t* reply, uint32_t bank_counter) {
    const uint8_t value = reply ? reply[0] : 0x07;
    report.trace_line("[FLASH][check_reply] PR_REPLY=%d\n", static_cast<int>(value));
    switch (value) {
        case 0x00:
            view.printer_status(message_int(msg::BANK_WAITING, bank_counter).c_str());
            report.trace_line("[FLASH][check_reply] STILL_WAITING_REPLY\n");
            return STILL_WAITING_REPLY;
        case 0x03:
            view.printer_status(message_int(msg::BANK_PROGRAMMING, bank_counter).c_str());
            report.trace_line("[FLASH][check_reply] BANK_PROGRAMMING_REPLY\n");
            return BANK_PROGRAMMING_REPLY;
        case 0x05:
        case 0x16:
        case 0x17:
        case 0x18:
        case 0x1A:
        case 0x20:
            view.printer_status(message_int(msg::BANK_ACCEPTED, bank_counter).c_str());
            report.trace_line("[FLASH][check_reply] BANK_OK_REPLY\n");
            return BANK_OK_REPLY;
        case 0x06:
            view.printer_status(message_int(msg::BANK_RETRY, bank_counter).c_str());
            report.trace_line("[FLASH][check_reply] RETRY_SEND_BANK_REPLY\n");
            return RETRY_SEND_BANK_REPLY;
        case 0x07:
            view.printer_status(get_message(msg::UNRECOVERABLE));
            report.trace_line("[FLASH][check_reply] UNRECOVABLE_ERROR_REPLY\n");
            return UNRECOVERABLE_ERROR_REPLY;
        default:
            view.printer_status(get_message(msg::UNRECOVERABLE));
            report.trace_line("[FLASH][check_reply] UNRECOVABLE_ERROR_REPLY !\n");
            return UNRECOVERABLE_ERROR_REPLY;
    }
}

void Cls_flash::show_download_start(MainPageView& view, bool speed, uint32_t begin, uint32_t end,
                                    uint32_t baud, const char* file_name) {
    view.connection_line(speed ? message_int(msg::DOWNLOAD_SPEED, baud).c_str() : " ");
    view.computer_status(message_str(msg::SENDING_FILE, file_name ? file_name : "").c_str());
    view.bank_bar().set_position(0);
    view.model_label(model_label(session.printer_model));
    view.printer_status(get_message(msg::BANK_ACCEPTED));
    view.page_range(message_int(msg::FIRST_PAGE, begin).c_str(),
                    message_int(msg::LAST_PAGE, end).c_str());
    view.pages_bar().set_position(0);
}

void Cls_flash::show_download_end(MainPageView& view, bool speed) {
    view.printer_status(get_message(msg::READY));
    view.computer_status(get_message(msg::FILE_SENT));
    if (speed)
        view.connection_line(get_message(msg::DOWNLOAD_FINISHED));
    view.pages_bar().set_position(0);
    view.printer_status(get_message(msg::PRINTER_RESTARTS));
    platform.clock.sleep_ms(wait_ms::PRINTER_RESTART);
    view.printer_status(get_message(msg::READY));
    view.reply_line("");
}

void begin_transfer(Cls_flash& f, MainPageView& view, const PortBackend& port, const char* tag) {
    if (f.sent_bank.size() < TX_BUFFER_SIZE)
        f.sent_bank.resize(TX_BUFFER_SIZE);
    std::fill(f.sent_bank.begin(), f.sent_bank.end(), uint8_t{0});
    f.report.trace_line("%s##### START FW DOWNLOAD ######\n", tag);
    f.show_download_start(view, port.capabilities().shows_line_speed, f.session.begin_page,
                          f.session.end_page, f.send_baud, f.config.fw_filename);
}

void put_tag(std::vector<uint8_t>& image, uint32_t size, const char* tag_text, int model) {
    constexpr uint32_t TAG_OFFSET = 0x70;
    if (tag_text == nullptr || model != VX3E_MODE || size <= TAG_OFFSET || image.size() < size)
        return;
    const size_t room = size - TAG_OFFSET;
    const size_t want = std::strlen(tag_text) + 1;
    std::memcpy(image.data() + TAG_OFFSET, tag_text, want < room ? want : room);
}

bool range_in_image(Cls_flash& f, MainPageView& view, const char* tag, uint32_t size,
                    uint64_t& pages) {
    const uint64_t file_pages = size / PAGE_SIZE;
    const bool reversed = f.session.end_page < f.session.begin_page;
    pages = reversed ? 0 : uint64_t(f.session.end_page) - f.session.begin_page + 1;
    if (!reversed && uint64_t(f.session.offset_page) + pages <= file_pages)
        return true;
    f.report.trace_line("%sNum Page Error !\n", tag);
    f.user_message(view, f.get_message(msg::ERROR_CAPTION), f.get_message(msg::TOO_FEW_PAGES),
                   BOX_ICONEXCLAMATION);
    return false;
}

}  // namespace vx
