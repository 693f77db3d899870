// USB printers through the printer class driver: SetupDi lists the present USBPRINT device
// interfaces, the interface's registry key holds the driver's "Port Number", and the device
// path with "\PIPE00" and "\PIPE01" names the bulk write and read pipes, used overlapped.
// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <cstring>
#include <memory>
#include <vector>

#include "platform/win32/overlapped.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

// GUID_DEVINTERFACE_USBPRINT
const GUID USBPRINT_INTERFACE_CLASS = {
    0x28D78FAD, 0x5A12, 0x11D1, {0xAE, 0x5B, 0x00, 0x00, 0xF8, 0x03, 0xA8, 0xC2}};
constexpr const char* WRITE_PIPE = "\\PIPE00";
constexpr const char* READ_PIPE = "\\PIPE01";
constexpr const char* PORT_NUMBER_VALUE = "Port Number";

struct DeviceSetCloser {
    void operator()(HDEVINFO set) const {
        if (set != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(set);
    }
};
using UniqueDeviceSet = std::unique_ptr<void, DeviceSetCloser>;

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// The first string of the device's hardware id property; false when it has none.
bool hardware_id(HDEVINFO set, SP_DEVINFO_DATA& info, std::string& out) {
    DWORD size = 0;
    if (SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr, nullptr, 0,
                                          &size) ||
        size == 0)
        return false;
    std::vector<BYTE> buffer(size + 2, 0);  // the property may lack its terminators
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr, buffer.data(),
                                           size, nullptr))
        return false;
    out.assign(reinterpret_cast<const char*>(buffer.data()));
    return true;
}

// The "Port Number" value of the interface's registry key, a REG_DWORD whose low byte counts.
bool port_number(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& itf, uint32_t& number) {
    HKEY raw = SetupDiOpenDeviceInterfaceRegKey(set, &itf, 0, KEY_READ);
    if (raw == INVALID_HANDLE_VALUE || raw == nullptr)
        return false;
    UniqueKey key(raw);
    bool found = false;
    for (DWORD i = 0;; ++i) {
        char name[260];
        DWORD name_size = sizeof name;
        BYTE data[512];
        DWORD data_size = sizeof data;
        DWORD type = 0;
        const LONG r =
            RegEnumValueA(key.get(), i, name, &name_size, nullptr, &type, data, &data_size);
        if (r == ERROR_MORE_DATA)
            continue;  // a value too long for us is not the one we look for
        if (r != ERROR_SUCCESS)
            break;  // the end of the list, or a key we cannot read on: never spin on it
        if (type == REG_DWORD && data_size >= 1 && std::strcmp(name, PORT_NUMBER_VALUE) == 0) {
            number = data[0];
            found = true;
        }
    }
    return found;
}

class Win32UsbPrinter final : public UsbDevice {
public:
    Win32UsbPrinter(UniqueFileHandle write_pipe, UniqueFileHandle read_pipe)
        : write_pipe_(std::move(write_pipe)), read_pipe_(std::move(read_pipe)) {}
    ~Win32UsbPrinter() override {
        CancelIo(write_pipe_.get());
        CancelIo(read_pipe_.get());
    }

    // A write that the pipe did not take within its limit has failed, even if some of it
    // went out before the cancel.
    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written,
                   uint32_t timeout_ms) override {
        written = 0;
        const OverlappedOutcome r = run_overlapped(write_pipe_.get(), Transfer::write,
                                                   const_cast<uint8_t*>(data), length, timeout_ms);
        if (r.error == 0 && !(r.timed_out && r.count < length)) {
            written = r.count;
            return 0;
        }
        return r.timed_out ? USB_WRITE_TIMED_OUT : r.error;
    }

    // A read still pending at its time-out is cancelled; bytes it brought meanwhile count.
    uint32_t read(uint8_t* data, uint32_t capacity, uint32_t& got, uint32_t timeout_ms) override {
        got = 0;
        const OverlappedOutcome r =
            run_overlapped(read_pipe_.get(), Transfer::read, data, capacity, timeout_ms);
        if (r.error == 0 || (r.timed_out && r.error == ERROR_OPERATION_ABORTED)) {
            got = r.count;
            return 0;
        }
        return r.abandoned ? 0 : r.error;
    }

private:
    UniqueFileHandle write_pipe_;
    UniqueFileHandle read_pipe_;
};

class Win32UsbPrinters final : public UsbPrinters {
public:
    bool available() const override { return true; }

    bool list(std::vector<UsbPrinterInfo>& out) override {
        out.clear();
        HDEVINFO raw = SetupDiGetClassDevsA(&USBPRINT_INTERFACE_CLASS, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (raw == INVALID_HANDLE_VALUE)
            return false;
        UniqueDeviceSet set(raw);
        for (DWORD i = 0;; ++i) {
            SP_DEVICE_INTERFACE_DATA itf{};
            itf.cbSize = sizeof itf;
            if (!SetupDiEnumDeviceInterfaces(raw, nullptr, &USBPRINT_INTERFACE_CLASS, i, &itf))
                break;
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailA(raw, &itf, nullptr, 0, &size, nullptr);
            if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
                continue;
            std::vector<uint8_t> buffer(size + 1, 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof info;
            if (!SetupDiGetDeviceInterfaceDetailA(raw, &itf, detail, size, nullptr, &info))
                continue;
            UsbPrinterInfo printer;
            printer.path = detail->DevicePath;
            if (!hardware_id(raw, info, printer.hardware_id))
                continue;
            printer.has_port_number = port_number(raw, itf, printer.port_number);
            out.push_back(std::move(printer));
        }
        return true;
    }

    std::unique_ptr<UsbDevice> open(const UsbPrinterInfo& printer) override {
        UniqueFileHandle write_pipe = own_file_handle(CreateFileA(
            (printer.path + WRITE_PIPE).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (write_pipe == nullptr)
            return nullptr;
        UniqueFileHandle read_pipe = own_file_handle(
            CreateFileA((printer.path + READ_PIPE).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (read_pipe == nullptr)
            return nullptr;
        return std::make_unique<Win32UsbPrinter>(std::move(write_pipe), std::move(read_pipe));
    }
};

}  // namespace

UsbPrinters& win32_usb() {
    static Win32UsbPrinters usb;
    return usb;
}

}  // namespace vx
