// The Win32 serial ports; the rest of the Win32 layer reaches them only through this call.
#pragma once
#include "platform/serial.h"

namespace vx {

SerialPorts& win32_serial_ports();

}  // namespace vx
