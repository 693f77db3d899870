#include <windows.h>

#include "platform/win32/win32_services.h"

namespace vx {
namespace {

class Win32Profile final : public ProfileFile {
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

ProfileFile& win32_profile() {
    static Win32Profile profile;
    return profile;
}

}  // namespace vx
