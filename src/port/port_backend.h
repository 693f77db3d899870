// The port contract: every kind of port (serial, parallel, USB) is one backend behind it.
// A backend knows its settings and the machine services, nothing of the program around it:
// it reports nothing itself, every failure comes back as a value for the caller to report.
// The protocol asks a backend's capabilities instead of testing the port kind, wherever the
// behaviour is a property of the port.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace vx {

// The flash.ini codes of the port kinds; any other code is a serial port.
enum class PortKind : uint16_t { serial = 1, parallel = 2, usb = 3 };

// A serial line's settings, always set as a whole.
struct LineSettings {
    uint32_t baud = 9600;
    uint8_t data_bits = 8;
    uint8_t parity = 0;  // 0 none, 1 odd, 2 even
    uint8_t stop_bits = 0;
    bool operator==(const LineSettings&) const = default;
};

// The line every printer listens on before the header names the download speed.
inline constexpr LineSettings BOOT_LINE{9600, 8, 0, 0};

struct PortSettings {
    std::string name;
    PortKind kind = PortKind::serial;
    LineSettings line;  // the configured line (serial ports only)
};

enum class PortError {
    none,
    not_found,        // no such port
    access_denied,    // the system refuses it to this user
    busy,             // another program holds it
    unavailable,      // the system's access to this kind of port could not be started
    printer_off,      // the port opened but no printer answers on it (serial: DSR off)
    no_modem_status,  // the modem status cannot be read; the printer then counts as off
    line_refused,     // the line settings were refused
    io_failed,        // a read or write failed
    timed_out,        // a wait reached its limit
    not_open,
};

// The outcome of an operation; `text` is the system's text captured at the failure and
// `code` its error code where the port kind has one.
struct PortResult {
    PortError error = PortError::none;
    std::string text;
    uint32_t code = 0;
    const char* where = "";  // the request that failed
    bool ok() const { return error == PortError::none; }
    explicit operator bool() const { return ok(); }
};

// A purge always discards the input; a printer holding CTS low may keep our output queued
// past the bounded drain wait, which the caller may want to say.
struct PurgeResult {
    bool ok = false;
    bool drain_timed_out = false;
    uint32_t waited_ms = 0;
};

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

// Counts are bytes; a count of 0 is a failure or nothing received. Every wait has its limit
// in the call.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual PortCapabilities capabilities() const = 0;
    virtual bool is_open() const = 0;
    const PortSettings& settings() const { return settings_; }

    // Takes the port. A port another program could share (a serial port a printer queue
    // names) is checked by the caller between open() and start().
    virtual PortResult open() = 0;
    // Checks that a printer is there and sets the line: the boot line or the configured one.
    virtual PortResult start(bool boot_line) {
        (void)boot_line;
        return {};
    }
    virtual void close() = 0;
    // Bytes written; 0 when the write failed. Without a reply to wait for, a write is a
    // write_read that asks for none.
    virtual int write(const uint8_t* data, uint32_t length) {
        return write_read(data, length, nullptr, 0, 0);
    }
    // Writes, then collects up to `capacity` bytes of reply within `limit_ms`; without a
    // reply buffer, bytes written. 0 when the write failed.
    virtual int write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                           uint32_t limit_ms) = 0;
    // Up to capacity - 1 bytes plus a terminator where there is room.
    virtual int read(uint8_t* buffer, uint32_t capacity, uint32_t limit_ms) = 0;
    // Exactly `count` bytes or what arrived within the limit; ports that read whole
    // transfers take it as a read.
    virtual int read_block(uint8_t* buffer, uint32_t count, uint32_t limit_ms) {
        return read(buffer, count, limit_ms);
    }
    // Discards pending input; never bytes already written.
    virtual PurgeResult purge() = 0;
    // Sets the line as a whole. Ports without a line accept.
    virtual PortResult set_line(const LineSettings& line) {
        (void)line;
        return {};
    }
    // The last error of the kind's own requests, for the caller's report.
    const PortResult& last_failure() const { return failure_; }

    // ---- modem lines (capabilities().modem_lines) ----
    // The printer is still attached: the modem status can be read.
    virtual PortResult check_wire() { return {}; }
    // Raises (on) or drops RTS or DTR; false when the line cannot be set.
    virtual bool set_modem_line(ModemLine line, bool on) {
        (void)line, (void)on;
        return false;
    }
    bool set_rts() { return set_modem_line(ModemLine::rts, true); }
    // ---- maximum-speed report (capabilities().max_baud_report) ----
    virtual bool max_baud(uint32_t& flag) {
        flag = 0;
        return false;
    }

protected:
    explicit PortBackend(PortSettings settings) : settings_(std::move(settings)) {}
    PortResult fail(PortError error, std::string text = {}, uint32_t code = 0,
                    const char* where = "") {
        failure_ = PortResult{error, std::move(text), code, where};
        return failure_;
    }
    void clear_failure() { failure_ = {}; }
    PortSettings settings_;

private:
    PortResult failure_;
};

// The one place where the port kind picks the backend.
std::unique_ptr<PortBackend> make_port_backend(Platform& platform, const PortSettings& settings);

// ---- what the setup page and the checks ask without opening a port ----
// 1 when the parallel port exists: it opens, or its device is not ready.
bool parallel_port_present(ParallelPorts& ports, const char* name);

}  // namespace vx
