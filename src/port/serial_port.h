// The serial (COM) backend of the port contract, also used for USB-serial adapters.
#pragma once
#include <memory>
#include <string>

#include "platform/platform.h"
#include "port/port_backend.h"

namespace vx {

class SerialPort final : public PortBackend {
public:
    explicit SerialPort(Cls_flash& flash) : f_(flash) {}
    PortCapabilities capabilities() const override;
    bool is_open() const override { return device_ != nullptr; }

    // Opens the port without sharing, refuses it when a printer queue uses it (interactive
    // mode) or when DSR is off, then sets the line.
    int open(int use_boot_line) override;
    void close() override;
    int write(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) override;
    int write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                   uint32_t capacity) override;
    int read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) override;
    int read_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) override;
    int purge() override;
    int set_line(int use_boot_line) override;
    int check_wire() override;
    bool set_modem_line(ModemLine line, bool on) override;
    int max_baud(uint32_t& flag) override;
    int send_hex_command(const char* text, uint32_t length, uint8_t* reply, uint32_t capacity,
                         int hex) override;

private:
    Cls_flash& f_;
    std::unique_ptr<SerialDevice> device_;
};

// 1 when the port is free, 0 when a printer queue uses it (its name in printer_name) or the
// queues cannot be listed.
int port_used_by_printer(Platform& platform, const char* port, std::string& printer_name);

}  // namespace vx
