// Parallel (ECP) port device access. The Win32 implementation uses overlapped I/O on the LPT
// device; the POSIX one ppdev.
#pragma once
#include <cstdint>
#include <memory>

namespace vx {

// One open parallel port. Destruction cancels what is outstanding and closes it.
class ParallelDevice {
public:
    virtual ~ParallelDevice() = default;
    // False on a write error or when the write did not finish within `timeout_ms`.
    virtual bool write(const uint8_t* data, uint32_t length, uint32_t& written,
                       uint32_t timeout_ms) = 0;
    // `got` 0 after `timeout_ms` without data; false on a read error.
    virtual bool read(uint8_t* data, uint32_t capacity, uint32_t& got, uint32_t timeout_ms) = 0;
};

class ParallelPorts {
public:
    virtual ~ParallelPorts() = default;
    // False when this build has no parallel port access at all.
    virtual bool available() const = 0;
    // "LPTn" names. Null on failure, with the system's last error set.
    virtual std::unique_ptr<ParallelDevice> open(const char* name) = 0;
    // The port exists (it may be in use).
    virtual bool present(const char* name) = 0;
};

}  // namespace vx
