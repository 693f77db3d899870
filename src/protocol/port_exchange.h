// The port calls of the protocol. What a failure means to the user is the application's to
// say: the calls hand it to a PortTroubles.
#pragma once
#include <cstdint>

#include "port/port_backend.h"

namespace vx {

// Reply limit of a command exchange.
constexpr uint32_t REPLY_LIMIT_MS = 2000;

class PortTroubles {
public:
    virtual ~PortTroubles() = default;
    // The port refused the line settings.
    virtual void line_refused(const PortBackend& port, const PortResult& result) = 0;
    // The printer's modem lines could not be read.
    virtual void wire_unreadable(const PortResult& result) = 0;
    // Our output did not drain within its limit; the input was dropped all the same.
    virtual void drain_timed_out(uint32_t waited_ms) = 0;
    // A request failed with the port's own error (a parallel port's write or read).
    virtual void request_failed(const PortResult& result) = 0;
};

// 1 when the line was set; the system's text in a box or the trace otherwise.
int set_port_line(PortTroubles& troubles, PortBackend& port, const LineSettings& line);
// 1 when the printer is still attached.
int check_wire(PortTroubles& troubles, PortBackend& port);
int purge_port(PortTroubles& troubles, PortBackend& port);
int write_port(PortTroubles& troubles, PortBackend& port, const uint8_t* data, uint32_t length);
int write_read_port(PortTroubles& troubles, PortBackend& port, const uint8_t* data, uint32_t length,
                    uint8_t* reply, uint32_t capacity, uint32_t limit_ms = REPLY_LIMIT_MS);
int read_port(PortTroubles& troubles, PortBackend& port, uint8_t* buffer, uint32_t capacity,
              uint32_t limit_ms);
int read_port_block(PortTroubles& troubles, PortBackend& port, uint8_t* buffer, uint32_t count,
                    uint32_t limit_ms);

}  // namespace vx
