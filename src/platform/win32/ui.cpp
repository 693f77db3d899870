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

    void set_control_text(WindowHandle page, int id, const char* text) override {
        SetDlgItemTextA(hwnd(page), id, text);
    }

    int get_check(WindowHandle page, int id) override {
        return static_cast<int>(IsDlgButtonChecked(hwnd(page), id));
    }

    void enable_control(WindowHandle page, int id, bool enabled) override {
        EnableWindow(GetDlgItem(hwnd(page), id), enabled ? TRUE : FALSE);
    }

    void progress(WindowHandle bar, ProgressOp op, int a, int b) override {
        switch (op) {
            case ProgressOp::set_range:
                SendMessageA(hwnd(bar), PBM_SETRANGE, 0, MAKELPARAM(a, b));
                break;
            case ProgressOp::set_step:
                SendMessageA(hwnd(bar), PBM_SETSTEP, static_cast<WPARAM>(a), 0);
                break;
            case ProgressOp::step_it:
                SendMessageA(hwnd(bar), PBM_STEPIT, 0, 0);
                break;
            case ProgressOp::set_pos:
                SendMessageA(hwnd(bar), PBM_SETPOS, static_cast<WPARAM>(a), 0);
                break;
        }
    }

    void post_close(WindowHandle page, int result) override {
        PostMessageA(hwnd(page), WM_CLOSE, static_cast<WPARAM>(result), 0);
    }

    int run_property_sheet(const SheetRequest& request) override {
        return win32_run_property_sheet(request);
    }
};

}  // namespace

Ui& win32_ui() {
    static Win32Ui ui;
    return ui;
}

}  // namespace vx
