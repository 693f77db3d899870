// The property sheet of the two sheet modes. Each dialog procedure hands its events to the
// page class that decides what they mean; nothing here knows the flash context's workings.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <prsht.h>

#include <optional>
#include <vector>

#include "app/about.h"
#include "flash/main_page.h"
#include "frontend/win32/resource_ids.h"
#include "frontend/win32/win32_pages.h"
#include "frontend/win32/win32_sheet.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

constexpr int INTERACTIVE = 0;  // flash_mode of interactive mode

// The sheet runs modally on the UI thread, once per process. Its page records carry a zero
// parameter, so the pages find their objects here. Everything lives as long as the process:
// a procedure thread may outlast the page window it writes to.
struct SheetPages {
    FlashRun* flash = nullptr;
    int flash_mode = INTERACTIVE;
    bool page_created = false;  // without it the sheet never reached the screen
    Win32MainPageWindow main_window;
    Win32AboutWindow about_window;
    Win32ProcedureThread procedure;
    std::optional<MainPage> main_page;
    std::optional<AboutPage> about_page;
};

SheetPages& sheet_pages() {
    static SheetPages pages;
    return pages;
}

// A page's answer to a question of the sheet: TRUE as the message's result refuses.
INT_PTR answer(HWND page, bool allow) {
    if (allow)
        return FALSE;
    SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

INT_PTR tooltip_text(MainPage& page, LPARAM lparam, bool wide) {
    auto* header = reinterpret_cast<NMHDR*>(lparam);
    const char* text = page.tooltip(static_cast<int>(header->idFrom));
    if (text == nullptr)
        return FALSE;
    if (wide) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lparam);
        MultiByteToWideChar(CP_ACP, 0, text, -1, info->szText, ARRAYSIZE(info->szText) - 1);
        info->lpszText = info->szText;
    } else {
        reinterpret_cast<NMTTDISPINFOA*>(lparam)->lpszText = const_cast<char*>(text);
    }
    return FALSE;
}

INT_PTR CALLBACK main_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    SheetPages& s = sheet_pages();
    if (message == WM_INITDIALOG) {
        s.page_created = true;
        s.main_window.attach(page, s.flash_mode == INTERACTIVE);
        s.main_page.emplace(*s.flash, s.main_window, s.procedure, native_system_info());
        s.main_page->on_init();
        return FALSE;
    }
    if (!s.main_page)
        return FALSE;
    MainPage& m = *s.main_page;
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case OPEN_COMMAND:
                    m.on_choose_file();
                    break;
                case START_COMMAND:
                    m.on_start();
                    break;
                case IDC_CHK_BOOT:
                    m.on_boot_clicked();
                    break;
                default:
                    break;
            }
            return FALSE;
        case WM_NOTIFY: {
            if (lparam == 0)
                return FALSE;
            switch (reinterpret_cast<NMHDR*>(lparam)->code) {
                case TTN_GETDISPINFOA:
                    return tooltip_text(m, lparam, false);
                case TTN_GETDISPINFOW:
                    return tooltip_text(m, lparam, true);
                case PSN_SETACTIVE:
                    m.on_activate();
                    return FALSE;
                case PSN_KILLACTIVE:
                    return answer(page, m.may_leave());
                case PSN_QUERYCANCEL:
                    return answer(page, m.may_cancel());
                default:
                    return FALSE;
            }
        }
        case WM_SETCURSOR:
            if (!m.set_busy_cursor())
                return FALSE;
            SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_CLOSE: {
            // Only the page's own procedure ends the run, with the result it handed over;
            // the message's parameter is not looked at.
            int result = 0;
            if (s.main_window.page_view().procedure_result(result))
                m.on_close(result);
            else
                m.on_close_request();
            return TRUE;
        }
        case WM_TIMER:
            if (wparam == Win32MainPageWindow::OPEN_TIMER)
                m.refresh_open();
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK about_page_proc(HWND page, UINT message, WPARAM, LPARAM) {
    SheetPages& s = sheet_pages();
    if (message == WM_INITDIALOG) {
        s.about_window.attach(page);
        s.about_page.emplace(native_system_info(), s.about_window);
        s.about_page->on_init();
    }
    return FALSE;
}

// Pages not yet handed to the sheet are destroyed with this holder.
class PageList {
public:
    PageList() = default;
    PageList(const PageList&) = delete;
    PageList& operator=(const PageList&) = delete;
    ~PageList() {
        for (HPROPSHEETPAGE p : pages_)
            DestroyPropertySheetPage(p);
    }
    bool add(HINSTANCE instance, int template_id, DLGPROC procedure, const char* title) {
        PROPSHEETPAGEA psp{};
        psp.dwSize = sizeof psp;
        psp.dwFlags = PSP_USETITLE;
        psp.hInstance = instance;
        psp.pszTemplate = MAKEINTRESOURCEA(template_id);
        psp.pfnDlgProc = procedure;
        psp.pszTitle = title != nullptr ? title : "";
        psp.lParam = 0;
        HPROPSHEETPAGE page = CreatePropertySheetPageA(&psp);
        if (page == nullptr)
            return false;
        pages_.push_back(page);
        return true;
    }
    HPROPSHEETPAGE* data() { return pages_.data(); }
    UINT size() const { return static_cast<UINT>(pages_.size()); }
    // The sheet owns the pages from the moment it runs.
    void release() { pages_.clear(); }

private:
    std::vector<HPROPSHEETPAGE> pages_;
};

int run_sheet(const SheetRequest& request) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    HINSTANCE instance = request.instance != nullptr ? static_cast<HINSTANCE>(request.instance)
                                                     : GetModuleHandleA(nullptr);
    const bool interactive = request.flash_mode == INTERACTIVE;
    SheetPages& s = sheet_pages();
    s.flash = request.flash;
    s.flash_mode = request.flash_mode;
    s.page_created = false;
    if (s.flash == nullptr)
        return SHEET_FAILED;

    PageList pages;
    bool made = pages.add(instance, IDD_MAIN_PAGE, main_page_proc, request.main_title);
    if (made && interactive && request.setup_page)
        made = pages.add(instance, IDD_SETUP_PAGE, setup_page_proc, request.setup_title);
    if (made && interactive)
        made = pages.add(instance, IDD_ABOUT_PAGE, about_page_proc, request.about_title);
    if (!made)
        return SHEET_FAILED;

    PROPSHEETHEADERA sheet{};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_USEICONID | PSH_NOAPPLYNOW | PSH_USECALLBACK;
    sheet.hwndParent = nullptr;
    sheet.hInstance = instance;
    sheet.pszIcon = MAKEINTRESOURCEA(IDI_SHEET);
    sheet.pszCaption = request.caption != nullptr ? request.caption : "";
    sheet.nPages = interactive ? pages.size() : 1;
    sheet.nStartPage = 0;
    sheet.phpage = pages.data();
    sheet.pfnCallback = nullptr;  // the flag is set, but no procedure is given

    const INT_PTR result = PropertySheetA(&sheet);
    pages.release();
    if (result < 0)
        return SHEET_FAILED;
    return s.page_created ? SHEET_SHOWN : SHEET_NOT_SHOWN;
}

}  // namespace

SheetRunner& win32_property_sheet() {
    class Win32Sheet final : public SheetRunner {
    public:
        int run(const SheetRequest& request) override {
            bind_setup_page(request.flash);
            return run_sheet(request);
        }
    };
    static Win32Sheet sheet;
    return sheet;
}

}  // namespace vx
