// USB printer port: the printer is found among the system's USB printer interfaces by its
// hardware id, chosen by the number in the port name ("USB01"), and opened with a one-byte
// handshake; the close byte tells it the session is over.
#include "port/usb_port.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vx {

namespace {

// A write may take its bytes at the slowest rate a printer's bulk pipe has (a full-speed
// pipe moves about 1000 bytes per ms) and a margin: one that takes nothing for this long has
// stopped.
constexpr uint32_t USB_SLOWEST_BYTES_PER_MS = 64;
constexpr uint32_t USB_WRITE_MARGIN_MS = 5000;
constexpr uint32_t USB_PURGE_TIMEOUT_MS = 1000;

constexpr uint8_t OPEN_REQUEST = 0x02;
constexpr uint8_t OPEN_ACK = 0x06;
constexpr uint8_t OPEN_FALLBACK[2] = {0x1B, 0x6C};
constexpr uint8_t CLOSE_MESSAGE = 0x03;
constexpr int HANDSHAKE_ATTEMPTS = 5;
constexpr uint32_t HANDSHAKE_REPLY_MS = 500;
constexpr uint32_t HANDSHAKE_PAUSE_MS = 200;

constexpr const char* ACCEPTED_IDS[] = {"VID_7A1E&PID_0001", "VID_7A1E&PID_0030",
                                        "VID_7A1E&PID_0031"};
constexpr size_t ID_CHARS = 17;
constexpr size_t MAX_PORT_NAME = 5;  // "USB" and two characters

}  // namespace

uint32_t usb_write_limit_ms(uint32_t length) {
    return length / USB_SLOWEST_BYTES_PER_MS + USB_WRITE_MARGIN_MS;
}

bool match_hardware_id(const std::string& hardware_id) {
    std::string id = hardware_id;
    for (char& c : id)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t at = id.find("VID");
    if (at == std::string::npos)
        return false;
    const std::string key = id.substr(at, ID_CHARS);
    return std::any_of(std::begin(ACCEPTED_IDS), std::end(ACCEPTED_IDS),
                       [&](const char* accepted) { return key == accepted; });
}

int usb_find_devices(UsbPrinters& usb, std::vector<UsbPrinterInfo>& list) {
    list.clear();
    std::vector<UsbPrinterInfo> present;
    if (!usb.list(present))
        return 0;
    bool numbered = false;
    for (UsbPrinterInfo& p : present) {
        if (list.size() >= USB_MAX_DEVICES)
            break;
        if (!match_hardware_id(p.hardware_id))
            continue;
        if (p.has_port_number) {
            p.port_number &= 0xFF;  // the driver's value is read as one byte
            numbered = true;
        }
        list.push_back(std::move(p));
    }
    return numbered ? 1 : 0;
}

std::string usb_port_name(const UsbPrinterInfo& printer) {
    if (!printer.has_port_number)
        return {};
    char name[16];
    std::snprintf(name, sizeof name, "USB%02u", static_cast<unsigned>(printer.port_number));
    return name;
}

const UsbPrinterInfo* usb_choose_printer(const std::vector<UsbPrinterInfo>& devices,
                                         const char* port_name) {
    // Only a printer with a port number can be named, so only such a printer is opened: the
    // one whose number the name gives (the last of several), else the first numbered one.
    const UsbPrinterInfo* chosen = nullptr;
    for (const UsbPrinterInfo& p : devices) {
        if (p.has_port_number) {
            chosen = &p;
            break;
        }
    }
    if (devices.size() > 1 && usb_port_name_ok(port_name)) {
        const unsigned long wanted = std::strtoul(port_name + 3, nullptr, 10);
        for (const UsbPrinterInfo& p : devices) {
            if (p.has_port_number && p.port_number == wanted)
                chosen = &p;
        }
    }
    return chosen;
}

PortCapabilities UsbPort::capabilities() const {
    PortCapabilities caps;
    caps.transfer = TransferKind::usb_pages;
    return caps;
}

int usb_list_printers(UsbPrinters& usb, std::vector<UsbPrinterInfo>& list) {
    if (!usb.available()) {
        list.clear();
        return 0;
    }
    return usb_find_devices(usb, list);
}

bool usb_port_name_ok(const char* port_name) {
    return port_name != nullptr && std::strlen(port_name) <= MAX_PORT_NAME &&
           std::strncmp(port_name, "USB", 3) == 0;
}

PortResult UsbPort::open() {
    const char* port_name = settings_.name.c_str();
    if (usb_port_name_ok(port_name) && !usb_.available()) {
        return fail(PortError::unavailable);
    }
    if (open_session()) {
        return {};
    }
    return fail(PortError::printer_off);
}

bool UsbPort::open_session() {
    const char* port_name = settings_.name.c_str();
    if (!usb_port_name_ok(port_name)) {
        return false;
    }
    if (!usb_find_devices(usb_, devices_) || devices_.empty()) {
        devices_.clear();
        return false;
    }

    const UsbPrinterInfo* chosen = usb_choose_printer(devices_, port_name);
    if (chosen == nullptr)
        return false;

    if (device_ != nullptr)
        return true;  // already open: no second handshake
    device_ = usb_.open(*chosen);
    if (device_ == nullptr)
        return false;
    acknowledged_ = false;
    rx_pos_ = rx_end_ = 0;

    for (int attempt = 0; attempt < HANDSHAKE_ATTEMPTS; ++attempt) {
        uint8_t reply[1] = {};
        const int got = write_read(&OPEN_REQUEST, 1, reply, 1, HANDSHAKE_REPLY_MS);
        // What came in the answer's packet besides it (06 17) is no answer to anything the
        // detection will ask: it must not be read as the printer's sync byte.
        rx_pos_ = rx_end_ = 0;
        if (got == 1 && reply[0] == OPEN_ACK) {
            acknowledged_ = true;
            return true;
        }
        if (got != 1) {
            // No answer at all: a printer that does not speak the handshake.
            uint32_t written = 0;
            write_pipe(OPEN_FALLBACK, sizeof OPEN_FALLBACK, written);
            return true;
        }
        clock_.sleep_ms(HANDSHAKE_PAUSE_MS);
    }
    return true;
}

uint32_t UsbPort::write_pipe(const uint8_t* data, uint32_t length, uint32_t& written) {
    constexpr uint32_t CANT_WRITE = 1013;
    constexpr uint32_t WRITE_FAULT = 29;
    if (device_ == nullptr)
        return CANT_WRITE;
    written = 0;
    const uint32_t error = device_->write(data, length, written, usb_write_limit_ms(length));
    if (error != 0) {
        // A pipe that took nothing in time will not take the close byte either.
        if (error == USB_WRITE_TIMED_OUT)
            acknowledged_ = false;
        return error;
    }
    // A write that completes short has not delivered what the caller handed over.
    return written == length ? 0 : WRITE_FAULT;
}

int UsbPort::write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                        uint32_t limit_ms) {
    uint32_t written = 0;
    if (data != nullptr && write_pipe(data, length, written) != 0)
        return 0;
    if (reply != nullptr && capacity != 0)
        return read(reply, capacity, limit_ms);
    return static_cast<int>(written);
}

int UsbPort::read(uint8_t* buffer, uint32_t capacity, uint32_t limit_ms) {
    if (buffer == nullptr || capacity == 0)
        return 0;
    std::memset(buffer, 0, capacity);
    if (rx_pos_ < rx_end_) {
        // What an earlier request brought is handed over without a new request.
        const size_t take = std::min<size_t>(rx_end_ - rx_pos_, capacity);
        std::memcpy(buffer, rx_ + rx_pos_, take);
        rx_pos_ += take;
        return static_cast<int>(take);
    }
    uint32_t total = 0;
    while (total < capacity && device_ != nullptr) {
        uint32_t got = 0;
        rx_pos_ = rx_end_ = 0;
        if (device_->read(rx_, USB_READ_REQUEST, got, limit_ms) != 0 || got == 0)
            break;
        rx_end_ = std::min(got, USB_READ_REQUEST);
        const size_t take = std::min<size_t>(rx_end_, capacity - total);
        std::memcpy(buffer + total, rx_, take);
        rx_pos_ = take;
        total += static_cast<uint32_t>(take);
        // Only a full request may have more behind it.
        if (rx_end_ < USB_READ_REQUEST)
            break;
    }
    return static_cast<int>(total);
}

// A USB printer has no queue to discard: what is waiting, and what one read brings within a
// second, is dropped.
PurgeResult UsbPort::purge() {
    rx_pos_ = rx_end_ = 0;
    uint8_t scratch[1] = {};
    read(scratch, 1, USB_PURGE_TIMEOUT_MS);
    rx_pos_ = rx_end_ = 0;
    return {true, false, 0};
}

void UsbPort::close() {
    if (device_ != nullptr) {
        if (acknowledged_) {
            uint32_t written = 0;
            write_pipe(&CLOSE_MESSAGE, 1, written);
            acknowledged_ = false;
        }
        device_.reset();
    }
    devices_.clear();
    rx_pos_ = rx_end_ = 0;
}

}  // namespace vx
