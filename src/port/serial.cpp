// Serial (COM) port: presence tests, line settings, reads under the Windows read time-out
// rule, writes, and the hex command exchange.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/cls_flash.h"
#include "app/message_format.h"
#include "app/message_ids.h"
#include "port/serial_port.h"

namespace vx {

namespace {

constexpr uint32_t BOOT_LINE_BAUD = 9600;
constexpr char EVENT_CHAR = 0x03;
constexpr uint32_t WRITE_READ_TIMEOUT_MS = 2000;
constexpr uint32_t HEX_REPLY_TIMEOUT_MS = 50;
constexpr uint32_t HEX_WORK_BYTES = 256;
constexpr uint32_t HEX_CHUNK = 8;

void apply_line_settings(const Cls_flash& f, CommState& s, int use_boot_line) {
    if (use_boot_line) {
        s.baud = BOOT_LINE_BAUD;
        s.byte_size = 8;
        s.parity = 0;
        s.stop_bits = 0;
        s.parity_check = false;
    } else {
        s.baud = f.line_baud;
        s.byte_size = f.data_bits;
        s.parity = f.parity;
        s.stop_bits = f.stop_bits;
        s.parity_check = f.parity != 0;
    }
    s.dsr_sensitivity = false;
    s.evt_char = EVENT_CHAR;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string upper(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Every read sets its own time-outs: interval, multiplier and constant all equal.
void set_read_timeout(SerialDevice& dev, uint32_t timeout_ms) {
    dev.set_read_timeouts(ReadTimeouts{timeout_ms, timeout_ms, timeout_ms});
}

// Reads single bytes until one does not come or capacity - 1 are stored; the first read is
// always made. The terminating 0 is written only where the buffer has room for it, so a
// capacity of 1 gets its byte and nothing past it.
int collect_bytes(SerialDevice& dev, uint8_t* buffer, uint32_t capacity) {
    std::memset(buffer, 0, capacity);
    const uint32_t limit = capacity > 1 ? capacity - 1 : 1;
    uint32_t stored = 0;
    do {
        uint8_t byte = 0;
        uint32_t got = 0;
        if (!dev.read(&byte, 1, got) || got == 0) {
            break;
        }
        buffer[stored++] = byte;
    } while (stored < limit);
    if (stored < capacity) {
        buffer[stored] = 0;
    }
    return static_cast<int>(stored);
}

}  // namespace

int port_used_by_printer(Platform& platform, const char* port, std::string& printer_name) {
    printer_name.clear();
    std::vector<PrinterQueue> queues;
    if (!platform.printers.list(queues)) {
        return 0;  // no list: assume the port is taken
    }
    const std::string key = upper(std::string(port != nullptr ? port : "") + ":");
    for (const PrinterQueue& q : queues) {
        if (upper(q.port) == key) {
            printer_name = q.name;
            return 0;
        }
    }
    return 1;
}

PortCapabilities SerialPort::capabilities() const {
    PortCapabilities caps;
    caps.modem_lines = true;
    caps.forced_sync_probe = true;
    caps.max_baud_report = true;
    caps.shows_line_speed = true;
    return caps;
}

int SerialPort::open(int use_boot_line) {
    Platform& platform = f_.platform;
    const char* name = f_.config.port_name;
    device_ = platform.serial.open(name);
    if (device_ == nullptr) {
        // No message box here (the caller reports the failure); the trace says why and what
        // to do about it.
        const OpenFailure why = platform.serial.last_open_failure();
        const std::string text = platform.errors.error_text(platform.errors.last_error());
        switch (why) {
            case OpenFailure::not_found:
                f_.report.trace_line(
                    "[FLASH][open_com] Port %s not found: check the PORT setting.\n", name);
                break;
            case OpenFailure::access_denied:
                f_.report.trace_line("[FLASH][open_com] Port %s: permission denied. %s\n", name,
                                     platform.serial.access_denied_advice());
                break;
            case OpenFailure::busy:
                f_.report.trace_line(
                    "[FLASH][open_com] Port %s is in use by another program: close it and "
                    "try again.\n",
                    name);
                break;
            default:
                f_.report.trace_line("[FLASH][open_com] Port %s cannot be opened: %s\n", name,
                                     text.c_str());
                break;
        }
        return 0;
    }

    if (f_.report.mode() == INTERACTIVE_MODE) {
        std::string printer;
        if (!port_used_by_printer(platform, name, printer)) {
            f_.report.trace_line("[FLASH][open_com] Port %s in use by Printer %s \n", name,
                                 printer.c_str());
            const std::string text = format_catalogue(f_.get_message(msg::PORT_HAS_PRINTER),
                                                      {printer.c_str(), name, name});
            f_.report.user_message(nullptr, f_.get_message(msg::ERROR_CAPTION), text.c_str(),
                                   BOX_ICONEXCLAMATION);
            return 0;
        }
    }

    uint32_t status = 0;
    if (!device_->modem_status(status)) {
        // A device without modem lines cannot show that the printer is on.
        const std::string text = platform.errors.error_text(platform.errors.last_error());
        f_.report.trace_line("[FLASH][open_com] GetCommModemStatus failed on %s: %s\n", name,
                             text.c_str());
        status = 0;
    }
    if ((status & DSR_ON) == 0) {
        f_.report.trace_line("[FLASH][open_com] Printer connected to %s OFF DSR=0 \n", name);
        f_.report.ko_report("[Error 5] Printer OFF. - portname %s\n", name);
        return 0;
    }

    return set_line(use_boot_line);
}

int SerialPort::set_line(int use_boot_line) {
    CommState state;
    bool ok = device_ != nullptr && device_->get_comm_state(state);
    if (ok) {
        apply_line_settings(f_, state, use_boot_line);
        ok = device_->set_comm_state(state);
    }
    if (!ok) {
        char text[PATH_CHARS + 32];
        std::snprintf(text, sizeof text, "SetCommState : %s", f_.config.port_name);
        f_.report.flash_last_error_msg(text);
        return 0;
    }
    return 1;
}

void SerialPort::close() {
    device_.reset();
}

int SerialPort::check_wire() {
    uint32_t status = 0;
    if (device_ != nullptr) {
        device_->clear_error();
    }
    if (device_ == nullptr || !device_->modem_status(status)) {
        f_.report.flash_last_error_msg("GetCommModemStatus");
        return 0;
    }
    return 1;
}

bool SerialPort::set_modem_line(ModemLine line, bool on) {
    return device_ != nullptr && device_->set_modem_line(line, on);
}

int SerialPort::max_baud(uint32_t& flag) {
    flag = 0;
    uint32_t reported = 0;
    if (device_ == nullptr || !device_->max_baud(reported))
        return 0;
    flag = reported;
    return 1;
}

int SerialPort::purge() {
    if (device_ == nullptr)
        return 0;
    const bool ok = device_->purge();
    // A printer holding CTS low keeps our bytes queued: the wait is bounded, and said so.
    if (const PurgeDrain d = device_->last_purge_drain(); d.timed_out) {
        f_.report.trace_line(
            "[FLASH][purge_port] Output did not drain within %u ms: input discarded\n",
            static_cast<unsigned>(d.waited_ms));
    }
    return ok ? 1 : 0;
}

int SerialPort::read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) {
    if (buffer == nullptr || capacity == 0 || device_ == nullptr) {
        return 0;
    }
    set_read_timeout(*device_, timeout_ms);
    return collect_bytes(*device_, buffer, capacity);
}

int SerialPort::read_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) {
    if (buffer == nullptr || count == 0 || device_ == nullptr) {
        return 0;
    }
    std::memset(buffer, 0, count);
    set_read_timeout(*device_, timeout_ms);
    uint32_t got = 0;
    if (!device_->read(buffer, count, got)) {
        return 0;
    }
    return static_cast<int>(std::min(got, count));
}

int SerialPort::write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                           uint32_t capacity) {
    if (device_ == nullptr) {
        return 0;
    }
    uint32_t written = 0;
    if (!device_->write(data, length, written)) {
        return 0;
    }
    set_read_timeout(*device_, WRITE_READ_TIMEOUT_MS);
    if (reply == nullptr || capacity == 0) {
        return static_cast<int>(written);
    }
    return collect_bytes(*device_, reply, capacity);
}

int SerialPort::write(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) {
    if (device_ == nullptr) {
        return 0;
    }
    uint32_t written = 0;
    device_->write(data, length, written);  // a failed write shows in the count only
    if (reply == nullptr || capacity == 0) {
        return static_cast<int>(written);
    }
    // The reply is collected under whatever read time-outs the last read left in force.
    return collect_bytes(*device_, reply, capacity);
}

int SerialPort::send_hex_command(const char* text, uint32_t length, uint8_t* reply,
                                 uint32_t capacity, int hex) {
    if (device_ == nullptr) {
        return 0;
    }
    uint8_t work[HEX_WORK_BYTES] = {};
    const uint8_t* out = reinterpret_cast<const uint8_t*>(text);
    uint32_t count = text != nullptr ? length : 0;
    if (hex) {
        // Two digits per byte; an odd digit or a non-hex character ends the command.
        count = 0;
        for (const char* p = text; p != nullptr && count < HEX_WORK_BYTES && p[0] && p[1]; p += 2) {
            const int high = hex_digit(p[0]);
            const int low = hex_digit(p[1]);
            if (high < 0 || low < 0) {
                break;
            }
            work[count++] = static_cast<uint8_t>(high * 16 + low);
        }
        out = work;
    }
    uint32_t written = 0;
    if (count > 0) {
        device_->write(out, count, written);
    }
    set_read_timeout(*device_, HEX_REPLY_TIMEOUT_MS);
    if (reply == nullptr || capacity == 0) {
        return static_cast<int>(written);
    }

    std::memset(reply, 0, std::min<uint32_t>(4, capacity));
    uint32_t collected = 0;
    bool first = true;
    while (collected < capacity) {
        uint8_t chunk[HEX_CHUNK] = {};
        uint32_t got = 0;
        const bool ok = device_->read(chunk, HEX_CHUNK, got);
        got = std::min(got, HEX_CHUNK);
        if (first && got != HEX_CHUNK) {
            return 0;
        }
        first = false;
        if (got == 0) {
            break;
        }
        // The reply never grows past the caller's capacity.
        const uint32_t take = std::min(got, capacity - collected);
        std::memcpy(reply + collected, chunk, take);
        collected += take;
        if (!ok) {
            break;
        }
    }
    return static_cast<int>(collected);
}

}  // namespace vx
