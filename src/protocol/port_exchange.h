// The port calls of the protocol, with what their failures mean to the user: a failed line
// setting is a system error, a failed parallel request its own error box (traced outside
// interactive mode), a purge that could not drain a trace line.
#pragma once
#include <cstdint>

#include "port/port_backend.h"
#include "report/reporter.h"

namespace vx {

// Reply limit of a command exchange.
constexpr uint32_t REPLY_LIMIT_MS = 2000;

// 1 when the line was set; the system's text in a box or the trace otherwise.
int set_port_line(Reporter& report, PortBackend& port, const LineSettings& line);
// 1 when the printer is still attached.
int check_wire(Reporter& report, PortBackend& port);
int purge_port(Reporter& report, PortBackend& port);
int write_port(Reporter& report, PortBackend& port, const uint8_t* data, uint32_t length);
int write_read_port(Reporter& report, PortBackend& port, const uint8_t* data, uint32_t length,
                    uint8_t* reply, uint32_t capacity, uint32_t limit_ms = REPLY_LIMIT_MS);
int read_port(Reporter& report, PortBackend& port, uint8_t* buffer, uint32_t capacity,
              uint32_t limit_ms);
int read_port_block(Reporter& report, PortBackend& port, uint8_t* buffer, uint32_t count,
                    uint32_t limit_ms);

}  // namespace vx
