#pragma once
#include <cstdint>
#include <string>

namespace vx {

// The calling thread's last system error (GetLastError / errno) and its text.
class SystemErrors {
public:
    virtual ~SystemErrors() = default;
    virtual uint32_t last_error() = 0;
    virtual void set_last_error(uint32_t code) = 0;
    // The system's text for a code; empty when the system has none.
    virtual std::string error_text(uint32_t code) = 0;
};

}  // namespace vx
