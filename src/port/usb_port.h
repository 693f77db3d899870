// USB backend of the port contract: the printer's two bulk pipes, the choice of the printer by
// the number in the port name, and the short session handshake that opens and closes it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb.h"
#include "port/port_backend.h"

namespace vx {

constexpr size_t USB_MAX_DEVICES = 10;
constexpr uint32_t USB_READ_REQUEST = 2048;

// The limit of one write of `length` bytes on the write pipe.
uint32_t usb_write_limit_ms(uint32_t length);

// True when the first string of a hardware id names a printer this program can flash: the 17
// characters from the first "VID" (upper-cased) are one of the accepted ids.
bool match_hardware_id(const std::string& hardware_id);

// The accepted printers of a system listing, at most USB_MAX_DEVICES, in the system's order.
// Returns 1 when some of them has a port number (only those can be named "USBnn"), else 0.
int usb_find_devices(UsbPrinters& usb, std::vector<UsbPrinterInfo>& list);

// The port name of a listed printer, "USB" and at least two digits; empty for a printer
// without a port number.
std::string usb_port_name(const UsbPrinterInfo& printer);

// "USB" and at most two more characters: the only names a USB port opens.
bool usb_port_name_ok(const char* port_name);

// The printer a port name opens among the accepted ones: only a printer with a port number
// can be named, the one whose number the name gives (the last of several), else the first
// numbered one. Null when none has a number.
const UsbPrinterInfo* usb_choose_printer(const std::vector<UsbPrinterInfo>& devices,
                                         const char* port_name);

// The accepted printers of the system's listing, for the setup page: 1 when some of them has
// a port number; 0 with an empty list when the system's USB access is not there.
int usb_list_printers(UsbPrinters& usb, std::vector<UsbPrinterInfo>& list);

class UsbPort final : public PortBackend {
public:
    UsbPort(PortSettings settings, UsbPrinters& usb, Clock& clock)
        : PortBackend(std::move(settings)), usb_(usb), clock_(clock) {}
    ~UsbPort() override { close(); }
    UsbPort(const UsbPort&) = delete;
    UsbPort& operator=(const UsbPort&) = delete;

    PortCapabilities capabilities() const override;
    bool is_open() const override { return device_ != nullptr; }

    // Chooses the printer by the port name and opens its session: unavailable when the
    // system's USB access could not be started, printer_off for any other failure.
    PortResult open() override;
    void close() override;
    // Bytes read when a reply is asked for, else bytes written; 0 on a write error.
    int write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                   uint32_t limit_ms) override;
    // Bytes read (at most `capacity`), 0 on time-out or error.
    int read(uint8_t* buffer, uint32_t capacity, uint32_t limit_ms) override;
    PurgeResult purge() override;

    // 0, or the system's error code; `written` is what went out. A short write is an error.
    uint32_t write_pipe(const uint8_t* data, uint32_t length, uint32_t& written);

    bool acknowledged() const { return acknowledged_; }
    // Bytes of earlier read requests not yet handed to a caller.
    size_t surplus() const { return rx_end_ - rx_pos_; }

private:
    bool open_session();

    UsbPrinters& usb_;
    Clock& clock_;
    std::unique_ptr<UsbDevice> device_;
    std::vector<UsbPrinterInfo> devices_;
    bool acknowledged_ = false;
    // A request may bring more than its caller asked for; the rest waits here for the next
    // read instead of being lost.
    uint8_t rx_[USB_READ_REQUEST] = {};
    size_t rx_pos_ = 0;
    size_t rx_end_ = 0;
};

}  // namespace vx
