// The flash procedure: the steps of one run on the procedure's own thread.
#pragma once

#include "app/flash_run.h"

namespace vx {

// Returns the thread's exit code (1 completed, 0 failed or refused).
int send_thread(const send_thread_args& args);

}  // namespace vx
