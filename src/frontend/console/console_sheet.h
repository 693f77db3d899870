// The two sheet modes of the Linux build on a terminal.
#pragma once
#include "app/sheet.h"
#include "platform/system_info.h"

namespace vx {

// Runs the main page for `request` and returns a SHEET_* result; outside interactive mode it
// ends the process with the run's exit code.
int run_console_sheet(const SheetRequest& request, SystemInfo& system);

// The main page on the terminal, as start-up runs it.
SheetRunner& console_property_sheet();

}  // namespace vx
