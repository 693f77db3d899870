// Parallel (ECP) backend of the port contract. Start-up refuses a parallel port, so only the
// presence test reaches it in a normal run.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/parallel.h"
#include "port/port_backend.h"

namespace vx {

class Cls_parallel final : public PortBackend {
public:
    explicit Cls_parallel(Cls_flash& flash) : f_(flash) {}
    PortCapabilities capabilities() const override;
    bool is_open() const override { return device_ != nullptr; }

    int open(int use_boot_line) override;
    void close() override { Close(); }
    int write(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity) override {
        return Write_Read_timeout(data, length, reply, capacity, 0);
    }
    int write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                   uint32_t capacity) override;
    int read(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) override {
        return Read_timeout(buffer, capacity, timeout_ms);
    }
    int read_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) override {
        return Read_timeout(buffer, count, timeout_ms);
    }
    int purge() override { return 1; }  // an ECP port keeps no queue to discard

    int Write_Read_timeout(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                           uint32_t timeout_ms);
    int Read_timeout(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms);
    void Close() { device_.reset(); }

private:
    Cls_flash& f_;
    std::unique_ptr<ParallelDevice> device_;
};

}  // namespace vx
