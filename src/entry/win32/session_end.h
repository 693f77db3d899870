// What the Win32 entry point sets up around start-up.
#pragma once

namespace vx {

class FlashRun;
// A console's close, logoff or shutdown starts again a spooler this run stopped.
void restart_spooler_at_session_end(FlashRun& flash);

}  // namespace vx
