#pragma once
#include <cstdint>

namespace vx {

// Opaque window and cursor handles; null means "no window" (silent mode).
using WindowHandle = void*;
using CursorHandle = void*;

constexpr uint32_t BOX_OK = 0x0;
constexpr uint32_t BOX_YESNO = 0x4;
constexpr uint32_t BOX_ICONEXCLAMATION = 0x30;
constexpr uint32_t BOX_ICONINFORMATION = 0x40;
constexpr int ANSWER_OK = 1;
constexpr int ANSWER_YES = 6;
constexpr int ANSWER_NO = 7;

// Results of Ui::run_property_sheet: the sheet (or one of its pages) could not be made, with
// the system's error set; it returned without showing a page (no display); it ran until it
// was closed.
constexpr int SHEET_FAILED = -1;
constexpr int SHEET_NOT_SHOWN = 0;
constexpr int SHEET_SHOWN = 1;

// What start-up asks of the property sheet. The texts come from the catalogue and stay valid
// for the life of the process.
struct SheetRequest {
    const char* caption = nullptr;      // sheet caption (text 31)
    const char* main_title = nullptr;   // main page (text 28), always shown
    bool setup_page = false;            // port setup page present (interactive, no toolkit launch)
    const char* setup_title = nullptr;  // text 35; null when the setup page is left out
    const char* about_title = nullptr;  // text 37; null outside interactive mode
    int flash_mode = 0;                 // 0 interactive: three pages; else the main page alone
    void* instance = nullptr;           // program instance, for the page templates
    void* context = nullptr;            // the flash context (Cls_flash*), for the page procedures
};

class Ui {
public:
    virtual ~Ui() = default;
    // Modal box (a prompt on a terminal); returns the button pressed.
    virtual int message_box(WindowHandle owner, const char* caption, const char* text,
                            uint32_t type) = 0;
    // The system's wait cursor; null on failure with the system's last error set.
    virtual CursorHandle load_wait_cursor() = 0;
    // Makes `cursor` current and returns the one before; null when there was none (a thread
    // without windows has none), which is no failure.
    virtual CursorHandle set_cursor(CursorHandle cursor) = 0;
    // Moves the pointer by one pixel so the window below asks again which cursor to show.
    virtual bool nudge_pointer() = 0;
    // A numbered failure line of a run someone watches; a window shows it on its page, a
    // terminal prints it.
    virtual void failure_line(const char* line) { (void)line; }

    // Runs the property sheet modally; returns when it closes (in unattended mode the main
    // page may end the process before that) with one of the SHEET_* results.
    virtual int run_property_sheet(const SheetRequest& request) {
        (void)request;
        return 1;
    }
};

}  // namespace vx
