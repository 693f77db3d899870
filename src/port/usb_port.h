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

class usb_port final : public PortBackend {
public:
    explicit usb_port(Cls_flash& flash) : f_(flash) {}
    ~usb_port() override { usb_close(); }
    usb_port(const usb_port&) = delete;
    usb_port& operator=(const usb_port&) = delete;

    PortCapabilities capabilities() const override;
    bool is_open() const override { return device_ != nullptr; }

    // A printer that does not open is reported as switched off ("[Error 5]").
    int open(int use_boot_line) override;
    void close() override { usb_close(); }
    int write(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) override {
        return usb_write_read(data, length, reply, capacity, 0);
    }
    int write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                   uint32_t capacity) override;
    int read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) override {
        return usb_read(buffer, capacity, timeout_ms);
    }
    int read_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) override {
        return usb_read(buffer, count, timeout_ms);
    }
    int purge() override;

    // The setup page's listing: 1 when some accepted printer has a port number.
    int usb_list_devices(std::vector<UsbPrinterInfo>& list);
    int usb_open(const char* port_name);
    // Bytes read when a reply is asked for, else bytes written; 0 on a write error.
    int usb_write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                       uint32_t timeout_ms);
    // Bytes read (at most `capacity`), 0 on time-out or error.
    int usb_read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms);
    void usb_close();
    // 0, or the system's error code; `written` is what went out. A short write is an error.
    uint32_t usb_write(const uint8_t* data, uint32_t length, uint32_t& written);

    bool acknowledged() const { return acknowledged_; }
    // Bytes of earlier read requests not yet handed to a caller.
    size_t surplus() const { return rx_end_ - rx_pos_; }

private:
    Cls_flash& f_;
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
