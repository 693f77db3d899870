// What the Linux entry point does besides start-up.
#pragma once
#include "platform/platform.h"

namespace vx {

// `vxflash --list-ports`: one line per port PORT may name, with whether it is free. Returns
// the process exit code.
int list_ports(Platform& platform);

class FlashRun;
// From now on SIGTERM, SIGHUP and SIGINT end the run through its failure ending.
void end_runs_on_signals(FlashRun& flash);

}  // namespace vx
