// USB printer port. Its device access arrives with the USB work; until then an open always
// fails, which the port layer reports as a printer that is off.
#pragma once
#include <cstdint>

namespace vx {

class usb_port {
public:
    int usb_open(const char* interface_class, const char* port_name);
    int usb_write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                       uint32_t timeout_ms);
    int usb_read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms);
    void usb_close();
};

}  // namespace vx
