// USB printer port. Its device access arrives with the USB work; until then an open always
// fails (with a trace line that says why), which the port layer reports as a printer that is
// off.
#pragma once
#include <cstdint>

namespace vx {

class Cls_flash;

class usb_port {
public:
    explicit usb_port(Cls_flash* owner = nullptr) : owner_(owner) {}
    int usb_open(const char* interface_class, const char* port_name);
    int usb_write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                       uint32_t timeout_ms);
    int usb_read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms);
    void usb_close();

private:
    Cls_flash* owner_;  // for trace lines; not owned
};

}  // namespace vx
