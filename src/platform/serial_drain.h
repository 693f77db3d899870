// The bounded waits of a serial device for written bytes to leave it. The systems' own
// drains (tcdrain, FlushFileBuffers) and blocking writes wait without limit, and a device
// holding CTS low, or a printer that stopped reading, keeps the bytes queued for ever; so
// every wait has a limit derived from the bytes' time on the line.
#pragma once
#include <algorithm>
#include <cstdint>

#include "platform/serial.h"

namespace vx {

constexpr uint32_t DRAIN_MARGIN_MS = 500;
// What a write allows beyond the bytes' time on the line: a printer may hold the line for a
// moment (a flash sector erase), one that takes nothing for this long has stopped.
constexpr uint32_t WRITE_MARGIN_MS = 5000;
// A speed the device does not report counts as this.
constexpr uint32_t DRAIN_FALLBACK_BAUD = 9600;
// The longest pause between two looks at the queue.
constexpr uint32_t DRAIN_POLL_MS = 20;

// Bits one byte takes on the line: start bit, data bits, parity bit, stop bits (one and a
// half count as two).
constexpr uint32_t frame_bits(uint32_t data_bits, bool parity, bool more_than_one_stop_bit) {
    return 1 + data_bits + (parity ? 1 : 0) + (more_than_one_stop_bit ? 2 : 1);
}

// The time `bytes` need on the line at `baud`, rounded up to whole ms.
constexpr uint64_t line_ms(uint32_t bytes, uint32_t baud, uint32_t bits_per_byte) {
    const uint64_t rate = baud != 0 ? baud : DRAIN_FALLBACK_BAUD;
    return (uint64_t{bytes} * bits_per_byte * 1000 + rate - 1) / rate;
}

// What a purge allows `bytes` still queued: their time on the line plus the margin.
constexpr uint32_t drain_budget_ms(uint32_t bytes, uint32_t baud, uint32_t bits_per_byte) {
    return static_cast<uint32_t>(
        std::min<uint64_t>(line_ms(bytes, baud, bits_per_byte) + DRAIN_MARGIN_MS, UINT32_MAX));
}

// The limit of a write of `bytes` (plus those still queued before them).
constexpr uint32_t write_limit_ms(uint64_t bytes, uint32_t baud, uint32_t bits_per_byte) {
    const uint32_t capped = static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX));
    return static_cast<uint32_t>(
        std::min<uint64_t>(line_ms(capped, baud, bits_per_byte) + WRITE_MARGIN_MS, UINT32_MAX));
}

// Polls the output queue until it is empty or the budget of what it held at the start has
// passed. `queued(n)` stores the bytes still to send and returns false when the queue cannot
// be read (nothing to wait for then); `now_ms()` is a monotonic clock; `pause(ms)` sleeps.
template <typename Queued, typename Now, typename Pause>
PurgeDrain wait_for_drain(Queued queued, Now now_ms, Pause pause, uint32_t baud,
                          uint32_t bits_per_byte) {
    uint32_t n = 0;
    if (!queued(n) || n == 0)
        return {};
    const uint32_t budget = drain_budget_ms(n, baud, bits_per_byte);
    const uint64_t deadline = now_ms() + budget;
    for (;;) {
        const uint64_t now = now_ms();
        if (now >= deadline)
            return {true, budget};
        // About as long as the bytes left need, so the wait ends soon after the last one.
        const uint64_t step =
            std::clamp<uint64_t>(line_ms(n, baud, bits_per_byte), 1, DRAIN_POLL_MS);
        pause(static_cast<uint32_t>(std::min<uint64_t>(step, deadline - now)));
        if (!queued(n) || n == 0)
            return {false, budget};
    }
}

}  // namespace vx
