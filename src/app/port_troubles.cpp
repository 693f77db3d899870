#include "app/port_troubles.h"

#include <cstdio>

namespace vx {

namespace {

constexpr const char* PURGE_TAG = "[FLASH][purge_port]";

}  // namespace

void PortTroubleReport::line_refused(const PortBackend& port, const PortResult& result) {
    report_.system_error_msg(("SetCommState : " + port.settings().name).c_str(), result.text);
}

void PortTroubleReport::wire_unreadable(const PortResult& result) {
    report_.system_error_msg("GetCommModemStatus", result.text);
}

void PortTroubleReport::drain_timed_out(uint32_t waited_ms) {
    report_.trace_line("%s Output did not drain within %u ms: input discarded\n", PURGE_TAG,
                       static_cast<unsigned>(waited_ms));
}

void PortTroubleReport::request_failed(const PortResult& result) {
    char text[64];
    std::snprintf(text, sizeof text, "** ECP %s Error %u **",
                  result.where[0] == 'W' ? "Write" : "Read", static_cast<unsigned>(result.code));
    if (report_.interactive()) {
        report_.user_message(nullptr, result.where, text, BOX_OK);
    } else {
        report_.trace_line("[Cls_parallel][%s] %s\n", result.where, text);
    }
}

}  // namespace vx
