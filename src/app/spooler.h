// The print spooler around an unattended serial run: stopped only when it runs, started
// again only when this run stopped it, and never left stopped by a run that was killed.
#pragma once
#include <string>

namespace vx {

class FlashRun;
struct Platform;

// Stops a running spooler, after recording the stop where any later start finds it. A
// spooler that does not run is left as found.
void stop_spooler(FlashRun& flash);

// Starts again the spooler this run stopped; any exit path may call it, only the first call
// acts. Traces what happened with `tag` ("[FLASH][main_page] ").
void restart_spooler(FlashRun& flash, const char* tag);

// A spooler that an earlier run stopped and could not restart (it was killed) is started
// now and the record cleared. Returns the trace line to write, empty when nothing was
// recorded; it runs before the trace is open.
std::string recover_spooler(Platform& platform);

}  // namespace vx
