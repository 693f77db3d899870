#include "platform/posix/posix_platform.h"
#include "platform/posix/profile_file.h"

namespace vx {

ProfileFile& posix_profile() {
    static FileProfile profile(posix_errors());
    return profile;
}

}  // namespace vx
