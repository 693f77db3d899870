// Update decision from the printer's firmware release. The release request and the
// CONDITIONAL_TABLE lookup are not part of this build yet: the decision is refused openly,
// never taken as "update".
#include "app/cls_flash.h"

namespace vx {

int Cls_flash::UpdateMustBeDone() {
    trace_line(
        "[FLASH][UpdateMustBeDone] The conditional update decision (CONDITIONAL_TABLE) is not "
        "available in this build: no update done.\n");
    return 0;
}

}  // namespace vx
