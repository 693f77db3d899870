// The main page's dialog (102) and the about page's text, for the page classes.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>

#include "flash/main_page.h"
#include "frontend/win32/resource_ids.h"
#include "frontend/win32/win32_pages.h"

namespace vx {

int image_box_id(ImageBox box) {
    switch (box) {
        case ImageBox::firmware:
            return IDC_CHK_FIRMWARE;
        case ImageBox::cg:
            return IDC_CHK_CG;
        case ImageBox::boot:
            return IDC_CHK_BOOT;
        case ImageBox::fpga:
            return IDC_CHK_FPGA;
        case ImageBox::keep_settings:
            return IDC_CHK_KEEP;
    }
    return 0;
}

// ---- the view the procedure writes ----

void Win32MainPageView::attach(HWND page, bool interactive) {
    page_ = page;
    interactive_ = interactive;
    bank_bar_.attach(GetDlgItem(page, IDC_BANK_BAR));
    pages_bar_.attach(GetDlgItem(page, IDC_PAGES_BAR));
}

void Win32MainPageView::text(int id, const char* text) {
    SetDlgItemTextA(page_, id, text != nullptr ? text : "");
}

void Win32MainPageView::connection_line(const char* t) {
    text(IDC_CONNECTION, t);
}
void Win32MainPageView::transfer_line(const char* t) {
    text(IDC_TRANSFER, t);
}
void Win32MainPageView::computer_status(const char* t) {
    text(IDC_PC_STATUS, t);
}
void Win32MainPageView::printer_status(const char* t) {
    text(IDC_PRINTER_STATUS, t);
}
void Win32MainPageView::reply_line(const char* t) {
    text(IDC_PRINTER_REPLY, t);
}
void Win32MainPageView::bank_label(const char* t) {
    text(IDC_BANK_LABEL, t);
}
void Win32MainPageView::page_range(const char* first, const char* last) {
    text(IDC_FIRST_PAGE, first);
    text(IDC_LAST_PAGE, last);
}
void Win32MainPageView::model_label(const char* t) {
    text(IDC_MODEL_LABEL, t);
}

bool Win32MainPageView::is_checked(ImageBox box) {
    return IsDlgButtonChecked(page_, image_box_id(box)) == BST_CHECKED;
}

void Win32MainPageView::disable(ImageBox box) {
    EnableWindow(GetDlgItem(page_, image_box_id(box)), FALSE);
}

// Outside interactive mode the page ends the process when it receives the result; the post
// lets the procedure's thread finish first. The result itself stays here: the page takes it
// from this object, never from the message, which any program could post.
void Win32MainPageView::procedure_ended(int result) {
    if (!interactive_ && page_ != nullptr) {
        result_ = result;
        PostMessageA(page_, WM_CLOSE, static_cast<WPARAM>(result), 0);
    }
}

bool Win32MainPageView::procedure_result(int& result) const {
    const int r = result_;
    if (r == NO_RESULT)
        return false;
    result = r;
    return true;
}

void Win32MainPageView::Bar::set_range(int low, int high) {
    SendMessageA(bar_, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}
void Win32MainPageView::Bar::set_step(int step) {
    SendMessageA(bar_, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}
void Win32MainPageView::Bar::step() {
    SendMessageA(bar_, PBM_STEPIT, 0, 0);
}
void Win32MainPageView::Bar::set_position(int position) {
    SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// ---- the page window ----

void Win32MainPageWindow::attach(HWND page, bool interactive) {
    page_ = page;
    view_.attach(page, interactive);
}

void Win32MainPageWindow::cancel_to_close() {
    PostMessageA(GetParent(page_), PSM_CANCELTOCLOSE, 0, 0);
}

void Win32MainPageWindow::set_sheet_title(const char* title) {
    SendMessageA(GetParent(page_), PSM_SETTITLEA, 0, reinterpret_cast<LPARAM>(title));
}

void Win32MainPageWindow::create_toolbar(const char* open_text, const char* start_text) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);

    TBBUTTON buttons[2] = {};
    buttons[0].iBitmap = STD_FILEOPEN;
    buttons[0].idCommand = 1;
    buttons[0].fsState = TBSTATE_ENABLED;
    buttons[0].fsStyle = BTNS_BUTTON;
    buttons[1].iBitmap = STD_REDOW;
    buttons[1].idCommand = 2;
    buttons[1].fsState = TBSTATE_ENABLED;
    buttons[1].fsStyle = BTNS_BUTTON;
    HWND toolbar = CreateToolbarEx(
        page_, WS_CHILD | WS_VISIBLE | WS_DLGFRAME | TBSTYLE_LIST | TBSTYLE_TOOLTIPS, IDC_TOOLBAR,
        2, HINST_COMMCTRL, IDB_STD_SMALL_COLOR, buttons, 2, 0, 0, 80, 40, sizeof(TBBUTTON));
    if (toolbar == nullptr)
        return;
    const char* texts[2] = {open_text, start_text};
    for (int i = 0; i < 2; ++i) {
        TBBUTTONINFOA info{};
        info.cbSize = sizeof info;
        info.dwMask = TBIF_TEXT | TBIF_STYLE;
        info.fsStyle = BTNS_AUTOSIZE;
        info.pszText = const_cast<char*>(texts[i] != nullptr ? texts[i] : "");
        info.cchText = 4;
        SendMessageA(toolbar, TB_SETBUTTONINFOA, static_cast<WPARAM>(buttons[i].idCommand),
                     reinterpret_cast<LPARAM>(&info));
    }
}

void Win32MainPageWindow::set_check(ImageBox box, bool checked) {
    CheckDlgButton(page_, image_box_id(box), checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32MainPageWindow::enable(ImageBox box, bool enabled) {
    EnableWindow(GetDlgItem(page_, image_box_id(box)), enabled ? TRUE : FALSE);
}

void Win32MainPageWindow::printer_caption(const char* text) {
    SetDlgItemTextA(page_, IDC_PRINTER_GROUP, text);
}

bool Win32MainPageWindow::current_directory(std::string& dir) {
    char buffer[MAX_PATH] = {};
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
    if (n == 0 || n >= MAX_PATH)
        return false;
    dir = buffer;
    return true;
}

// The dialog moves the current directory to where the user browsed; the result files belong
// in the directory the program started in, so it is put back.
bool Win32MainPageWindow::choose_file(const std::string& dir, std::string& path) {
    char file[128] = {};
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = page_;
    ofn.lpstrFilter = "Flash\0*.vx3;*.bin\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    char before[MAX_PATH] = {};
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, before);
    const BOOL chosen = GetOpenFileNameA(&ofn);
    if (n != 0 && n < MAX_PATH)
        SetCurrentDirectoryA(before);
    if (!chosen)
        return false;
    path = file;
    return true;
}

void Win32MainPageWindow::enable_open(bool enabled) {
    SendDlgItemMessageA(page_, IDC_TOOLBAR, TB_ENABLEBUTTON, OPEN_COMMAND, MAKELONG(enabled, 0));
    if (enabled)
        KillTimer(page_, OPEN_TIMER);
    else
        SetTimer(page_, OPEN_TIMER, 250, nullptr);
}

// Posted: the sheet asks the page's cancel guard first, which must not run inside this call.
void Win32MainPageWindow::close_sheet() {
    PostMessageA(GetParent(page_), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

void Win32MainPageWindow::beep() {
    MessageBeep(MB_ICONEXCLAMATION);
}

void Win32MainPageWindow::exit_process(int code) {
    ExitProcess(static_cast<UINT>(code));
}

void Win32AboutWindow::set_version_text(const char* text) {
    SetDlgItemTextA(page_, IDC_VERSION_TEXT, text);
}

}  // namespace vx
