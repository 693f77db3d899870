#include "platform/posix/posix_platform.h"
#include "platform/posix/posix_serial.h"

namespace vx {

Platform& native_platform() {
    static Platform platform{posix_clock(),    posix_errors(),       posix_files(),
                             posix_profile(),  posix_serial_ports(), posix_ui(),
                             posix_services(), posix_printers(),     posix_registry(),
                             posix_usb(),      posix_parallel()};
    return platform;
}

}  // namespace vx
