// Parallel (ECP) port. Its device access arrives with the parallel-port work; until then an
// open always fails (with a trace line that says why), which the port layer reports like any
// failed parallel open.
#pragma once
#include <cstdint>

namespace vx {

class Cls_flash;

class Cls_parallel {
public:
    explicit Cls_parallel(Cls_flash* owner = nullptr) : owner_(owner) {}
    int open(const char* port_name);
    int Write_Read_timeout(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity,
                           uint32_t timeout_ms);
    int Read_timeout(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms);
    void Close();
    bool is_open() const { return false; }

private:
    Cls_flash* owner_;  // for trace lines; not owned
};

}  // namespace vx
