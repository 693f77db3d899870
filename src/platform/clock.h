#pragma once
#include <cstdint>

namespace vx {

struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Local time of day, for the time stamps of the trace and result files.
    virtual LocalTime local_time() = 0;
    // Blocks the calling thread; a fake clock only advances its counter.
    virtual void sleep_ms(uint32_t ms) = 0;
    // Monotonic milliseconds since an arbitrary origin.
    virtual uint64_t now_ms() = 0;
};

}  // namespace vx
