#include "platform/platform.h"
#include "platform/win32/win32_serial.h"
#include "platform/win32/win32_services.h"

namespace vx {

Platform& native_platform() {
    static Platform platform{win32_clock(),    win32_errors(),       win32_files(),
                             win32_profile(),  win32_serial_ports(), win32_ui(),
                             win32_services(), win32_printers(),     win32_registry(),
                             win32_usb(),      win32_parallel()};
    return platform;
}

}  // namespace vx
