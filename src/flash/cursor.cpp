#include "app/flash_run.h"

namespace vx {

uint32_t FlashRun::set_wait_cursor(uint32_t on) {
    cursor.busy = on;
    if (on) {
        cursor.wait = platform.ui.load_wait_cursor();
        if (cursor.wait == nullptr) {
            report.flash_last_error_msg("LoadCursor");
            return cursor.busy;
        }
        // A null answer means there was no cursor before (the procedure's thread owns no
        // window), not a failure: a box here would stop every interactive download.
        cursor.saved = platform.ui.set_cursor(cursor.wait);
    } else if (cursor.saved != nullptr) {
        platform.ui.set_cursor(cursor.saved);
    }
    // Moving the pointer makes the window below ask again which cursor to show.
    if (!platform.ui.nudge_pointer()) {
        report.flash_last_error_msg("GetCursorPos");
    }
    return cursor.busy;
}

}  // namespace vx
