// Bank layout of a page transfer: which pages go out together, in which order, and how a
// bank is closed. Pure functions, shared by the serial transfer loops.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx {

// Consecutive empty reply waits tolerated after a bank; also the number of resend requests
// honoured for one bank.
constexpr uint32_t MAX_RETRY = 11;

// A printer that keeps sending status bytes without acknowledging must not hold the line
// for ever: a bank is given up when this long passes after its (re)send.
constexpr uint64_t BANK_REPLY_LIMIT_MS = 180000;

// check_reply results
constexpr int RETRY_SEND_BANK_REPLY = 1;
constexpr int STILL_WAITING_REPLY = 2;
constexpr int BANK_OK_REPLY = 3;
constexpr int BANK_PROGRAMMING_REPLY = 4;
constexpr int UNRECOVERABLE_ERROR_REPLY = 5;

constexpr uint32_t PAGES_PER_BANK = 4;

// How a page count splits into banks.
enum class BankCase {
    short_range = 1,    // fewer than four pages: one partial bank
    whole_banks = 2,    // a multiple of four pages
    partial_last = 3,   // the partial bank goes out last, at the bottom of the range
    partial_first = 4,  // the partial bank goes out first, at the top of the range
};

struct BankPlan {
    BankCase bank_case = BankCase::short_range;
    uint32_t first_page = 0;        // page index of the first bank sent
    uint32_t banks = 0;             // number of banks
    uint32_t first_bank_pages = 0;  // pages in the first bank
    uint32_t remainder = 0;         // pages mod 4
};

// Banks go out from the top of the range down. The partial bank (when the page count is not
// a multiple of 4) is sent first or last depending on where the range starts in flash.
// `pages` must be at least 1.
BankPlan plan_banks(uint32_t pages, uint32_t begin_page);

// Walks the banks of a plan in sending order.
class BankWalk {
public:
    explicit BankWalk(const BankPlan& plan);
    bool done() const { return counter_ >= plan_.banks; }
    uint32_t counter() const { return counter_; }
    uint32_t current_page() const { return current_page_; }
    uint32_t block_in_pages() const { return block_in_pages_; }
    // Moves past an acknowledged bank. Returns the page bar's new step, 0 when it stays.
    uint32_t advance();

private:
    BankPlan plan_;
    uint32_t counter_ = 0;
    uint32_t current_page_ = 0;
    uint32_t block_in_pages_ = 0;
};

// The main page's label for a printer model.
const char* model_label(int model);

// Two's complement of the 16-bit byte sum: sum(bytes) + check == 0 mod 65536.
uint16_t bank_check_value(const uint8_t* data, size_t length);

}  // namespace vx
