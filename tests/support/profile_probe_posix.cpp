// Answers profile queries with our own profile-file implementation; compared with the
// system's answers under Wine by tests/integration/profile_diff_wine.sh.
#include "platform/platform.h"
#include "profile_probe.h"

int main(int argc, char** argv) {
    return vx::probe::main(vx::native_platform().profile, '/', argc, argv);
}
