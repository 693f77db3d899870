#include "platform/win32/overlapped.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace vx {
namespace {

struct Request {
    OVERLAPPED record{};
    HANDLE event = nullptr;
    std::vector<uint8_t> buffer;
    ~Request() {
        if (event != nullptr)
            CloseHandle(event);
    }
};

}  // namespace

OverlappedOutcome run_overlapped(HANDLE file, Transfer kind, uint8_t* data, DWORD length,
                                 DWORD wait_ms) {
    OverlappedOutcome out;
    auto request = std::make_unique<Request>();
    request->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (request->event == nullptr) {
        out.error = GetLastError();
        return out;
    }
    request->record.hEvent = request->event;
    request->buffer.assign(std::max<DWORD>(length, 1), 0);
    if (kind == Transfer::write && length > 0)
        std::memcpy(request->buffer.data(), data, length);

    DWORD n = 0;
    const BOOL done = kind == Transfer::write
                          ? WriteFile(file, request->buffer.data(), length, &n, &request->record)
                          : ReadFile(file, request->buffer.data(), length, &n, &request->record);
    if (!done) {
        out.error = GetLastError();
        if (out.error != ERROR_IO_PENDING)
            return out;
        if (WaitForSingleObject(request->event, wait_ms) != WAIT_OBJECT_0) {
            out.timed_out = true;
            CancelIoEx(file, &request->record);
            if (WaitForSingleObject(request->event, CANCEL_WAIT_MS) != WAIT_OBJECT_0) {
                // The driver keeps the request: its record and buffer stay where they are.
                (void)request.release();
                out.abandoned = true;
                out.error = ERROR_TIMEOUT;
                return out;
            }
        }
        n = 0;
        out.error = GetOverlappedResult(file, &request->record, &n, FALSE) ? 0 : GetLastError();
    }
    out.count = std::min(n, length);
    if (kind == Transfer::read && out.count > 0)
        std::memcpy(data, request->buffer.data(), out.count);
    return out;
}

}  // namespace vx
