#pragma once
#include <cstdint>
#include <string>

namespace vx {

struct ToolkitSerial {
    uint32_t baud = 0;
    uint32_t data_bits = 0;
    uint32_t parity = 0;
    uint32_t stop = 0;
};

// The printer toolkit's registry key, read only. Where the key or a value is missing the
// calls answer "no value" (false).
class ToolkitRegistry {
public:
    virtual ~ToolkitRegistry() = default;
    virtual bool read_port(int tool_kind, std::string& port) = 0;
    virtual bool read_serial(int tool_kind, ToolkitSerial& out) = 0;
};

}  // namespace vx
