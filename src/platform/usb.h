// USB printer device access: finding the printers this program can flash and talking to one
// over its two bulk pipes. The Win32 implementation goes through SetupDi and the printer
// class driver's pipes; the POSIX one through libusb.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// One printer found by the enumeration.
struct UsbPrinterInfo {
    std::string path;         // what open() needs to reach the device
    std::string hardware_id;  // upper case, e.g. "VID_7A1E&PID_0030"
    bool has_port_number = false;
    uint32_t port_number = 0;  // the "USBnn" number; only valid with has_port_number
};

// One open printer. Destruction closes both pipes; no request outlives the call that made it.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // Writes all of `length` or fails; a short write is a failure.
    virtual bool write(const uint8_t* data, uint32_t length, uint32_t& written) = 0;
    // One read request of up to `capacity` bytes; `got` 0 after `timeout_ms` without data.
    // False only when the device failed (unplugged, I/O error).
    virtual bool read(uint8_t* data, uint32_t capacity, uint32_t& got, uint32_t timeout_ms) = 0;
};

class UsbPrinters {
public:
    virtual ~UsbPrinters() = default;
    // False when this build has no USB access at all.
    virtual bool available() const = 0;
    // The accepted printers that are present, at most `limit`.
    virtual std::vector<UsbPrinterInfo> list(size_t limit) = 0;
    // Null on failure, with the system's last error set.
    virtual std::unique_ptr<UsbDevice> open(const UsbPrinterInfo& printer) = 0;
};

}  // namespace vx
