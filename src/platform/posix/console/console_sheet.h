// The two sheet modes of the Linux build on a terminal.
#pragma once
#include "platform/system_info.h"
#include "platform/ui.h"

namespace vx {

// Runs the main page for `request` (its context is the flash context) and returns a SHEET_*
// result; outside interactive mode it ends the process with the run's exit code.
int run_console_sheet(const SheetRequest& request, SystemInfo& system);

}  // namespace vx
