#include "port/parallel.h"

#include <cstdio>
#include <cstring>

#include "app/cls_flash.h"

namespace vx {

namespace {

constexpr uint32_t PARALLEL_REPLY_TIMEOUT_MS = 2000;
// A read request is waited for this long, whatever time-out the caller gave.
constexpr uint32_t READ_WAIT_MS = 1000;

constexpr ParallelTimeouts OPEN_TIMEOUTS{500, 0, 1000, 500, 5000};

}  // namespace

PortCapabilities Cls_parallel::capabilities() const {
    PortCapabilities caps;
    caps.forced_sync_probe = true;
    return caps;
}

int Cls_parallel::open(int) {
    return open(f_.config.port_name);
}

int Cls_parallel::open(const char* name) {
    ParallelPorts& ports = f_.platform.parallel;
    ports.debug_output("Cls_parallel::open");
    device_ = ports.open(name);
    if (device_ == nullptr) {
        char line[64];
        std::snprintf(line, sizeof line, "CreateFile Error %u",
                      static_cast<unsigned>(f_.platform.errors.last_error()));
        ports.debug_output(line);
        return 0;
    }
    // On a failure here the port stays open until Close.
    ParallelTimeouts t;
    if (!device_->get_timeouts(t))
        return 0;
    t = OPEN_TIMEOUTS;
    if (!device_->set_timeouts(t))
        return 0;
    ports.debug_output("Open OK");
    return 1;
}

void Cls_parallel::Close() {
    f_.platform.parallel.debug_output("Cls_parallel::Close");
    device_.reset();
}

int Cls_parallel::write_read(const uint8_t* data, uint32_t length, uint8_t* reply,
                             uint32_t capacity) {
    return Write_Read_timeout(data, length, reply, capacity, PARALLEL_REPLY_TIMEOUT_MS);
}

uint32_t Cls_parallel::Write(const uint8_t* data, uint32_t& length) {
    if (device_ == nullptr) {
        f_.platform.parallel.debug_output("::Write - INVALID_HANDLE_VALUE");
        return PARALLEL_CANTWRITE;
    }
    uint32_t written = 0;
    const uint32_t code = device_->write(data, length, written);
    length = code == PARALLEL_DONE ? written : 0;
    return code;
}

uint32_t Cls_parallel::Read(uint8_t* buffer, uint32_t& count) {
    if (device_ == nullptr) {
        f_.platform.parallel.debug_output("::Read - INVALID_HANDLE_VALUE");
        return PARALLEL_CANTREAD;
    }
    uint32_t got = 0;
    const uint32_t code = device_->read(buffer, count, got, READ_WAIT_MS);
    count = got <= count ? got : count;
    return code;
}

void Cls_parallel::error_report(const char* caption, const char* text) {
    if (f_.report.mode() == INTERACTIVE_MODE) {
        f_.platform.ui.message_box(nullptr, caption, text, BOX_OK);
    } else {
        f_.report.trace_line("[Cls_parallel][%s] %s\n", caption, text);
    }
}

int Cls_parallel::Write_Read_timeout(const uint8_t* data, uint32_t length, uint8_t* reply,
                                     uint32_t capacity, uint32_t timeout_ms) {
    uint32_t written = 0;
    if (data != nullptr) {
        written = length;
        const uint32_t code = Write(data, written);
        if (code != PARALLEL_DONE && code != PARALLEL_IO_PENDING) {
            char text[64];
            std::snprintf(text, sizeof text, "** ECP Write Error %u **",
                          static_cast<unsigned>(code));
            error_report("Write_Read_timeout", text);
            return 0;
        }
    }
    if (reply == nullptr)
        return static_cast<int>(written);
    return Read_timeout(reply, capacity, timeout_ms);
}

int Cls_parallel::Read_timeout(uint8_t* buffer, uint32_t count, uint32_t timeout_ms) {
    if (buffer == nullptr)
        return 0;
    if (timeout_ms != 0) {
        ParallelTimeouts t;
        if (device_ == nullptr || !device_->get_timeouts(t))
            return 0;
        if (t.read_constant != timeout_ms) {
            t.read_interval = t.read_multiplier = t.read_constant = timeout_ms;
            if (!device_->set_timeouts(t))
                return 0;
        }
    }
    std::memset(buffer, 0, count);
    f_.platform.parallel.debug_output("read_timeout - INIZIO LETTURA");
    uint32_t got = count;
    const uint32_t code = Read(buffer, got);
    switch (code) {
        case PARALLEL_DONE:
        case PARALLEL_IO_PENDING:
        case PARALLEL_IO_INCOMPLETE:
        case PARALLEL_TIMEOUT:
            return static_cast<int>(got);
        default:
            break;
    }
    char text[64];
    std::snprintf(text, sizeof text, "** ECP Read Error %u **", static_cast<unsigned>(code));
    error_report("Read_timeout", text);
    return 0;
}

int Cls_parallel::Port_present(const char* name) {
    switch (f_.platform.parallel.probe(name)) {
        case PortProbe::free:
        case PortProbe::not_ready:
            return 1;
        default:
            return 0;
    }
}

}  // namespace vx
