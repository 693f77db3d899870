// The purge's bounded wait for written bytes, as both serial layers run it: the deadline
// from the line speed, and the poll loop over a scripted output queue and a fake clock (a
// pty has no output queue, so a stuck one cannot be made with a real device).
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/serial_drain.h"

namespace vx {
namespace {

TEST(SerialDrain, BudgetIsLineTimePlusMargin) {
    const struct {
        uint32_t bytes, baud, bits, ms;
    } cases[] = {
        {0, 9600, 10, 500},
        {1, 9600, 10, 502},                  // 1.04 ms rounds up
        {960, 9600, 10, 1500},               // exactly one second
        {4096, 115200, 10, 856},             // a full 4 KiB queue at download speed
        {4096, 115200, 12, 927},             // 8E2: twelve bits a byte
        {100, 0, 10, 605},                   // unknown speed: 9600
        {0xFFFFFFFFu, 50, 12, 0xFFFFFFFFu},  // clamped, not wrapped
    };
    for (const auto& c : cases) {
        EXPECT_EQ(drain_budget_ms(c.bytes, c.baud, c.bits), c.ms)
            << c.bytes << " bytes at " << c.baud;
    }
    EXPECT_EQ(frame_bits(8, false, false), 10u);
    EXPECT_EQ(frame_bits(7, true, true), 11u);
    EXPECT_EQ(frame_bits(8, true, true), 12u);
}

// An output queue that shrinks by `per_look` bytes at each look (0: stuck), on a clock that
// only the pauses move. Look 0 is the first, look n follows the n-th pause.
struct ScriptedQueue {
    uint64_t now = 1000;
    int64_t left;
    int64_t per_look;
    int empty_at_look = -1;  // the look that finds the queue empty at once
    int fail_at_look = -1;   // the look at which the queue cannot be read
    int looks = 0;
    std::vector<uint32_t> pauses;

    PurgeDrain run(uint32_t baud) {
        return wait_for_drain(
            [this](uint32_t& n) {
                const int look = looks++;
                if (look == fail_at_look)
                    return false;
                if (look > 0)
                    left = std::max<int64_t>(0, left - per_look);
                if (look == empty_at_look)
                    left = 0;
                n = static_cast<uint32_t>(left);
                return true;
            },
            [this] { return now; },
            [this](uint32_t ms) {
                // A wait that never ends fails here rather than hanging the suite.
                if (pauses.size() >= 100000)
                    throw std::runtime_error("the drain wait does not end");
                pauses.push_back(ms);
                now += ms;
            },
            baud, 10);
    }
};

TEST(SerialDrain, WaitsUntilEmptyOrDeadline) {
    const struct {
        const char* name;
        int64_t queued, per_look;
        int empty_at_look, fail_at_look;
        bool timed_out;
        uint32_t waited_ms;
        uint64_t elapsed_ms;
    } cases[] = {
        {"nothing queued", 0, 0, -1, -1, false, 0, 0},
        {"queue unreadable", 100, 0, -1, 0, false, 0, 0},
        {"drains", 960, 240, -1, -1, false, 1500, 80},
        {"empties at the deadline's look", 960, 0, 75, -1, false, 1500, 1500},
        {"stuck (CTS low)", 960, 0, -1, -1, true, 1500, 1500},
        {"stuck, deadline between two looks", 100, 0, -1, -1, true, 605, 605},
        {"stuck, then unreadable", 960, 0, -1, 3, false, 1500, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedQueue q{1000, c.queued, c.per_look, c.empty_at_look, c.fail_at_look, 0, {}};
        const PurgeDrain d = q.run(9600);
        EXPECT_EQ(d.timed_out, c.timed_out);
        EXPECT_EQ(d.waited_ms, c.waited_ms);
        const uint64_t elapsed = q.now - 1000;
        EXPECT_EQ(elapsed, c.elapsed_ms);
        for (uint32_t p : q.pauses) {
            EXPECT_GE(p, 1u);
            EXPECT_LE(p, DRAIN_POLL_MS);
        }
    }
}

TEST(SerialDrain, ShortQueueIsPolledFinely) {
    ScriptedQueue q{1000, 20, 10, -1, -1, 0, {}};  // 20 bytes at 115200: about 2 ms on the line
    EXPECT_FALSE(q.run(115200).timed_out);
    EXPECT_EQ(q.pauses, (std::vector<uint32_t>{2, 1}));
}

}  // namespace
}  // namespace vx
