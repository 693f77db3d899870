#include "app/cls_flash.h"

namespace vx {

uint32_t Cls_flash::set_wait_cursor(uint32_t on) {
    cursor_busy = on;
    if (on) {
        wait_cursor = platform.ui.load_wait_cursor();
        if (wait_cursor == nullptr) {
            report.flash_last_error_msg("LoadCursor");
            return cursor_busy;
        }
        // A null answer means there was no cursor before (the procedure's thread owns no
        // window), not a failure: a box here would stop every interactive download.
        saved_cursor = platform.ui.set_cursor(wait_cursor);
    } else if (saved_cursor != nullptr) {
        platform.ui.set_cursor(saved_cursor);
    }
    // Moving the pointer makes the window below ask again which cursor to show.
    if (!platform.ui.nudge_pointer()) {
        report.flash_last_error_msg("GetCursorPos");
    }
    return cursor_busy;
}

}  // namespace vx
