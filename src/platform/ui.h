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
};

}  // namespace vx
