#include <windows.h>

#include <memory>

#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

struct LocalFreer {
    void operator()(char* p) const { LocalFree(p); }
};

class Win32Errors final : public SystemErrors {
public:
    uint32_t last_error() override { return GetLastError(); }
    void set_last_error(uint32_t code) override { SetLastError(code); }

    std::string error_text(uint32_t code) override {
        // Asking for the text must not change the error the caller goes on to report.
        LastErrorKeeper keep;
        char* raw = nullptr;
        const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                           FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                       reinterpret_cast<LPSTR>(&raw), 0, nullptr);
        std::unique_ptr<char, LocalFreer> owned(raw);
        if (n == 0 || raw == nullptr) {
            return {};
        }
        std::string text(raw, n);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
            text.pop_back();
        }
        return text;
    }
};

}  // namespace

SystemErrors& win32_errors() {
    static Win32Errors errors;
    return errors;
}

}  // namespace vx
