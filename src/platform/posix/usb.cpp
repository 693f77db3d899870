// No USB printer access in this build yet: the enumeration finds nothing and the port layer
// says so in the trace.
#include "platform/null_devices.h"
#include "platform/posix/posix_platform.h"

namespace vx {

UsbPrinters& posix_usb() {
    static NullUsbPrinters usb;
    return usb;
}

}  // namespace vx
