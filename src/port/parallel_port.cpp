#include "port/parallel_port.h"

#include <cstdio>
#include <cstring>

namespace vx {

namespace {

// A read request is waited for this long, whatever limit the caller gave.
constexpr uint32_t READ_WAIT_MS = 1000;

constexpr ParallelTimeouts OPEN_TIMEOUTS{500, 0, 1000, 500, 5000};

}  // namespace

bool parallel_port_present(ParallelPorts& ports, const char* name) {
    switch (ports.probe(name)) {
        case PortProbe::free:
        case PortProbe::not_ready:
            return true;
        default:
            return false;
    }
}

PortCapabilities ParallelPort::capabilities() const {
    PortCapabilities caps;
    caps.forced_sync_probe = true;
    return caps;
}

PortResult ParallelPort::open() {
    ports_.debug_output("Cls_parallel::open");
    device_ = ports_.open(settings_.name.c_str());
    if (device_ == nullptr) {
        const uint32_t code = errors_.last_error();
        char line[64];
        std::snprintf(line, sizeof line, "CreateFile Error %u", static_cast<unsigned>(code));
        ports_.debug_output(line);
        return fail(PortError::io_failed, errors_.error_text(code), code);
    }
    // On a failure here the port stays open until close.
    ParallelTimeouts t;
    if (!device_->get_timeouts(t))
        return fail(PortError::io_failed, errors_.error_text(errors_.last_error()));
    t = OPEN_TIMEOUTS;
    if (!device_->set_timeouts(t))
        return fail(PortError::io_failed, errors_.error_text(errors_.last_error()));
    ports_.debug_output("Open OK");
    return {};
}

void ParallelPort::close() {
    ports_.debug_output("Cls_parallel::Close");
    device_.reset();
}

uint32_t ParallelPort::write_request(const uint8_t* data, uint32_t& length) {
    if (device_ == nullptr) {
        ports_.debug_output("::Write - INVALID_HANDLE_VALUE");
        return PARALLEL_CANTWRITE;
    }
    uint32_t written = 0;
    const uint32_t code = device_->write(data, length, written);
    length = code == PARALLEL_DONE ? written : 0;
    return code;
}

uint32_t ParallelPort::read_request(uint8_t* buffer, uint32_t& count) {
    if (device_ == nullptr) {
        ports_.debug_output("::Read - INVALID_HANDLE_VALUE");
        return PARALLEL_CANTREAD;
    }
    uint32_t got = 0;
    const uint32_t code = device_->read(buffer, count, got, READ_WAIT_MS);
    count = got <= count ? got : count;
    return code;
}

int ParallelPort::write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                             uint32_t capacity, uint32_t limit_ms) {
    clear_failure();
    uint32_t written = 0;
    if (data != nullptr) {
        written = length;
        const uint32_t code = write_request(data, written);
        if (code != PARALLEL_DONE && code != PARALLEL_IO_PENDING) {
            fail(PortError::io_failed, {}, code, "Write_Read_timeout");
            return 0;
        }
    }
    if (reply == nullptr)
        return static_cast<int>(written);
    return read(reply, capacity, limit_ms);
}

int ParallelPort::read(uint8_t* buffer, uint32_t count, uint32_t limit_ms) {
    clear_failure();
    if (buffer == nullptr)
        return 0;
    if (limit_ms != 0) {
        ParallelTimeouts t;
        if (device_ == nullptr || !device_->get_timeouts(t))
            return 0;
        if (t.read_constant != limit_ms) {
            t.read_interval = t.read_multiplier = t.read_constant = limit_ms;
            if (!device_->set_timeouts(t))
                return 0;
        }
    }
    std::memset(buffer, 0, count);
    ports_.debug_output("read_timeout - INIZIO LETTURA");
    uint32_t got = count;
    const uint32_t code = read_request(buffer, got);
    switch (code) {
        case PARALLEL_DONE:
        case PARALLEL_IO_PENDING:
        case PARALLEL_IO_INCOMPLETE:
        case PARALLEL_TIMEOUT:
            return static_cast<int>(got);
        default:
            break;
    }
    fail(PortError::io_failed, {}, code, "Read_timeout");
    return 0;
}

}  // namespace vx
