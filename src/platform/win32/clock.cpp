#include <windows.h>

#include "platform/win32/win32_services.h"

namespace vx {
namespace {

class Win32Clock final : public Clock {
public:
    LocalTime local_time() override {
        SYSTEMTIME st{};
        GetLocalTime(&st);
        return LocalTime{st.wHour, st.wMinute, st.wSecond};
    }
    void sleep_ms(uint32_t ms) override { Sleep(ms); }
    uint64_t now_ms() override { return GetTickCount64(); }
};

}  // namespace

Clock& win32_clock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace vx
