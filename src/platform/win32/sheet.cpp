// The property sheet of the two sheet modes. Its pages are placeholders until the page
// procedures exist: each shows a notice that it is not available; nothing is sent.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <prsht.h>

#include <vector>

#include "app/cls_flash.h"
#include "app/startup.h"
#include "platform/win32/resource_ids.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

// The sheet is modal on the UI thread, so one request is active at a time. The page records
// carry a zero parameter; the pages find the request here.
const SheetRequest* active_request = nullptr;
// Set when a page window was made: without it the sheet never reached the screen.
bool page_created = false;

Cls_flash* active_context() {
    return active_request != nullptr ? static_cast<Cls_flash*>(active_request->context) : nullptr;
}

INT_PTR CALLBACK placeholder_page(HWND page, UINT message, WPARAM, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        page_created = true;
        return TRUE;
    }
    if (message != WM_NOTIFY || lparam == 0) {
        return FALSE;
    }
    const auto* header = reinterpret_cast<const NMHDR*>(lparam);
    if (header->code == PSN_SETACTIVE && active_request != nullptr &&
        active_request->flash_mode != INTERACTIVE_MODE) {
        // Unattended: nobody will close a page that cannot run, so end the run at once; the
        // sheet returning counts as a failed run (exit code 1).
        if (Cls_flash* flash = active_context()) {
            flash->trace_line(
                "[FLASH][main_page] Download page not available in this build: nothing sent\n");
        }
        PostMessageA(GetParent(page), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
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
        for (HPROPSHEETPAGE p : pages_) {
            DestroyPropertySheetPage(p);
        }
    }
    bool add(HINSTANCE instance, int template_id, const char* title) {
        PROPSHEETPAGEA psp{};
        psp.dwSize = sizeof psp;
        psp.dwFlags = PSP_USETITLE;
        psp.hInstance = instance;
        psp.pszTemplate = MAKEINTRESOURCEA(template_id);
        psp.pfnDlgProc = template_id == IDD_SETUP_PAGE ? setup_page_proc : placeholder_page;
        psp.pszTitle = title != nullptr ? title : "";
        psp.lParam = 0;
        HPROPSHEETPAGE page = CreatePropertySheetPageA(&psp);
        if (page == nullptr) {
            return false;
        }
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

}  // namespace

int win32_run_property_sheet(const SheetRequest& request) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    HINSTANCE instance = request.instance != nullptr ? static_cast<HINSTANCE>(request.instance)
                                                     : GetModuleHandleA(nullptr);
    Cls_flash* flash = static_cast<Cls_flash*>(request.context);
    const bool interactive = request.flash_mode == INTERACTIVE_MODE;

    PageList pages;
    bool made = pages.add(instance, IDD_MAIN_PAGE, request.main_title);
    if (made && interactive && request.setup_page) {
        made = pages.add(instance, IDD_SETUP_PAGE, request.setup_title);
    }
    if (made && interactive) {
        made = pages.add(instance, IDD_ABOUT_PAGE, request.about_title);
    }
    if (!made) {
        if (flash != nullptr) {
            flash->flash_last_error_msg("CreatePropertySheetPage");
        }
        return -1;
    }

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

    active_request = &request;
    page_created = false;
    const INT_PTR result = PropertySheetA(&sheet);
    active_request = nullptr;
    pages.release();

    if (flash != nullptr) {
        if (result < 0) {
            flash->flash_last_error_msg("PropertySheet");
        } else if (!page_created) {  // e.g. no display to show it on
            flash->trace_line("[FLASH][Winmain] PropertySheet : no page could be shown\n");
        }
    }
    // Stands in for the main page's end of an unattended run: leave no spooler stopped.
    if (!interactive && flash != nullptr && restart_spooler(*flash)) {
        flash->trace_line("[FLASH][main_page] Spooler Service Restarted !\n");
    }
    return static_cast<int>(result);
}

}  // namespace vx
