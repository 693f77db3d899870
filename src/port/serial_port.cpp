// Serial (COM) port: presence tests, line settings, reads under the Windows read time-out
// rule, and writes.
#include "port/serial_port.h"

#include <algorithm>
#include <cstring>

namespace vx {

namespace {

constexpr char EVENT_CHAR = 0x03;

void apply_line_settings(const LineSettings& line, CommState& s) {
    s.baud = line.baud;
    s.byte_size = line.data_bits;
    s.parity = line.parity;
    s.stop_bits = line.stop_bits;
    s.parity_check = line.parity != 0;
    s.dsr_sensitivity = false;
    s.evt_char = EVENT_CHAR;
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

PortError open_error(OpenFailure why) {
    switch (why) {
        case OpenFailure::not_found:
            return PortError::not_found;
        case OpenFailure::access_denied:
            return PortError::access_denied;
        case OpenFailure::busy:
            return PortError::busy;
        default:
            return PortError::io_failed;
    }
}

}  // namespace

PortCapabilities SerialPort::capabilities() const {
    PortCapabilities caps;
    caps.modem_lines = true;
    caps.forced_sync_probe = true;
    caps.max_baud_report = true;
    caps.shows_line_speed = true;
    return caps;
}

PortResult SerialPort::open() {
    device_ = ports_.open(settings_.name.c_str());
    if (device_ == nullptr) {
        const OpenFailure why = ports_.last_open_failure();
        return fail(open_error(why), system_text());
    }
    return {};
}

PortResult SerialPort::start(bool boot_line) {
    uint32_t status = 0;
    PortResult modem;
    if (device_ == nullptr || !device_->modem_status(status)) {
        // A device without modem lines cannot show that the printer is on.
        modem = fail(PortError::no_modem_status, system_text());
        status = 0;
    }
    if ((status & DSR_ON) == 0) {
        return modem.ok() ? fail(PortError::printer_off) : modem;
    }
    return set_line(boot_line ? BOOT_LINE : settings_.line);
}

PortResult SerialPort::set_line(const LineSettings& line) {
    CommState state;
    bool ok = device_ != nullptr && device_->get_comm_state(state);
    if (ok) {
        apply_line_settings(line, state);
        ok = device_->set_comm_state(state);
    }
    if (!ok) {
        return fail(PortError::line_refused, system_text());
    }
    return {};
}

void SerialPort::close() {
    device_.reset();
}

PortResult SerialPort::check_wire() {
    uint32_t status = 0;
    if (device_ != nullptr) {
        device_->clear_error();
    }
    if (device_ == nullptr || !device_->modem_status(status)) {
        return fail(PortError::no_modem_status, system_text());
    }
    return {};
}

bool SerialPort::set_modem_line(ModemLine line, bool on) {
    return device_ != nullptr && device_->set_modem_line(line, on);
}

bool SerialPort::max_baud(uint32_t& flag) {
    flag = 0;
    uint32_t reported = 0;
    if (device_ == nullptr || !device_->max_baud(reported))
        return false;
    flag = reported;
    return true;
}

PurgeResult SerialPort::purge() {
    if (device_ == nullptr)
        return {};
    PurgeResult result;
    result.ok = device_->purge();
    const PurgeDrain d = device_->last_purge_drain();
    result.drain_timed_out = d.timed_out;
    result.waited_ms = d.waited_ms;
    return result;
}

int SerialPort::read(uint8_t* buffer, uint32_t capacity, uint32_t limit_ms) {
    if (buffer == nullptr || capacity == 0 || device_ == nullptr) {
        return 0;
    }
    set_read_timeout(*device_, limit_ms);
    return collect_bytes(*device_, buffer, capacity);
}

int SerialPort::read_block(uint8_t* buffer, uint32_t count, uint32_t limit_ms) {
    if (buffer == nullptr || count == 0 || device_ == nullptr) {
        return 0;
    }
    std::memset(buffer, 0, count);
    set_read_timeout(*device_, limit_ms);
    uint32_t got = 0;
    if (!device_->read(buffer, count, got)) {
        return 0;
    }
    return static_cast<int>(std::min(got, count));
}

int SerialPort::write(const uint8_t* data, uint32_t length) {
    if (device_ == nullptr) {
        return 0;
    }
    uint32_t written = 0;
    device_->write(data, length, written);  // a failed write shows in the count only
    return static_cast<int>(written);
}

int SerialPort::write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                           uint32_t limit_ms) {
    if (device_ == nullptr) {
        return 0;
    }
    uint32_t written = 0;
    if (!device_->write(data, length, written)) {
        return 0;
    }
    set_read_timeout(*device_, limit_ms);
    if (reply == nullptr || capacity == 0) {
        return static_cast<int>(written);
    }
    return collect_bytes(*device_, reply, capacity);
}

}  // namespace vx
