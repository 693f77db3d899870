// The port interface: every exchange with the printer goes through the backend of the
// configured port kind, chosen here and nowhere else.
#include "app/cls_flash.h"
#include "port/parallel.h"
#include "port/serial_port.h"
#include "port/usb_port.h"

namespace vx {

std::unique_ptr<PortBackend> make_port_backend(Cls_flash& flash, uint16_t port_type) {
    switch (port_type) {
        case LPT_PORT:
            return std::make_unique<Cls_parallel>(flash);
        case USB_PORT:
            return std::make_unique<usb_port>(flash);
        default:
            return std::make_unique<SerialPort>(flash);
    }
}

PortBackend& Cls_flash::port() {
    if (port_ == nullptr || port_kind_ != config.port_type) {
        if (port_ != nullptr) {
            port_->close();
        }
        port_ = make_port_backend(*this, config.port_type);
        port_kind_ = config.port_type;
    }
    return *port_;
}

bool Cls_flash::port_open() const {
    return port_ != nullptr && port_->is_open();
}

int Cls_flash::open_port(int use_boot_line) {
    report.trace_line("[FLASH][open_port] Port %s\n", config.port_name);
    return port().open(use_boot_line);
}

void Cls_flash::close_port() {
    port().close();
}

int Cls_flash::write_port(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) {
    return port().write(data, length, reply, capacity);
}

int Cls_flash::write_read_port(const uint8_t* data, uint32_t length, uint8_t* reply,
                               uint32_t capacity) {
    return port().write_read(data, length, reply, capacity);
}

int Cls_flash::read_port(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) {
    return port().read(buffer, capacity, timeout_ms);
}

int Cls_flash::read_port_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) {
    return port().read_block(buffer, count, timeout_ms);
}

int Cls_flash::purge_port() {
    return port().purge();
}

int Cls_flash::set_comm_state(int use_boot_line) {
    return port().set_line(use_boot_line);
}

int Cls_flash::send_hex_command(const char* text, uint32_t length, uint8_t* reply,
                                uint32_t capacity, int hex) {
    return port().send_hex_command(text, length, reply, capacity, hex);
}

int Cls_flash::check_wire() {
    return port().check_wire();
}

int Cls_flash::get_max_baud(uint32_t& flag) {
    flag = 0;
    if (!port().capabilities().max_baud_report)
        return 0;
    return port().max_baud(flag);
}

}  // namespace vx
