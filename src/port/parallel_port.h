// Parallel (ECP) backend of the port contract: overlapped requests under the device's own
// time-outs. Start-up refuses a parallel port, so in a normal run only the presence test of
// the setup page reaches it.
#pragma once
#include <cstdint>
#include <memory>

#include "port/port_backend.h"

namespace vx {

class ParallelPort final : public PortBackend {
public:
    ParallelPort(PortSettings settings, ParallelPorts& ports, SystemErrors& errors)
        : PortBackend(std::move(settings)), ports_(ports), errors_(errors) {}
    PortCapabilities capabilities() const override;
    bool is_open() const override { return device_ != nullptr; }

    // Opens the port and sets the device time-outs.
    PortResult open() override;
    void close() override;
    // A failed write or read returns 0 and leaves its ECP code in last_failure().
    int write_read(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                   uint32_t limit_ms) override;
    // Bytes read (0 when nothing arrived); a non-zero limit becomes the read time-outs.
    int read(uint8_t* buffer, uint32_t capacity, uint32_t limit_ms) override;
    PurgeResult purge() override { return {true, false, 0}; }  // an ECP port keeps no queue

private:
    // 0 or the system's error code; `length` in: to write, out: written.
    uint32_t write_request(const uint8_t* data, uint32_t& length);
    // 0 or the system's error code; `count` in: wanted, out: read.
    uint32_t read_request(uint8_t* buffer, uint32_t& count);

    ParallelPorts& ports_;
    SystemErrors& errors_;
    std::unique_ptr<ParallelDevice> device_;
};

}  // namespace vx
