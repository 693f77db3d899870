// Answers profile queries with the system's own functions; the reference side of the
// differential profile test (run under Wine).
#include "profile_probe.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

class SystemProfile final : public vx::ProfileFile {
public:
    uint32_t get_string(const char* path, const char* section, const char* key, const char* def,
                        char* buf, uint32_t size) override {
        return GetPrivateProfileStringA(section, key, def, buf, size, path);
    }
    uint32_t get_int(const char* path, const char* section, const char* key, int def) override {
        return GetPrivateProfileIntA(section, key, def, path);
    }
    bool write_string(const char* path, const char* section, const char* key,
                      const char* value) override {
        return WritePrivateProfileStringA(section, key, value, path) != FALSE;
    }
};

}  // namespace

int main(int argc, char** argv) {
    // Same bytes as the POSIX probe: no CR LF translation either way.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    SystemProfile profile;
    return vx::probe::main(profile, '\\', argc, argv);
}
