// The serial (COM) backend of the port contract, also used for USB-serial adapters.
#pragma once
#include <memory>

#include "port/port_backend.h"

namespace vx {

class SerialPort final : public PortBackend {
public:
    SerialPort(PortSettings settings, SerialPorts& ports, SystemErrors& errors)
        : PortBackend(std::move(settings)), ports_(ports), errors_(errors) {}
    PortCapabilities capabilities() const override;
    bool is_open() const override { return device_ != nullptr; }

    // Opens the port without sharing.
    PortResult open() override;
    // Refuses a port whose DSR is off (no_modem_status or printer_off), then sets the line.
    PortResult start(bool boot_line) override;
    void close() override;
    int write(const uint8_t* data, uint32_t length) override;
    int write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                   uint32_t limit_ms) override;
    int read(uint8_t* buffer, uint32_t capacity, uint32_t limit_ms) override;
    int read_block(uint8_t* buffer, uint32_t count, uint32_t limit_ms) override;
    PurgeResult purge() override;
    PortResult set_line(const LineSettings& line) override;
    PortResult check_wire() override;
    bool set_modem_line(ModemLine line, bool on) override;
    bool max_baud(uint32_t& flag) override;

private:
    std::string system_text() { return errors_.error_text(errors_.last_error()); }

    SerialPorts& ports_;
    SystemErrors& errors_;
    std::unique_ptr<SerialDevice> device_;
};

}  // namespace vx
