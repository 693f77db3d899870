// USB printer access is not in this build yet: the enumeration finds nothing and the port
// layer says so in the trace.
#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

class UnavailableUsb final : public UsbPrinters {
public:
    bool available() const override { return false; }
    bool list(std::vector<UsbPrinterInfo>&) override { return false; }
    std::unique_ptr<UsbDevice> open(const UsbPrinterInfo&) override { return nullptr; }
};

}  // namespace

UsbPrinters& posix_usb() {
    static UnavailableUsb usb;
    return usb;
}

}  // namespace vx
