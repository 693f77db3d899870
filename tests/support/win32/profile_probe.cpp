// Answers profile queries through the program's Win32 profile layer, a direct call of the
// system's own functions: the reference side of the differential profile test (run under Wine).
#include "profile_probe.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/win32/win32_services.h"

int main(int argc, char** argv) {
    // Same bytes as the POSIX probe: no CR LF translation either way.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    return vx::probe::main(vx::win32_profile(), '\\', argc, argv);
}
