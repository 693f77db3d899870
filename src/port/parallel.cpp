#include "port/parallel.h"

#include "app/cls_flash.h"

namespace vx {

namespace {
constexpr uint32_t PARALLEL_REPLY_TIMEOUT_MS = 2000;
}  // namespace

PortCapabilities Cls_parallel::capabilities() const {
    PortCapabilities caps;
    caps.forced_sync_probe = true;
    return caps;
}

int Cls_parallel::open(int) {
    const char* name = f_.port_name;
    if (!f_.platform.parallel.available()) {
        f_.trace_line("[Cls_parallel][open] Parallel port %s is not supported in this build.\n",
                      name);
        return 0;
    }
    device_ = f_.platform.parallel.open(name);
    return device_ != nullptr ? 1 : 0;
}

int Cls_parallel::write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                             uint32_t capacity) {
    return Write_Read_timeout(data, length, reply, capacity, PARALLEL_REPLY_TIMEOUT_MS);
}

int Cls_parallel::Write_Read_timeout(const uint8_t* data, uint32_t length, uint8_t* reply,
                                     uint32_t capacity, uint32_t timeout_ms) {
    if (device_ == nullptr) {
        return 0;
    }
    uint32_t written = 0;
    if (!device_->write(data, length, written, PARALLEL_REPLY_TIMEOUT_MS)) {
        return 0;
    }
    if (reply == nullptr || capacity == 0) {
        return static_cast<int>(written);
    }
    return Read_timeout(reply, capacity, timeout_ms);
}

int Cls_parallel::Read_timeout(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms) {
    if (device_ == nullptr || buffer == nullptr || capacity == 0) {
        return 0;
    }
    uint32_t got = 0;
    if (!device_->read(buffer, capacity, got, timeout_ms)) {
        return 0;
    }
    return static_cast<int>(got < capacity ? got : capacity);
}

}  // namespace vx
