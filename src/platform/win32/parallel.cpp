// Parallel ports on Win32: the LPT device opened for overlapped I/O, its time-out record set
// through the communications time-out calls, which the parallel port driver serves.
#include <windows.h>

#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

// An auto-reset event for one request, released with it.
class RequestEvent {
public:
    RequestEvent() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~RequestEvent() {
        if (event_ != nullptr) {
            LastErrorKeeper keep;
            CloseHandle(event_);
        }
    }
    RequestEvent(const RequestEvent&) = delete;
    RequestEvent& operator=(const RequestEvent&) = delete;
    HANDLE get() const { return event_; }

private:
    HANDLE event_;
};

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

    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written) override {
        written = 0;
        RequestEvent event;
        if (event.get() == nullptr)
            return GetLastError();
        OVERLAPPED request{};
        request.hEvent = event.get();
        DWORD n = 0;
        if (WriteFile(h(), data, length, &n, &request)) {
            written = n;
            return PARALLEL_DONE;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return error;
        // The device's write time-outs end the request.
        WaitForSingleObject(event.get(), INFINITE);
        if (!GetOverlappedResult(h(), &request, &n, TRUE))
            return GetLastError();
        written = n;
        return PARALLEL_DONE;
    }

    uint32_t read(uint8_t* data, uint32_t count, uint32_t& got, uint32_t wait_ms) override {
        got = 0;
        RequestEvent event;
        if (event.get() == nullptr)
            return GetLastError();
        OVERLAPPED request{};
        request.hEvent = event.get();
        DWORD n = 0;
        if (ReadFile(h(), data, count, &n, &request)) {
            got = n;
            return PARALLEL_DONE;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return error;

        const DWORD waited = WaitForSingleObject(event.get(), wait_ms);
        DWORD outcome = PARALLEL_DONE;
        if (waited == WAIT_OBJECT_0 || waited == WAIT_TIMEOUT) {
            if (GetOverlappedResult(h(), &request, &n, FALSE)) {
                got = n;
                return PARALLEL_DONE;
            }
            outcome = GetLastError();
            if (outcome != ERROR_IO_INCOMPLETE && outcome != ERROR_IO_PENDING)
                return outcome;
        } else {
            outcome = GetLastError();
        }
        // Still outstanding: the buffer and the request record must not outlive this call.
        CancelIo(h());
        if (GetOverlappedResult(h(), &request, &n, TRUE))
            got = n;
        return outcome == ERROR_IO_PENDING ? PARALLEL_IO_PENDING : outcome;
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
