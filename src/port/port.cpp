// The port interface: every exchange with the printer goes through these, dispatched by the
// configured port kind.
#include "app/cls_flash.h"

namespace vx {

namespace {
// Device interface class of USB printers.
constexpr const char* USBPRINT_INTERFACE_CLASS = "{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}";
constexpr uint32_t PORT_REPLY_TIMEOUT_MS = 2000;
constexpr uint32_t USB_PURGE_TIMEOUT_MS = 1000;
}  // namespace

int Cls_flash::open_port(int use_boot_line) {
    trace_line("[FLASH][open_port] Port %s\n", port_name);
    switch (port_type) {
        case LPT_PORT:
            return parallel.open(port_name);
        case USB_PORT:
            if (usb.usb_open(USBPRINT_INTERFACE_CLASS, port_name)) {
                return 1;
            }
            trace_line("[FLASH][open_port] Printer OFF\n");
            ko_report("[Error 5] Printer OFF - portname %s.\n", port_name);
            return 0;
        default:
            return open_com(use_boot_line);
    }
}

void Cls_flash::close_port() {
    switch (port_type) {
        case LPT_PORT:
            parallel.Close();
            break;
        case USB_PORT:
            usb.usb_close();
            break;
        default:
            close_com();
            break;
    }
}

int Cls_flash::write_port(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) {
    switch (port_type) {
        case LPT_PORT:
            return parallel.Write_Read_timeout(data, length, reply, capacity, 0);
        case USB_PORT:
            return usb.usb_write_read(data, length, reply, capacity, 0);
        default:
            return write_com(data, length, reply, capacity);
    }
}

int Cls_flash::write_read_port(const uint8_t* data, uint32_t length, uint8_t* reply,
                               uint32_t capacity) {
    switch (port_type) {
        case LPT_PORT:
            return parallel.Write_Read_timeout(data, length, reply, capacity,
                                               PORT_REPLY_TIMEOUT_MS);
        case USB_PORT:
            return usb.usb_write_read(data, length, reply, capacity, PORT_REPLY_TIMEOUT_MS);
        default:
            return write_read_com(data, length, reply, capacity);
    }
}

int Cls_flash::read_port(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) {
    switch (port_type) {
        case LPT_PORT:
            return parallel.Read_timeout(buffer, capacity, timeout_ms);
        case USB_PORT:
            return usb.usb_read(buffer, capacity, timeout_ms);
        default:
            return read_com(buffer, capacity, timeout_ms);
    }
}

int Cls_flash::read_port_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) {
    switch (port_type) {
        case LPT_PORT:
            return parallel.Read_timeout(buffer, count, timeout_ms);
        case USB_PORT:
            return usb.usb_read(buffer, count, timeout_ms);
        default:
            return read_com_block(buffer, count, timeout_ms);
    }
}

int Cls_flash::purge_port() {
    switch (port_type) {
        case LPT_PORT:
            return 1;
        case USB_PORT:
            // A USB printer has no queue to discard: drain one pending reply, if any.
            usb.usb_read(reply_buffer, 1, USB_PURGE_TIMEOUT_MS);
            return 1;
        default:
            return serial != nullptr && serial->purge() ? 1 : 0;
    }
}

}  // namespace vx
