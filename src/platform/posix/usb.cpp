// USB printers through libusb. Linux has no printer class driver with named pipes: the write
// pipe is the printer interface's bulk OUT endpoint and the read pipe its bulk IN endpoint.
// The kernel's printer driver (usblp) is detached while we hold the interface and given back
// when we let it go. A printer's port number is its place among our printers ordered by bus
// and port chain, so the same cabling gives the same "USBnn" name on every run.
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <tuple>
#include <vector>

#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

constexpr uint16_t PRINTER_VENDOR = 0x7A1E;
constexpr uint8_t PRINTER_CLASS = 7;
// Long enough for any printer to give back a cancelled request.
constexpr int CANCEL_WAIT_MS = 2000;

class Context {
public:
    Context() {
        if (libusb_init(&ctx_) != 0)
            ctx_ = nullptr;
    }
    ~Context() {
        if (ctx_ != nullptr)
            libusb_exit(ctx_);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    libusb_context* get() const { return ctx_; }

private:
    libusb_context* ctx_ = nullptr;
};

Context& context() {
    static Context ctx;
    return ctx;
}

class DeviceList {
public:
    explicit DeviceList(libusb_context* ctx) {
        const ssize_t n = ctx != nullptr ? libusb_get_device_list(ctx, &list_) : -1;
        count_ = n > 0 ? static_cast<size_t>(n) : 0;
        ok_ = n >= 0;
    }
    ~DeviceList() {
        if (list_ != nullptr)
            libusb_free_device_list(list_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    bool ok() const { return ok_; }
    size_t size() const { return count_; }
    libusb_device* operator[](size_t i) const { return list_[i]; }

private:
    libusb_device** list_ = nullptr;
    size_t count_ = 0;
    bool ok_ = false;
};

struct PrinterInterface {
    uint8_t number = 0;
    uint8_t out = 0;
    uint8_t in = 0;
};

bool find_printer_interface(libusb_device* dev, PrinterInterface& found) {
    libusb_config_descriptor* cfg = nullptr;
    if (libusb_get_active_config_descriptor(dev, &cfg) != 0 &&
        libusb_get_config_descriptor(dev, 0, &cfg) != 0)
        return false;
    bool ok = false;
    for (int i = 0; i < cfg->bNumInterfaces && !ok; ++i) {
        const libusb_interface& itf = cfg->interface[i];
        for (int a = 0; a < itf.num_altsetting && !ok; ++a) {
            const libusb_interface_descriptor& alt = itf.altsetting[a];
            if (alt.bInterfaceClass != PRINTER_CLASS)
                continue;
            PrinterInterface p;
            p.number = alt.bInterfaceNumber;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if ((ep.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK)
                    continue;
                if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0) {
                    if (p.in == 0)
                        p.in = ep.bEndpointAddress;
                } else if (p.out == 0) {
                    p.out = ep.bEndpointAddress;
                }
            }
            if (p.in != 0 && p.out != 0) {
                found = p;
                ok = true;
            }
        }
    }
    libusb_free_config_descriptor(cfg);
    return ok;
}

// "bus-port.port...", the form the kernel names the device with in sysfs.
std::string port_path(libusb_device* dev) {
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    std::string path = std::to_string(libusb_get_bus_number(dev));
    for (int i = 0; i < n; ++i)
        path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    if (n <= 0)  // a root hub or a system that does not say: the address at least
        path += "@" + std::to_string(libusb_get_device_address(dev));
    return path;
}

auto cabling_key(libusb_device* dev) {
    uint8_t ports[8] = {};
    const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    return std::make_tuple(libusb_get_bus_number(dev),
                           std::vector<uint8_t>(ports, ports + std::max(n, 0)),
                           libusb_get_device_address(dev));
}

// A transfer with the buffer it reads into or writes from. Both live on the heap and are
// freed only once libusb gave the transfer back: one that a device never gives back is left
// allocated on purpose, so nothing in flight ever points at freed memory.
struct InFlight {
    libusb_transfer* transfer = nullptr;
    std::vector<uint8_t> buffer;
    int completed = 0;
};

// One transfer on an endpoint, driven to its end: completion, or cancellation once
// `timeout_ms` passed and the cancel's own wait. `data` is copied in for OUT, out for IN.
// Bytes that arrived before the cancel are counted.
int run_transfer(libusb_device_handle* handle, uint8_t endpoint, uint8_t* data, int length,
                 uint32_t timeout_ms, int& transferred) {
    transferred = 0;
    auto job = std::make_unique<InFlight>();
    job->transfer = libusb_alloc_transfer(0);
    if (job->transfer == nullptr)
        return LIBUSB_ERROR_NO_MEM;
    const bool in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    job->buffer.assign(static_cast<size_t>(std::max(length, 0)), 0);
    if (!in && length > 0)
        std::copy(data, data + length, job->buffer.begin());
    libusb_fill_bulk_transfer(
        job->transfer, handle, endpoint, job->buffer.data(), length,
        [](libusb_transfer* done) { static_cast<InFlight*>(done->user_data)->completed = 1; },
        job.get(), 0);
    int r = libusb_submit_transfer(job->transfer);
    if (r != 0) {
        libusb_free_transfer(job->transfer);
        return r;
    }
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    bool cancelled = false;
    auto cancel_deadline = clock::time_point::max();
    while (!job->completed) {
        const auto now = clock::now();
        if (!cancelled && now >= deadline) {
            libusb_cancel_transfer(job->transfer);
            cancelled = true;
            cancel_deadline = now + std::chrono::milliseconds(CANCEL_WAIT_MS);
        }
        if (cancelled && now >= cancel_deadline)
            break;
        timeval tv{0, 10000};
        if (libusb_handle_events_timeout_completed(context().get(), &tv, &job->completed) != 0 &&
            cancelled)
            break;
    }
    if (!job->completed) {
        // The device does not give it back: closing the handle takes it off libusb's list,
        // and the kernel's; the memory it points at stays ours for good.
        (void)job.release();
        return LIBUSB_ERROR_TIMEOUT;
    }
    libusb_transfer* t = job->transfer;
    transferred = t->actual_length;
    if (in && transferred > 0)
        std::copy(job->buffer.begin(), job->buffer.begin() + transferred, data);
    const libusb_transfer_status status = t->status;
    libusb_free_transfer(t);
    // A write cut short by its time-out did not deliver what it was given.
    if (!in && cancelled && status != LIBUSB_TRANSFER_COMPLETED)
        return LIBUSB_ERROR_TIMEOUT;
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
        case LIBUSB_TRANSFER_CANCELLED:
        case LIBUSB_TRANSFER_TIMED_OUT:
            return 0;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return LIBUSB_ERROR_NO_DEVICE;
        case LIBUSB_TRANSFER_STALL:
            return LIBUSB_ERROR_PIPE;
        default:
            return LIBUSB_ERROR_IO;
    }
}

class LibusbPrinter final : public UsbDevice {
public:
    LibusbPrinter(libusb_device_handle* handle, const PrinterInterface& itf)
        : handle_(handle), itf_(itf) {}
    ~LibusbPrinter() override {
        // Releasing the interface gives it back to the kernel's printer driver.
        libusb_release_interface(handle_, itf_.number);
        libusb_close(handle_);
    }
    LibusbPrinter(const LibusbPrinter&) = delete;
    LibusbPrinter& operator=(const LibusbPrinter&) = delete;

    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written,
                   uint32_t timeout_ms) override {
        int done = 0;
        // An OUT transfer only reads from `data` (into its own copy).
        const int r = run_transfer(handle_, itf_.out, const_cast<uint8_t*>(data),
                                   static_cast<int>(length), timeout_ms, done);
        written = r == 0 ? static_cast<uint32_t>(done) : 0;
        if (r == LIBUSB_ERROR_TIMEOUT)
            return USB_WRITE_TIMED_OUT;
        return r == 0 ? 0 : static_cast<uint32_t>(-r);
    }
    uint32_t read(uint8_t* data, uint32_t capacity, uint32_t& got, uint32_t timeout_ms) override {
        int done = 0;
        // A zero time-out still waits a little: the request must be given a chance.
        const int r = run_transfer(handle_, itf_.in, data, static_cast<int>(capacity),
                                   timeout_ms != 0 ? timeout_ms : 1, done);
        got = r == 0 ? static_cast<uint32_t>(done) : 0;
        return r == 0 ? 0 : static_cast<uint32_t>(-r);
    }

private:
    libusb_device_handle* handle_;
    PrinterInterface itf_;
};

class LibusbPrinters final : public UsbPrinters {
public:
    bool available() const override { return context().get() != nullptr; }

    bool list(std::vector<UsbPrinterInfo>& out) override {
        out.clear();
        DeviceList devices(context().get());
        if (!devices.ok())
            return false;
        std::vector<libusb_device*> printers;
        for (size_t i = 0; i < devices.size(); ++i) {
            libusb_device_descriptor desc{};
            PrinterInterface itf;
            if (libusb_get_device_descriptor(devices[i], &desc) == 0 &&
                desc.idVendor == PRINTER_VENDOR && find_printer_interface(devices[i], itf))
                printers.push_back(devices[i]);
        }
        std::sort(printers.begin(), printers.end(), [](libusb_device* a, libusb_device* b) {
            return cabling_key(a) < cabling_key(b);
        });
        uint32_t number = 1;
        for (libusb_device* dev : printers) {
            libusb_device_descriptor desc{};
            libusb_get_device_descriptor(dev, &desc);
            char id[64];
            std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X&REV_%04X", desc.idVendor,
                          desc.idProduct, desc.bcdDevice);
            out.push_back({port_path(dev), id, true, number++});
        }
        return true;
    }

    // Opening the device node detaches nothing; only a claim would.
    UsbProbe probe(const UsbPrinterInfo& printer) override {
        PrinterInterface itf;
        libusb_device_handle* handle = open_node(printer, itf);
        if (handle == nullptr)
            return UsbProbe::no_access;
        const bool attached = libusb_kernel_driver_active(handle, itf.number) == 1;
        libusb_close(handle);
        return attached ? UsbProbe::kernel_driver : UsbProbe::free;
    }

    std::unique_ptr<UsbDevice> open(const UsbPrinterInfo& printer) override {
        PrinterInterface itf;
        libusb_device_handle* handle = open_node(printer, itf);
        if (handle == nullptr)
            return nullptr;
        libusb_set_auto_detach_kernel_driver(handle, 1);
        if (libusb_claim_interface(handle, itf.number) != 0) {
            libusb_close(handle);
            return nullptr;
        }
        return std::make_unique<LibusbPrinter>(handle, itf);
    }

private:
    // The listed printer's device opened (not claimed), with its printer interface.
    static libusb_device_handle* open_node(const UsbPrinterInfo& printer, PrinterInterface& itf) {
        DeviceList devices(context().get());
        for (size_t i = 0; i < devices.size(); ++i) {
            if (port_path(devices[i]) != printer.path || !find_printer_interface(devices[i], itf))
                continue;
            libusb_device_handle* handle = nullptr;
            return libusb_open(devices[i], &handle) == 0 ? handle : nullptr;
        }
        return nullptr;
    }
};

}  // namespace

UsbPrinters& posix_usb() {
    static LibusbPrinters usb;
    return usb;
}

}  // namespace vx
