// The POSIX serial ports (termios), defined in serial.cpp.
#pragma once
#include "platform/serial.h"

namespace vx {

SerialPorts& posix_serial_ports();

}  // namespace vx
