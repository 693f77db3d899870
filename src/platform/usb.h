// USB printer device access: finding the printers attached by USB and talking to one over its
// two bulk pipes. The Win32 implementation goes through SetupDi and the printer class
// driver's pipes (PIPE00 writes, PIPE01 reads); the POSIX one through libusb (the printer
// interface's bulk OUT and bulk IN endpoints).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// One present device that exposes the USB printer interface. Which devices this program
// accepts (by hardware id) is decided by the port layer, not here.
struct UsbPrinterInfo {
    std::string path;  // what open() needs to reach the device
    // The first string of the device's hardware id property as the system gives it, e.g.
    // "USB\VID_7A1E&PID_0030&REV_0100". The POSIX side writes it in the same form.
    std::string hardware_id;
    bool has_port_number = false;
    uint32_t port_number = 0;  // the "USBnn" number (0 to 255); only with has_port_number
};

// What a write that ran into its limit returns, on every system.
constexpr uint32_t USB_WRITE_TIMED_OUT = 1460;

// One open printer. Destruction cancels what is outstanding and closes both pipes.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // One write of `length` bytes on the write pipe, waited for to completion or at most
    // `timeout_ms`: a write still outstanding then is cancelled, and the cancel waited for
    // within a limit of its own, before the call returns. Returns 0 with `written` set, or
    // the system's error code (`written` is 0 after a failed or timed-out write).
    virtual uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written,
                           uint32_t timeout_ms) = 0;
    // One read request of `capacity` bytes on the read pipe, waited for up to `timeout_ms`.
    // A request that has not completed by then is cancelled before the call returns (bytes
    // that completed during the cancel are returned), so no request outlives the call.
    // Returns 0 with `got` set (0 after a time-out), or the system's error code with `got` 0.
    virtual uint32_t read(uint8_t* data, uint32_t capacity, uint32_t& got, uint32_t timeout_ms) = 0;
};

// What a listing can tell of a printer without taking it from anyone.
enum class UsbProbe { free, kernel_driver, no_access };

class UsbPrinters {
public:
    virtual ~UsbPrinters() = default;
    // False when the system's USB access could not be started (no USB library or support).
    virtual bool available() const = 0;
    // Every present device with the printer interface, in the system's order. False when
    // the system's device list cannot be read.
    virtual bool list(std::vector<UsbPrinterInfo>& out) = 0;
    // Opens both pipes of the device; null on failure, with the system's last error set.
    virtual std::unique_ptr<UsbDevice> open(const UsbPrinterInfo& printer) = 0;
    // Whether open() could reach the printer. Where opening takes the printer from a kernel
    // driver, the probe does not open it that far.
    virtual UsbProbe probe(const UsbPrinterInfo& printer) {
        return open(printer) != nullptr ? UsbProbe::free : UsbProbe::no_access;
    }
};

}  // namespace vx
