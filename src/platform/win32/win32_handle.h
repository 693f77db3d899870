// Owners for the Win32 handles the platform layer opens.
#pragma once
#include <windows.h>

#include <memory>
#include <type_traits>

namespace vx {

struct FileHandleCloser {
    void operator()(HANDLE h) const {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
};
using UniqueFileHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FileHandleCloser>;

// CreateFile reports failure as INVALID_HANDLE_VALUE; keep only real handles.
inline UniqueFileHandle own_file_handle(HANDLE h) {
    return UniqueFileHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

struct ServiceHandleCloser {
    void operator()(SC_HANDLE h) const {
        if (h != nullptr) {
            CloseServiceHandle(h);
        }
    }
};
using UniqueServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

// Keeps the thread's last error across clean-up calls that may overwrite it.
class LastErrorKeeper {
public:
    LastErrorKeeper() : code_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(code_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD code_;
};

}  // namespace vx
