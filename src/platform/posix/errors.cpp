#include <cerrno>
#include <cstring>

#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

// errno is the thread's last error, as GetLastError is on Windows.
class PosixErrors final : public SystemErrors {
public:
    uint32_t last_error() override { return static_cast<uint32_t>(errno); }
    void set_last_error(uint32_t code) override { errno = static_cast<int>(code); }
    std::string error_text(uint32_t code) override {
        char buf[256] = {};
        // GNU strerror_r may return its own static text instead of filling buf.
        const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
        return text ? text : "";
    }
};

}  // namespace

SystemErrors& posix_errors() {
    static PosixErrors errors;
    return errors;
}

}  // namespace vx
