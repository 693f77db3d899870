// No parallel port access in this build yet: nothing opens and nothing is present.
#include "platform/null_devices.h"
#include "platform/win32/win32_services.h"

namespace vx {

ParallelPorts& win32_parallel() {
    static NullParallelPorts parallel;
    return parallel;
}

}  // namespace vx
