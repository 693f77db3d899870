// The ends of the process that the program sees but that do not pass through the main page:
// logoff and shutdown (WM_QUERYENDSESSION / WM_ENDSESSION, which only top-level windows get,
// so a hidden one on a thread of its own, in every run mode) and a console's close. Each
// starts again a spooler this run stopped; the record covers the ends no one sees.
#include <windows.h>

#include "app/cls_flash.h"
#include "app/spooler.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

Cls_flash* watched = nullptr;

LRESULT CALLBACK session_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_QUERYENDSESSION)
        return TRUE;
    if (message == WM_ENDSESSION) {
        if (wparam && watched != nullptr)
            restart_spooler(*watched, "[FLASH][Winmain] ");
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

BOOL WINAPI on_console_event(DWORD event) {
    if (watched != nullptr &&
        (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT))
        restart_spooler(*watched, "[FLASH][Winmain] ");
    return FALSE;  // the default handling ends the process
}

DWORD WINAPI session_thread(void*) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = session_window_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "vxflash session";
    if (RegisterClassA(&wc) == 0)
        return 0;
    if (CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                        wc.hInstance, nullptr) == nullptr)
        return 0;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

}  // namespace

void restart_spooler_at_session_end(Cls_flash& flash) {
    watched = &flash;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    HANDLE thread = CreateThread(nullptr, 0, session_thread, nullptr, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}

}  // namespace vx
