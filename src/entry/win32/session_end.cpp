// A console's close, logoff or shutdown seen through the console handler starts again a
// spooler this run stopped. Logoff and shutdown without a console are left to the record: a
// hidden top-level window on a second thread, created at start-up, kept the property sheet
// from appearing under Wine once user32 is delay-loaded, and the next start of the program
// restarts the spooler from the record anyway.
#include "entry/win32/session_end.h"

#include <windows.h>

#include "app/flash_run.h"
#include "app/spooler.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

FlashRun* watched = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    if (watched != nullptr &&
        (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT))
        restart_spooler(*watched, "[FLASH][Winmain] ");
    return FALSE;  // the default handling ends the process
}

}  // namespace

void restart_spooler_at_session_end(FlashRun& flash) {
    watched = &flash;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

}  // namespace vx
