#include "port/parallel.h"

#include "app/cls_flash.h"

namespace vx {

// No ECP device access in this build: nothing is ever open, so every transfer fails.
int Cls_parallel::open(const char* port_name) {
    if (owner_ != nullptr) {
        owner_->trace_line(
            "[Cls_parallel][open] Parallel port %s is not supported in this build.\n",
            port_name != nullptr ? port_name : "");
    }
    return 0;
}

int Cls_parallel::Write_Read_timeout(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t) {
    return 0;
}

int Cls_parallel::Read_timeout(uint8_t*, uint32_t, uint32_t) {
    return 0;
}

void Cls_parallel::Close() {}

}  // namespace vx
