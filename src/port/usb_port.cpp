#include "port/usb_port.h"

#include "app/cls_flash.h"

namespace vx {

// No USB device access in this build: nothing is ever open, so every transfer fails.
int usb_port::usb_open(const char*, const char* port_name) {
    if (owner_ != nullptr) {
        owner_->trace_line("[usb_port][usb_open] USB port %s is not supported in this build.\n",
                           port_name != nullptr ? port_name : "");
    }
    return 0;
}

int usb_port::usb_write_read(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t) {
    return 0;
}

int usb_port::usb_read(uint8_t*, uint32_t, uint32_t) {
    return 0;
}

void usb_port::usb_close() {}

}  // namespace vx
