// The port kind picks the backend here and nowhere else.
#include "port/parallel_port.h"
#include "port/serial_port.h"
#include "port/usb_port.h"

namespace vx {

std::unique_ptr<PortBackend> make_port_backend(Platform& platform, const PortSettings& settings) {
    switch (settings.kind) {
        case PortKind::parallel:
            return std::make_unique<ParallelPort>(settings, platform.parallel, platform.errors);
        case PortKind::usb:
            return std::make_unique<UsbPort>(settings, platform.usb, platform.clock);
        default:
            return std::make_unique<SerialPort>(settings, platform.serial, platform.errors);
    }
}

}  // namespace vx
