#include <windows.h>
// after windows.h
#include <commctrl.h>

#include "platform/win32/win32_services.h"

namespace vx {
namespace {

HWND hwnd(WindowHandle w) {
    return static_cast<HWND>(w);
}

class Win32Ui final : public Ui {
public:
    int message_box(WindowHandle owner, const char* caption, const char* text,
                    uint32_t type) override {
        return MessageBoxA(hwnd(owner), text, caption, type);
    }

    CursorHandle load_wait_cursor() override { return LoadCursorA(nullptr, IDC_WAIT); }

    CursorHandle set_cursor(CursorHandle cursor) override {
        return SetCursor(static_cast<HCURSOR>(cursor));
    }

    bool nudge_pointer() override {
        POINT pt{};
        if (!GetCursorPos(&pt)) {
            return false;
        }
        return SetCursorPos(pt.x + 1, pt.y + 1) != FALSE;
    }
};

}  // namespace

Ui& win32_ui() {
    static Win32Ui ui;
    return ui;
}

}  // namespace vx
