// USB printer access is not in this build yet: the enumeration finds nothing and the port
// layer says so in the trace.
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

// Device interface class of USB printers (GUID_DEVINTERFACE_USBPRINT).
[[maybe_unused]] constexpr const char* USBPRINT_INTERFACE_CLASS =
    "{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}";

class UnavailableUsb final : public UsbPrinters {
public:
    bool available() const override { return false; }
    bool list(std::vector<UsbPrinterInfo>&) override { return false; }
    std::unique_ptr<UsbDevice> open(const UsbPrinterInfo&) override { return nullptr; }
};

}  // namespace

UsbPrinters& win32_usb() {
    static UnavailableUsb usb;
    return usb;
}

}  // namespace vx
