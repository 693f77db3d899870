#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "protocol/bank_transfer.h"

namespace vx {
namespace {

struct Bank {
    uint32_t first_page;
    uint32_t pages;
    uint32_t new_step;  // page bar step set after the bank, 0 for none
    bool operator==(const Bank&) const = default;
};

struct PlanCase {
    uint32_t pages;
    uint32_t begin_page;
    int case_no;
    uint32_t start, count, first_size;
    std::vector<Bank> banks;
};

std::vector<Bank> walk_all(const BankPlan& plan) {
    std::vector<Bank> out;
    for (BankWalk walk(plan); !walk.done() && out.size() < 1000;) {
        Bank b{walk.current_page(), walk.block_in_pages(), 0};
        b.new_step = walk.advance();
        out.push_back(b);
    }
    return out;
}

class PlanTable : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanTable, BanksCoverEveryPageOnceFromTheTopDown) {
    const PlanCase& c = GetParam();
    const BankPlan plan = plan_banks(c.pages, c.begin_page);
    EXPECT_EQ(static_cast<int>(plan.bank_case), c.case_no);
    EXPECT_EQ(plan.first_page, c.start);
    EXPECT_EQ(plan.banks, c.count);
    EXPECT_EQ(plan.first_bank_pages, c.first_size);
    const std::vector<Bank> banks = walk_all(plan);
    if (!c.banks.empty()) {
        EXPECT_EQ(banks, c.banks);
    }

    std::vector<int> seen(c.pages, 0);
    for (const Bank& b : banks) {
        ASSERT_LE(b.first_page + b.pages, c.pages);
        for (uint32_t p = b.first_page; p < b.first_page + b.pages; ++p)
            ++seen[p];
    }
    EXPECT_EQ(seen, std::vector<int>(c.pages, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanTable,
    ::testing::Values(PlanCase{1, 0, 1, 0, 1, 1, {{0, 1, 0}}},
                      PlanCase{2, 7, 1, 0, 1, 2, {{0, 2, 0}}},
                      PlanCase{4, 0, 2, 0, 1, 4, {{0, 4, 0}}},
                      PlanCase{8, 16, 2, 4, 2, 4, {{4, 4, 0}, {0, 4, 0}}},
                      // partial bank first (range starts at 0 or on a page 3 mod 4)
                      PlanCase{6, 0, 4, 4, 2, 2, {{4, 2, 4}, {0, 4, 0}}},
                      PlanCase{9, 3, 4, 8, 3, 1, {{8, 1, 4}, {4, 4, 0}, {0, 4, 0}}},
                      PlanCase{7, 7, 4, 4, 2, 3, {{4, 3, 4}, {0, 4, 0}}},
                      // partial bank last
                      PlanCase{6, 1, 3, 2, 2, 4, {{2, 4, 2}, {0, 2, 0}}},
                      PlanCase{9, 1, 3, 5, 3, 4, {{5, 4, 0}, {1, 4, 1}, {0, 1, 0}}},
                      PlanCase{11, 36, 3, 7, 3, 4, {{7, 4, 0}, {3, 4, 3}, {0, 3, 0}}},
                      PlanCase{62, 2, 3, 58, 16, 4, {}}));

// The last row's walk is long: its ends are checked here.
TEST(PlanTable, LargeRangeEndsOnPageZero) {
    const BankPlan plan = plan_banks(62, 2);
    const std::vector<Bank> banks = walk_all(plan);
    ASSERT_EQ(banks.size(), 16u);
    EXPECT_EQ(banks.front(), (Bank{58, 4, 0}));
    EXPECT_EQ(banks[14], (Bank{2, 4, 2}));
    EXPECT_EQ(banks.back(), (Bank{0, 2, 0}));
}

TEST(BankCheck, SumOfBankAndCheckIsZero) {
    struct Case {
        uint8_t fill;
        size_t length;
        uint16_t check;
    };
    for (const Case& c :
         {Case{0xFF, 65536, 0x0000}, Case{0x01, 16384, 0xC000}, Case{0x02, 16384, 0x8000},
          Case{0x00, 16384, 0x0000}, Case{0x07, 1, 0xFFF9}}) {
        std::vector<uint8_t> bank(c.length, c.fill);
        EXPECT_EQ(bank_check_value(bank.data(), bank.size()), c.check) << int(c.fill);
    }
}

}  // namespace
}  // namespace vx
