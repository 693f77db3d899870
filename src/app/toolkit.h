// The printer toolkit's port choice for one of its tools, read from its registry key.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vx {

class ToolkitRegistry;

constexpr size_t TOOLKIT_PORT_CHARS = 10;

// 1 with the tool's port name in `port` ("COM1", "USB01"); 0 when the key or the value is
// missing, no port is assigned ("******"), the name is empty or does not fit, or the tool
// kind is not 1..4.
int read_toolkit_port(ToolkitRegistry& registry, uint16_t tool_kind,
                      char (&port)[TOOLKIT_PORT_CHARS]);

// 1 when all four serial values were read; 0 otherwise, and the caller then ignores every
// output (some may already have been written).
int read_toolkit_serial(ToolkitRegistry& registry, uint16_t tool_kind, uint32_t& baud,
                        uint8_t& stop, uint8_t& parity, uint8_t& data_bits);

}  // namespace vx
