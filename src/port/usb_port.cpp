#include "port/usb_port.h"

#include "app/cls_flash.h"

namespace vx {

namespace {
constexpr uint32_t USB_REPLY_TIMEOUT_MS = 2000;
constexpr uint32_t USB_PURGE_TIMEOUT_MS = 1000;
}  // namespace

PortCapabilities usb_port::capabilities() const {
    PortCapabilities caps;
    caps.transfer = TransferKind::usb_pages;
    return caps;
}

int usb_port::open(int) {
    if (usb_open(f_.port_name)) {
        return 1;
    }
    f_.trace_line("[FLASH][open_port] Printer OFF\n");
    f_.ko_report("[Error 5] Printer OFF - portname %s.\n", f_.port_name);
    return 0;
}

int usb_port::usb_open(const char* port_name) {
    if (!f_.platform.usb.available()) {
        f_.trace_line("[usb_port][usb_open] USB port %s is not supported in this build.\n",
                      port_name != nullptr ? port_name : "");
        return 0;
    }
    // Device choice and the session handshake arrive with USB support.
    return 0;
}

int usb_port::write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) {
    return usb_write_read(data, length, reply, capacity, USB_REPLY_TIMEOUT_MS);
}

int usb_port::usb_write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                             uint32_t capacity, uint32_t timeout_ms) {
    if (device_ == nullptr) {
        return 0;
    }
    uint32_t written = 0;
    if (!device_->write(data, length, written) || written != length) {
        return 0;
    }
    if (reply == nullptr || capacity == 0) {
        return static_cast<int>(written);
    }
    return usb_read(reply, capacity, timeout_ms);
}

int usb_port::usb_read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) {
    if (device_ == nullptr || buffer == nullptr || capacity == 0) {
        return 0;
    }
    uint32_t got = 0;
    if (!device_->read(buffer, capacity, got, timeout_ms)) {
        return 0;
    }
    return static_cast<int>(got < capacity ? got : capacity);
}

// A USB printer has no queue to discard: drain one pending reply, if any.
int usb_port::purge() {
    uint8_t scratch[1];
    usb_read(scratch, 1, USB_PURGE_TIMEOUT_MS);
    return 1;
}

}  // namespace vx
