// Drives vxflash's property sheet from another process, for the GUI tests under Wine: finds
// the sheet, reads its pages' controls and presses what a user would press, all with window
// messages. Each argument is one command; fields are separated by ':'. One output line per
// command that reads something. Exit code 0 when every command succeeded, 1 at the first
// failure (the reason on stderr).
//
//   sheet[:SECS]                 wait for the sheet
//   gone[:SECS]                  wait until the sheet has closed
//   use:INDEX                    later control commands address page INDEX (default: current)
//   page                         index of the current page
//   wait-page:SECS:INDEX         wait until page INDEX is the current one
//   rect                         where the sheet (with an open box) is: "x y width height"
//   title                        the sheet's caption
//   text:ID                      a control's text
//   pos:ID | range:ID            a progress bar's position / "low high"
//   checked:ID | enabled:ID      1 or 0
//   toolbar                      number of buttons of the page's toolbar (control 100)
//   command:N                    WM_COMMAND N to the page (posted, as a toolbar press)
//   close:N                      WM_CLOSE with first parameter N to the page (posted)
//   button:N                     1 when the toolbar's button of command N is enabled, else 0
//   click:ID                     a button click on a control of the page
//   select:INDEX                 switch to page INDEX (posted: the page may ask first)
//   press:ok|cancel              one of the sheet's buttons (posted)
//   wait-text:SECS:ID:TEXT       wait until the control's text contains TEXT
//   wait-pos:SECS:ID:MIN         wait until the bar's position is at least MIN
//   box[:SECS]                   wait for a message box of the program: "caption|text"
//   no-box                       fail when a message box is open
//   answer:yes|no|ok[:SECS]      press a button of the open message box
//   sleep:MS
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

HWND g_sheet = nullptr;
int g_page_index = -1;  // -1: the current page

std::vector<std::string> split(const std::string& s, size_t max_fields) {
    std::vector<std::string> out;
    size_t start = 0;
    while (out.size() + 1 < max_fields) {
        const size_t colon = s.find(':', start);
        if (colon == std::string::npos)
            break;
        out.push_back(s.substr(start, colon - start));
        start = colon + 1;
    }
    out.push_back(s.substr(start));
    return out;
}

std::string class_of(HWND w) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    return name;
}

std::string text_of(HWND w) {
    char buffer[1024] = {};
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &ignored))
        return "<no answer>";
    return buffer;
}

LRESULT send(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(w, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

BOOL CALLBACK find_tab(HWND child, LPARAM found) {
    if (class_of(child) == "SysTabControl32") {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

bool is_sheet(HWND w) {
    if (class_of(w) != "#32770" || !IsWindowVisible(w))
        return false;
    bool tab = false;
    EnumChildWindows(w, find_tab, reinterpret_cast<LPARAM>(&tab));
    return tab;
}

BOOL CALLBACK find_sheet(HWND w, LPARAM out) {
    if (is_sheet(w)) {
        *reinterpret_cast<HWND*>(out) = w;
        return FALSE;
    }
    return TRUE;
}

HWND find_the_sheet() {
    HWND found = nullptr;
    EnumWindows(find_sheet, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct BoxSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK find_box(HWND w, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(w, &process);
    if (process == search->process && w != g_sheet && class_of(w) == "#32770" &&
        IsWindowVisible(w) && !is_sheet(w) && GetDlgItem(w, 0xFFFF) != nullptr) {
        search->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND find_message_box() {
    if (g_sheet == nullptr)
        return nullptr;
    BoxSearch search{0, nullptr};
    GetWindowThreadProcessId(g_sheet, &search.process);
    EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND target_page() {
    if (g_page_index >= 0)
        return reinterpret_cast<HWND>(send(g_sheet, PSM_INDEXTOHWND, g_page_index, 0));
    return reinterpret_cast<HWND>(send(g_sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

HWND control(int id) {
    HWND page = target_page();
    return page != nullptr ? GetDlgItem(page, id) : nullptr;
}

// Polls `ready` every 100 ms for up to `secs` seconds.
template <typename F>
bool wait_for(double secs, F ready) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(secs * 1000);
    for (;;) {
        if (ready())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(100);
    }
}

int fail(const std::string& command, const std::string& why) {
    std::fprintf(stderr, "guidriver: %s: %s\n", command.c_str(), why.c_str());
    return 1;
}

int run(const std::string& command) {
    const std::vector<std::string> f = split(command, 4);
    const std::string& verb = f[0];
    auto number = [&](size_t i, double fallback) {
        return f.size() > i && !f[i].empty() ? std::atof(f[i].c_str()) : fallback;
    };

    if (verb == "sheet") {
        if (!wait_for(number(1, 30), [] { return (g_sheet = find_the_sheet()) != nullptr; }))
            return fail(command, "no sheet");
        std::printf("sheet\n");
        return 0;
    }
    if (verb == "sleep") {
        Sleep(static_cast<DWORD>(number(1, 0)));
        return 0;
    }
    if (g_sheet == nullptr && (g_sheet = find_the_sheet()) == nullptr)
        return fail(command, "no sheet");

    if (verb == "gone") {
        if (!wait_for(number(1, 30), [] { return !IsWindow(g_sheet); }))
            return fail(command, "the sheet is still open");
        return 0;
    }
    if (verb == "use") {
        g_page_index = static_cast<int>(number(1, -1));
        return 0;
    }
    if (verb == "page") {
        HWND current = reinterpret_cast<HWND>(send(g_sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        std::printf("%d\n", static_cast<int>(send(g_sheet, PSM_HWNDTOINDEX,
                                                  reinterpret_cast<WPARAM>(current), 0)));
        return 0;
    }
    if (verb == "wait-page") {
        const int want = static_cast<int>(number(2, 0));
        int last = -1;
        if (!wait_for(number(1, 10), [&] {
                HWND current = reinterpret_cast<HWND>(send(g_sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
                last = static_cast<int>(
                    send(g_sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(current), 0));
                return last == want;
            }))
            return fail(command, "current page is " + std::to_string(last));
        return 0;
    }
    if (verb == "rect") {
        RECT r{};
        GetWindowRect(g_sheet, &r);
        if (HWND box = find_message_box()) {
            RECT b{};
            GetWindowRect(box, &b);
            UnionRect(&r, &r, &b);
        }
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    if (verb == "title") {
        std::printf("%s\n", text_of(g_sheet).c_str());
        return 0;
    }
    if (verb == "select") {
        PostMessageA(g_sheet, PSM_SETCURSEL, static_cast<WPARAM>(number(1, 0)), 0);
        return 0;
    }
    if (verb == "press") {
        const WPARAM button = f.size() > 1 && f[1] == "ok" ? PSBTN_OK : PSBTN_CANCEL;
        PostMessageA(g_sheet, PSM_PRESSBUTTON, button, 0);
        return 0;
    }
    if (verb == "command") {
        HWND page = target_page();
        if (page == nullptr)
            return fail(command, "no page");
        PostMessageA(page, WM_COMMAND, MAKEWPARAM(static_cast<int>(number(1, 0)), 0), 0);
        return 0;
    }
    if (verb == "close") {
        HWND page = target_page();
        if (page == nullptr)
            return fail(command, "no page");
        PostMessageA(page, WM_CLOSE, static_cast<WPARAM>(number(1, 0)), 0);
        return 0;
    }
    if (verb == "button") {
        HWND toolbar = control(100);
        if (toolbar == nullptr)
            return fail(command, "no toolbar");
        const LRESULT on = send(toolbar, TB_ISBUTTONENABLED, static_cast<WPARAM>(number(1, 0)), 0);
        std::printf("%d\n", on ? 1 : 0);
        return 0;
    }
    if (verb == "box") {
        HWND box = nullptr;
        if (!wait_for(number(1, 10), [&] { return (box = find_message_box()) != nullptr; }))
            return fail(command, "no message box");
        std::printf("%s|%s\n", text_of(box).c_str(), text_of(GetDlgItem(box, 0xFFFF)).c_str());
        return 0;
    }
    if (verb == "no-box") {
        if (HWND box = find_message_box())
            return fail(command, "a message box is open: " + text_of(GetDlgItem(box, 0xFFFF)));
        return 0;
    }
    if (verb == "answer") {
        const std::string which = f.size() > 1 ? f[1] : "ok";
        const int id = which == "yes" ? IDYES : which == "no" ? IDNO : IDOK;
        HWND box = nullptr;
        if (!wait_for(number(2, 10), [&] { return (box = find_message_box()) != nullptr; }))
            return fail(command, "no message box");
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
        return 0;
    }
    if (verb == "toolbar") {
        HWND toolbar = control(100);
        std::printf("%d\n", toolbar ? static_cast<int>(send(toolbar, TB_BUTTONCOUNT, 0, 0)) : -1);
        return 0;
    }
    if (verb == "wait-text") {
        const int id = static_cast<int>(number(2, 0));
        const std::string want = f.size() > 3 ? f[3] : "";
        std::string last;
        if (!wait_for(number(1, 10), [&] {
                HWND c = control(id);
                last = c ? text_of(c) : "<no control>";
                return last.find(want) != std::string::npos;
            }))
            return fail(command, "text is \"" + last + "\"");
        std::printf("%s\n", last.c_str());
        return 0;
    }
    if (verb == "wait-pos") {
        const int id = static_cast<int>(number(2, 0));
        const int want = static_cast<int>(number(3, 1));
        int last = -1;
        if (!wait_for(number(1, 10), [&] {
                HWND c = control(id);
                last = c ? static_cast<int>(send(c, PBM_GETPOS, 0, 0)) : -1;
                return last >= want;
            }))
            return fail(command, "position is " + std::to_string(last));
        std::printf("%d\n", last);
        return 0;
    }

    const int id = static_cast<int>(number(1, 0));
    HWND c = control(id);
    if (c == nullptr)
        return fail(command, "no such control on the page");
    if (verb == "text") {
        std::printf("%s\n", text_of(c).c_str());
    } else if (verb == "pos") {
        std::printf("%d\n", static_cast<int>(send(c, PBM_GETPOS, 0, 0)));
    } else if (verb == "range") {
        std::printf("%d %d\n", static_cast<int>(send(c, PBM_GETRANGE, TRUE, 0)),
                    static_cast<int>(send(c, PBM_GETRANGE, FALSE, 0)));
    } else if (verb == "checked") {
        std::printf("%d\n", static_cast<int>(send(c, BM_GETCHECK, 0, 0)));
    } else if (verb == "enabled") {
        std::printf("%d\n", IsWindowEnabled(c) ? 1 : 0);
    } else if (verb == "click") {
        PostMessageA(c, BM_CLICK, 0, 0);
    } else {
        return fail(command, "unknown command");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (run(argv[i]) != 0)
            return 1;
        std::fflush(stdout);
    }
    return 0;
}
