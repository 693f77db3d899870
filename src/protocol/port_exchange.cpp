#include "protocol/port_exchange.h"

namespace vx {

namespace {

int checked(PortTroubles& troubles, const PortBackend& port, int result) {
    const PortResult& r = port.last_failure();
    if (result == 0 && !r.ok() && r.where[0] != 0)
        troubles.request_failed(r);
    return result;
}

}  // namespace

int set_port_line(PortTroubles& troubles, PortBackend& port, const LineSettings& line) {
    if (const PortResult r = port.set_line(line); !r) {
        troubles.line_refused(port, r);
        return 0;
    }
    return 1;
}

int check_wire(PortTroubles& troubles, PortBackend& port) {
    if (const PortResult r = port.check_wire(); !r) {
        troubles.wire_unreadable(r);
        return 0;
    }
    return 1;
}

int purge_port(PortTroubles& troubles, PortBackend& port) {
    const PurgeResult r = port.purge();
    // A printer holding CTS low keeps our bytes queued: the wait is bounded, and said so.
    if (r.drain_timed_out)
        troubles.drain_timed_out(r.waited_ms);
    return r.ok ? 1 : 0;
}

int write_port(PortTroubles& troubles, PortBackend& port, const uint8_t* data, uint32_t length) {
    return checked(troubles, port, port.write(data, length));
}

int write_read_port(PortTroubles& troubles, PortBackend& port, const uint8_t* data, uint32_t length,
                    uint8_t* reply, uint32_t capacity, uint32_t limit_ms) {
    return checked(troubles, port, port.write_read(data, length, reply, capacity, limit_ms));
}

int read_port(PortTroubles& troubles, PortBackend& port, uint8_t* buffer, uint32_t capacity,
              uint32_t limit_ms) {
    return checked(troubles, port, port.read(buffer, capacity, limit_ms));
}

int read_port_block(PortTroubles& troubles, PortBackend& port, uint8_t* buffer, uint32_t count,
                    uint32_t limit_ms) {
    return checked(troubles, port, port.read_block(buffer, count, limit_ms));
}

}  // namespace vx
