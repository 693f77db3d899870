// No USB printer access in this build yet: the enumeration finds nothing and the port layer
// says so in the trace.
#include "platform/null_devices.h"
#include "platform/win32/win32_services.h"

// Device interface class of USB printers (GUID_DEVINTERFACE_USBPRINT), used by the SetupDi
// enumeration.
[[maybe_unused]] static constexpr const char* USBPRINT_INTERFACE_CLASS =
    "{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}";

namespace vx {

UsbPrinters& win32_usb() {
    static NullUsbPrinters usb;
    return usb;
}

}  // namespace vx
