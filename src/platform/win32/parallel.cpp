// Parallel ports on Win32: the LPT device opened for overlapped I/O, its time-out record set
// through the communications time-out calls, which the parallel port driver serves.
#include <windows.h>

#include <algorithm>

#include "platform/win32/overlapped.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

// A write on a device that sets no write time-outs of its own.
constexpr uint64_t DEFAULT_WRITE_LIMIT_MS = 5000;

class Win32ParallelDevice final : public ParallelDevice {
public:
    explicit Win32ParallelDevice(UniqueFileHandle handle) : handle_(std::move(handle)) {}

    bool get_timeouts(ParallelTimeouts& t) override {
        COMMTIMEOUTS ct{};
        if (!GetCommTimeouts(h(), &ct))
            return false;
        t.read_interval = ct.ReadIntervalTimeout;
        t.read_multiplier = ct.ReadTotalTimeoutMultiplier;
        t.read_constant = ct.ReadTotalTimeoutConstant;
        t.write_multiplier = ct.WriteTotalTimeoutMultiplier;
        t.write_constant = ct.WriteTotalTimeoutConstant;
        return true;
    }

    bool set_timeouts(const ParallelTimeouts& t) override {
        COMMTIMEOUTS ct{};
        ct.ReadIntervalTimeout = t.read_interval;
        ct.ReadTotalTimeoutMultiplier = t.read_multiplier;
        ct.ReadTotalTimeoutConstant = t.read_constant;
        ct.WriteTotalTimeoutMultiplier = t.write_multiplier;
        ct.WriteTotalTimeoutConstant = t.write_constant;
        return SetCommTimeouts(h(), &ct) != 0;
    }

    // The device's write time-outs end the request; the wait has a limit all the same (a
    // driver without them, or one that ignores them), a little longer than theirs.
    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written) override {
        written = 0;
        ParallelTimeouts t;
        if (!get_timeouts(t))
            t = {};
        const uint64_t own = uint64_t(t.write_multiplier) * length + t.write_constant;
        const DWORD limit = static_cast<DWORD>(std::min<uint64_t>(
            (own != 0 ? own : DEFAULT_WRITE_LIMIT_MS) + CANCEL_WAIT_MS, 0xFFFFFFFEu));
        const OverlappedOutcome r =
            run_overlapped(h(), Transfer::write, const_cast<uint8_t*>(data), length, limit);
        if (r.timed_out)
            return PARALLEL_TIMEOUT;
        if (r.error != 0)
            return r.error;
        written = r.count;
        return PARALLEL_DONE;
    }

    // Outstanding at the end of the wait: cancelled, its end awaited, what came counts.
    uint32_t read(uint8_t* data, uint32_t count, uint32_t& got, uint32_t wait_ms) override {
        got = 0;
        const OverlappedOutcome r = run_overlapped(h(), Transfer::read, data, count, wait_ms);
        if (r.timed_out) {
            got = r.count;
            return PARALLEL_IO_INCOMPLETE;
        }
        if (r.error != 0)
            return r.error;
        got = r.count;
        return PARALLEL_DONE;
    }

private:
    HANDLE h() const { return handle_.get(); }
    UniqueFileHandle handle_;
};

HANDLE open_port(const char* name) {
    return CreateFileA(name != nullptr ? name : "", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

class Win32Parallel final : public ParallelPorts {
public:
    std::unique_ptr<ParallelDevice> open(const char* name) override {
        UniqueFileHandle handle = own_file_handle(open_port(name));
        if (!handle)
            return nullptr;
        return std::make_unique<Win32ParallelDevice>(std::move(handle));
    }

    PortProbe probe(const char* name) override {
        UniqueFileHandle handle = own_file_handle(open_port(name));
        if (handle)
            return PortProbe::free;
        switch (GetLastError()) {
            case ERROR_NOT_READY:
                return PortProbe::not_ready;
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION:
                return PortProbe::busy;
            default:
                return PortProbe::absent;
        }
    }

    void debug_output(const char* text) override { OutputDebugStringA(text); }
};

}  // namespace

ParallelPorts& win32_parallel() {
    static Win32Parallel parallel;
    return parallel;
}

}  // namespace vx
