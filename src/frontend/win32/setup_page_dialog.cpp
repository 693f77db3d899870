// Dialog 103, the port setup page: hands its three events to SetupPage and carries out
// what the page asks of the window.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <prsht.h>

#include <optional>

#include "app/setup_page.h"
#include "frontend/win32/setup_page_ids.h"
#include "frontend/win32/win32_sheet.h"

namespace vx {
namespace {

int box_id(PortKindBox box) {
    switch (box) {
        case PortKindBox::usb:
            return IDC_SETUP_USB;
        case PortKindBox::lpt:
            return IDC_SETUP_LPT;
        default:
            return IDC_SETUP_COM;
    }
}

int list_id(SetupList list) {
    switch (list) {
        case SetupList::com_ports:
            return IDC_SETUP_COM_LIST;
        case SetupList::baud:
            return IDC_SETUP_BAUD;
        case SetupList::data_bits:
            return IDC_SETUP_DATA_BITS;
        case SetupList::parity:
            return IDC_SETUP_PARITY;
        case SetupList::stop_bits:
            return IDC_SETUP_STOP_BITS;
        case SetupList::usb_ports:
            return IDC_SETUP_USB_LIST;
        default:
            return IDC_SETUP_LPT_LIST;
    }
}

class Win32SetupWindow final : public SetupPageWindow {
public:
    void attach(HWND page) { page_ = page; }

    void cancel_to_close() override { PostMessageA(GetParent(page_), PSM_CANCELTOCLOSE, 0, 0); }
    void set_check(PortKindBox box, bool checked) override {
        CheckDlgButton(page_, box_id(box), checked ? BST_CHECKED : BST_UNCHECKED);
    }
    bool is_checked(PortKindBox box) override {
        return IsDlgButtonChecked(page_, box_id(box)) == BST_CHECKED;
    }
    void enable(SetupList list, bool enabled) override {
        EnableWindow(GetDlgItem(page_, list_id(list)), enabled ? TRUE : FALSE);
    }
    int add_entry(SetupList list, const char* text) override {
        const LRESULT at = SendDlgItemMessageA(page_, list_id(list), CB_ADDSTRING, 0,
                                               reinterpret_cast<LPARAM>(text));
        return at < 0 ? -1 : static_cast<int>(at);
    }
    void select(SetupList list, int index) override {
        SendDlgItemMessageA(page_, list_id(list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    int selection(SetupList list) override {
        const LRESULT at = SendDlgItemMessageA(page_, list_id(list), CB_GETCURSEL, 0, 0);
        return at < 0 ? -1 : static_cast<int>(at);
    }
    std::string text(SetupList list) override {
        char buffer[260] = {};
        GetDlgItemTextA(page_, list_id(list), buffer, sizeof buffer);
        return buffer;
    }

private:
    HWND page_ = nullptr;
};

// The sheet runs once per process, on the UI thread; the page lives as long as the sheet.
struct SetupDialog {
    FlashRun* flash = nullptr;
    Win32SetupWindow window;
    std::optional<SetupPage> page;
};

SetupDialog& setup_dialog() {
    static SetupDialog dialog;
    return dialog;
}

}  // namespace

void bind_setup_page(FlashRun* flash) {
    SetupDialog& d = setup_dialog();
    d.page.reset();
    d.flash = flash;
}

INT_PTR CALLBACK setup_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    SetupDialog& d = setup_dialog();
    switch (message) {
        case WM_INITDIALOG:
            if (d.flash != nullptr) {
                d.window.attach(page);
                d.page.emplace(*d.flash, d.window);
                d.page->on_init();
            }
            return FALSE;
        case WM_COMMAND:
            if (d.page && HIWORD(wparam) == BN_CLICKED) {
                switch (LOWORD(wparam)) {
                    case IDC_SETUP_COM:
                        d.page->on_box_clicked(PortKindBox::com);
                        break;
                    case IDC_SETUP_USB:
                        d.page->on_box_clicked(PortKindBox::usb);
                        break;
                    case IDC_SETUP_LPT:
                        d.page->on_box_clicked(PortKindBox::lpt);
                        break;
                    default:
                        break;
                }
            }
            return FALSE;
        case WM_NOTIFY:
            if (d.page && lparam != 0 &&
                reinterpret_cast<const NMHDR*>(lparam)->code == PSN_KILLACTIVE) {
                d.page->on_leave();  // the page may always be left
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace vx
