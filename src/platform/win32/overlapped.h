// Overlapped requests with bounded waits, for the USB pipes and the parallel port. The
// request record, its event and its buffer live on the heap: a request still outstanding at
// its limit is cancelled and the cancel waited for within a limit of its own; one that the
// driver never gives back is abandoned together with that memory (left allocated on
// purpose), so a driver never writes into memory that was freed or reused.
#pragma once
#include <windows.h>

#include <cstdint>

namespace vx {

// How long a driver gets to give back a cancelled request.
constexpr DWORD CANCEL_WAIT_MS = 2000;

struct OverlappedOutcome {
    DWORD error = 0;         // 0, or the system's code (ERROR_OPERATION_ABORTED: cancelled)
    DWORD count = 0;         // bytes moved, also those that came before a cancel
    bool timed_out = false;  // still outstanding at `wait_ms`: it was cancelled
    bool abandoned = false;  // not even given back after the cancel
};

enum class Transfer { read, write };

// Issues one request of `length` bytes on `file` (opened for overlapped I/O) and waits at
// most `wait_ms` for it. A read copies what arrived into `data`.
OverlappedOutcome run_overlapped(HANDLE file, Transfer kind, uint8_t* data, DWORD length,
                                 DWORD wait_ms);

}  // namespace vx
