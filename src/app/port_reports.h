// The program's side of the port: the port flash.ini names, and its opening with the trace
// lines, KO lines and boxes that tell the user why it failed.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "app/catalogue.h"
#include "platform/platform.h"
#include "port/port_backend.h"
#include "protocol/port_exchange.h"
#include "report/reporter.h"
#include "session/run_config.h"

namespace vx {

// The port flash.ini names, with its configured line.
PortSettings configured_port(const RunConfig& config);
std::unique_ptr<PortBackend> make_configured_port(Platform& platform, const RunConfig& config);

// What opening a port reports through: the reporter, the machine (its printer queues, the
// serial device's advice) and the catalogue's texts of the in-use box.
struct PortOpening {
    Reporter& report;
    Platform& platform;
    const MessageCatalogue& texts;
};

// 1 when the port is free, 0 when a printer queue uses it (its name in printer_name) or the
// queues cannot be listed.
int port_used_by_printer(Platform& platform, const char* port, std::string& printer_name);

// Opens the port and checks the printer is there, on the boot line or the configured one;
// a failure is traced and, where the user must know, a KO line or a box. 1 opened.
int open_port(const PortOpening& f, PortBackend& port, bool boot_line);

}  // namespace vx
