// The port contract: every kind of port (serial, parallel, USB) is one backend behind it.
// The protocol asks a backend's capabilities instead of testing the port kind, wherever the
// behaviour is a property of the port.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/serial.h"

namespace vx {

class Cls_flash;

// How the image pages travel: byte by byte with a paced write each (serial and parallel
// lines), or in page-sized writes over the USB pipes.
enum class TransferKind { bytewise, usb_pages };

struct PortCapabilities {
    // DSR presence test, RTS and DTR control and line settings: a serial line.
    bool modem_lines = false;
    // A printer that announces itself can be read before the download command is sent.
    bool forced_sync_probe = false;
    // The port reports its maximum speed, which decides the download speed in the header.
    bool max_baud_report = false;
    // The port has a line speed the main page can show; USB shows a blank instead.
    bool shows_line_speed = false;
    TransferKind transfer = TransferKind::bytewise;
};

// Every operation returns 1 (or a byte count) on success and 0 on failure, and reports its
// own failures (trace, KO line) where the port kind has something to say about them.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual PortCapabilities capabilities() const = 0;
    // Trace name of the port kind, e.g. for "not supported" lines.
    virtual bool is_open() const = 0;

    // Opens the configured port; the serial line at the boot speed when `use_boot_line`.
    virtual int open(int use_boot_line) = 0;
    virtual void close() = 0;
    // Writes, then collects a reply under the time-outs last in force.
    virtual int write(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) = 0;
    // Writes, then collects a reply within the port's reply time-out.
    virtual int write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                           uint32_t capacity) = 0;
    // Up to capacity - 1 bytes plus a terminator where there is room.
    virtual int read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) = 0;
    // Exactly `count` bytes or what arrived within the time-out.
    virtual int read_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) = 0;
    // Discards pending input; never bytes already written.
    virtual int purge() = 0;
    // Line settings: the boot line or the configured one. Ports without a line accept.
    virtual int set_line(int use_boot_line) {
        (void)use_boot_line;
        return 1;
    }

    // ---- modem lines (capabilities().modem_lines) ----
    // The printer is still attached: the modem status can be read.
    virtual int check_wire() { return 1; }
    // Raises (on) or drops RTS or DTR; false when the line cannot be set.
    virtual bool set_modem_line(ModemLine line, bool on) {
        (void)line, (void)on;
        return false;
    }
    bool set_rts() { return set_modem_line(ModemLine::rts, true); }
    // ---- maximum-speed report (capabilities().max_baud_report) ----
    virtual int max_baud(uint32_t& flag) {
        flag = 0;
        return 0;
    }
    // Hex-text command exchange of the emulation switch-off; serial lines only.
    virtual int send_hex_command(const char* text, uint32_t length, uint8_t* reply,
                                 uint32_t capacity, int hex) {
        (void)text, (void)length, (void)reply, (void)capacity, (void)hex;
        return 0;
    }
};

// The one place where the port kind picks the backend.
std::unique_ptr<PortBackend> make_port_backend(Cls_flash& flash, uint16_t port_type);

}  // namespace vx
