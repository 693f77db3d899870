#include "protocol/port_exchange.h"

#include <cstdio>

namespace vx {

namespace {

constexpr const char* PURGE_TAG = "[FLASH][purge_port]";

// A failed parallel request: a box in interactive mode, traced otherwise, where nobody would
// be there to close it and the run would wait for ever.
int report_request(Reporter& report, const PortBackend& port, int result) {
    const PortResult& r = port.last_failure();
    if (result != 0 || r.ok() || r.where[0] == 0)
        return result;
    char text[64];
    std::snprintf(text, sizeof text, "** ECP %s Error %u **", r.where[0] == 'W' ? "Write" : "Read",
                  static_cast<unsigned>(r.code));
    if (report.interactive()) {
        report.user_message(nullptr, r.where, text, BOX_OK);
    } else {
        report.trace_line("[Cls_parallel][%s] %s\n", r.where, text);
    }
    return result;
}

}  // namespace

int set_port_line(Reporter& report, PortBackend& port, const LineSettings& line) {
    if (const PortResult r = port.set_line(line); !r) {
        report.system_error_msg(("SetCommState : " + port.settings().name).c_str(), r.text);
        return 0;
    }
    return 1;
}

int check_wire(Reporter& report, PortBackend& port) {
    if (const PortResult r = port.check_wire(); !r) {
        report.system_error_msg("GetCommModemStatus", r.text);
        return 0;
    }
    return 1;
}

int purge_port(Reporter& report, PortBackend& port) {
    const PurgeResult r = port.purge();
    // A printer holding CTS low keeps our bytes queued: the wait is bounded, and said so.
    if (r.drain_timed_out) {
        report.trace_line("%s Output did not drain within %u ms: input discarded\n", PURGE_TAG,
                          static_cast<unsigned>(r.waited_ms));
    }
    return r.ok ? 1 : 0;
}

int write_port(Reporter& report, PortBackend& port, const uint8_t* data, uint32_t length) {
    return report_request(report, port, port.write(data, length));
}

int write_read_port(Reporter& report, PortBackend& port, const uint8_t* data, uint32_t length,
                    uint8_t* reply, uint32_t capacity, uint32_t limit_ms) {
    return report_request(report, port, port.write_read(data, length, reply, capacity, limit_ms));
}

int read_port(Reporter& report, PortBackend& port, uint8_t* buffer, uint32_t capacity,
              uint32_t limit_ms) {
    return report_request(report, port, port.read(buffer, capacity, limit_ms));
}

int read_port_block(Reporter& report, PortBackend& port, uint8_t* buffer, uint32_t count,
                    uint32_t limit_ms) {
    return report_request(report, port, port.read_block(buffer, count, limit_ms));
}

}  // namespace vx
