// USB backend of the port contract: the printer's two bulk pipes.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/usb.h"
#include "port/port_backend.h"

namespace vx {

class usb_port final : public PortBackend {
public:
    explicit usb_port(Cls_flash& flash) : f_(flash) {}
    PortCapabilities capabilities() const override;
    bool is_open() const override { return device_ != nullptr; }

    // A printer that does not open is reported as switched off ("[Error 5]").
    int open(int use_boot_line) override;
    void close() override { usb_close(); }
    int write(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) override {
        return usb_write_read(data, length, reply, capacity, 0);
    }
    int write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                   uint32_t capacity) override;
    int read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) override {
        return usb_read(buffer, capacity, timeout_ms);
    }
    int read_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) override {
        return usb_read(buffer, count, timeout_ms);
    }
    int purge() override;

    int usb_open(const char* port_name);
    int usb_write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                       uint32_t timeout_ms);
    int usb_read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms);
    void usb_close() { device_.reset(); }

private:
    Cls_flash& f_;
    std::unique_ptr<UsbDevice> device_;
};

}  // namespace vx
