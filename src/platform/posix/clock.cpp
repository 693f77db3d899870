#include <chrono>
#include <ctime>
#include <thread>

#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

class PosixClock final : public Clock {
public:
    LocalTime local_time() override {
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        if (localtime_r(&now, &tm) == nullptr)
            return {};
        return {tm.tm_hour, tm.tm_min, tm.tm_sec};
    }
    void sleep_ms(uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    uint64_t now_ms() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
};

}  // namespace

Clock& posix_clock() {
    static PosixClock clock;
    return clock;
}

}  // namespace vx
