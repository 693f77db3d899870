// Parallel (ECP) backend of the port contract: overlapped requests under the device's own
// time-outs. Start-up refuses a parallel port, so in a normal run only the presence test of
// the setup page reaches it.
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

    // Opens `name` and sets the device time-outs; 1 opened, 0 failed.
    int open(const char* name);
    void Close();
    // Bytes read when a reply buffer is given, else bytes written; 0 on a write error.
    int Write_Read_timeout(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                           uint32_t timeout_ms);
    // Bytes read (0 when nothing arrived); a non-zero time-out becomes the read time-outs.
    int Read_timeout(uint8_t* buffer, uint32_t count, uint32_t timeout_ms);
    // 0 or the system's error code; `length` in: to write, out: written.
    uint32_t Write(const uint8_t* data, uint32_t& length);
    // 0 or the system's error code; `count` in: wanted, out: read.
    uint32_t Read(uint8_t* buffer, uint32_t& count);
    // 1 when the port exists: it opens, or its device is not ready.
    int Port_present(const char* name);

private:
    // The two ECP error boxes: shown in interactive mode, traced otherwise, where nobody
    // would be there to close them and the run would wait for ever.
    void error_report(const char* caption, const char* text);

    Cls_flash& f_;
    std::unique_ptr<ParallelDevice> device_;
};

}  // namespace vx
