#include "sim_serial.h"

#include <algorithm>
#include <cstdint>

namespace vx::test {

void SimSerialDevice::pull() {
    for (uint8_t b : printer_.take_output(clock_.now))
        incoming_.push_back(b);
}

bool SimSerialDevice::purge() {
    ++purges;
    pull();
    incoming_.clear();
    return true;
}

bool SimSerialDevice::write(const uint8_t* data, uint32_t length, uint32_t& written) {
    pull();  // what the printer sent before these bytes arrived is already on the line
    printer_.receive(data, length, clock_.now);
    written = length;
    return true;
}

// Windows rule: the read ends when `length` bytes arrived, when more than `interval` ms pass
// between two bytes, or after multiplier * length + constant ms in all (0 and 0: no limit).
bool SimSerialDevice::read(uint8_t* data, uint32_t length, uint32_t& got) {
    got = 0;
    const uint64_t start = clock_.now;
    const bool total_limit = timeouts.multiplier != 0 || timeouts.constant != 0;
    const uint64_t deadline = start + uint64_t(timeouts.multiplier) * length + timeouts.constant;
    uint64_t last_byte = start;
    while (got < length) {
        pull();
        if (!incoming_.empty()) {
            data[got++] = incoming_.front();
            incoming_.pop_front();
            last_byte = clock_.now;
            continue;
        }
        uint64_t limit = total_limit ? deadline : UINT64_MAX;
        if (timeouts.interval != 0 && got > 0)
            limit = std::min(limit, last_byte + timeouts.interval);
        auto due = printer_.next_due();
        if (!due || *due > limit) {
            if (limit == UINT64_MAX)
                return true;  // nothing will ever come: do not hang
            clock_.now = std::max(clock_.now, limit);
            return true;
        }
        clock_.now = std::max(clock_.now, *due);
        printer_.tick(clock_.now);
    }
    return true;
}

std::unique_ptr<SerialDevice> SimSerialPorts::open(const char* name) {
    opened.emplace_back(name ? name : "");
    if (open_fails)
        return nullptr;
    auto dev = std::make_unique<SimSerialDevice>(clock_, printer_);
    dev->dsr = dsr;
    dev->max_baud_flag = max_baud_flag;
    return dev;
}

}  // namespace vx::test
