// No parallel port access in this build yet: nothing opens and nothing is present.
#include "platform/null_devices.h"
#include "platform/posix/posix_platform.h"

namespace vx {

ParallelPorts& posix_parallel() {
    static NullParallelPorts parallel;
    return parallel;
}

}  // namespace vx
