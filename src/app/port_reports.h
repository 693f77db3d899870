// The program's side of the port: the configured port's settings, and the trace lines, KO
// lines and boxes that tell what a port operation's result means to the user.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "app/flash_run.h"
#include "port/port_backend.h"

namespace vx {

// Reply limit of a command exchange.
constexpr uint32_t REPLY_LIMIT_MS = 2000;

// The port flash.ini names, with its configured line.
PortSettings configured_port(const FlashRun& f);
std::unique_ptr<PortBackend> make_configured_port(FlashRun& f);

// 1 when the port is free, 0 when a printer queue uses it (its name in printer_name) or the
// queues cannot be listed.
int port_used_by_printer(Platform& platform, const char* port, std::string& printer_name);

// Opens the port and checks the printer is there, on the boot line or the configured one;
// a failure is traced and, where the user must know, a KO line or a box. 1 opened.
int open_port(FlashRun& f, PortBackend& port, bool boot_line);
// 1 when the line was set; the system's text in a box or the trace otherwise.
int set_port_line(FlashRun& f, PortBackend& port, const LineSettings& line);
// 1 when the printer is still attached.
int check_wire(FlashRun& f, PortBackend& port);
int purge_port(FlashRun& f, PortBackend& port);
// The exchanges of the protocol: a failed request of a parallel port is reported as its own
// error box (traced outside interactive mode).
int write_port(FlashRun& f, PortBackend& port, const uint8_t* data, uint32_t length);
int write_read_port(FlashRun& f, PortBackend& port, const uint8_t* data, uint32_t length,
                    uint8_t* reply, uint32_t capacity, uint32_t limit_ms = REPLY_LIMIT_MS);
int read_port(FlashRun& f, PortBackend& port, uint8_t* buffer, uint32_t capacity,
              uint32_t limit_ms);
int read_port_block(FlashRun& f, PortBackend& port, uint8_t* buffer, uint32_t count,
                    uint32_t limit_ms);

}  // namespace vx
