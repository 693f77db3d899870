// IBM 4722 emulation switch-off. The command dialogue is not part of this build yet: say so
// in the trace instead of pretending it ran.
#include "app/cls_flash.h"

namespace vx {

int Cls_flash::disable_4722_emulation() {
    trace_line(
        "[FLASH][disable_4722_emulation] Emulation switch-off is not available in this build: "
        "nothing sent.\n");
    return 0;
}

}  // namespace vx
