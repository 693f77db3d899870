// The flash procedure's thread. Waiting for it from the page's thread must keep answering
// the window messages the procedure sends (it writes the page's controls synchronously), or
// both threads would wait for each other.
#include "app/flash_run.h"
#include "frontend/win32/win32_pages.h"

namespace vx {

struct Win32ProcedureThread::StartRecord {
    ProcedureEntry entry;
    send_thread_args args;
};

Win32ProcedureThread::Win32ProcedureThread() = default;

// At process exit a procedure may still run (its page ended the process); the record must
// then stay where the thread reads it.
Win32ProcedureThread::~Win32ProcedureThread() {
    if (state() == State::running)
        (void)record_.release();
}

DWORD WINAPI Win32ProcedureThread::run(void* record) {
    const auto* r = static_cast<const StartRecord*>(record);
    return static_cast<DWORD>(r->entry(r->args));
}

bool Win32ProcedureThread::start(ProcedureEntry entry, const send_thread_args& args) {
    // The page starts a procedure only when the last one has ended, so the old record is
    // free to go once the new thread exists.
    auto record = std::make_unique<StartRecord>(StartRecord{entry, args});
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, run, record.get(), 0, &id);
    if (thread == nullptr)
        return false;
    thread_.reset(thread);
    thread_id_ = id;
    record_ = std::move(record);
    return true;
}

ProcedureThread::State Win32ProcedureThread::state() {
    if (!thread_)
        return State::none;
    DWORD code = 0;
    if (!GetExitCodeThread(thread_.get(), &code))
        return State::unknown;
    return code == STILL_ACTIVE ? State::running : State::ended;
}

bool Win32ProcedureThread::wait(uint32_t ms) {
    if (!thread_)
        return true;
    HANDLE thread = thread_.get();
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0)
            return true;
        if (r != WAIT_OBJECT_0 + 1)
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        // Answers the messages the procedure sent; posted ones stay queued for later.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace vx
