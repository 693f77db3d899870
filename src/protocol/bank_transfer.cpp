#include "protocol/bank_transfer.h"

namespace vx {

BankPlan plan_banks(uint32_t pages, uint32_t begin_page) {
    BankPlan plan;
    const uint32_t r = pages % PAGES_PER_BANK;
    plan.remainder = r;
    if (pages < PAGES_PER_BANK) {
        plan.bank_case = BankCase::short_range;
        plan.first_page = 0;
        plan.banks = 1;
        plan.first_bank_pages = pages;
    } else if (r == 0) {
        plan.bank_case = BankCase::whole_banks;
        plan.first_page = pages - PAGES_PER_BANK;
        plan.banks = pages / PAGES_PER_BANK;
        plan.first_bank_pages = PAGES_PER_BANK;
    } else if (begin_page != 0 && (begin_page + 1) % PAGES_PER_BANK != 0) {
        // Partial bank last: it ends up at the bottom of the range.
        plan.bank_case = BankCase::partial_last;
        plan.first_page = pages - PAGES_PER_BANK;
        plan.banks = pages / PAGES_PER_BANK + 1;
        plan.first_bank_pages = PAGES_PER_BANK;
    } else {
        // Partial bank first: it covers the top pages of the range.
        plan.bank_case = BankCase::partial_first;
        plan.first_page = pages - r;
        plan.banks = pages / PAGES_PER_BANK + 1;
        plan.first_bank_pages = r;
    }
    return plan;
}

BankWalk::BankWalk(const BankPlan& plan)
    : plan_(plan), current_page_(plan.first_page), block_in_pages_(plan.first_bank_pages) {}

uint32_t BankWalk::advance() {
    uint32_t step = 0;
    if (plan_.bank_case == BankCase::partial_first && counter_ == 0) {
        block_in_pages_ = PAGES_PER_BANK;
        step = PAGES_PER_BANK;
    }
    if (plan_.bank_case == BankCase::partial_last && counter_ + 2 == plan_.banks) {
        block_in_pages_ = plan_.remainder;
        step = plan_.remainder;
    }
    ++counter_;
    // The last bank starts at page 0; never step below it.
    if (!done())
        current_page_ -= block_in_pages_;
    return step;
}

uint16_t bank_check_value(const uint8_t* data, size_t length) {
    uint16_t sum = 0;
    for (size_t i = 0; i < length; ++i)
        sum = static_cast<uint16_t>(sum + data[i]);
    return static_cast<uint16_t>(0x10000u - sum);
}

}  // namespace vx
