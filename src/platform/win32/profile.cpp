#include <windows.h>

#include <vector>

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

    // The section names come as a list of texts closed by an empty one; a list that filled
    // the buffer (size - 2 characters) may be cut, so the buffer grows until it fits.
    bool has_section(const char* path, const char* section) override {
        if (path == nullptr || section == nullptr)
            return false;
        for (DWORD size = 4096; size <= (1u << 24); size *= 4) {
            std::vector<char> names(size);
            const DWORD n = GetPrivateProfileSectionNamesA(names.data(), size, path);
            if (n + 2 >= size)
                continue;
            for (const char* name = names.data(); *name != '\0'; name += lstrlenA(name) + 1) {
                if (lstrcmpiA(name, section) == 0)
                    return true;
            }
            return false;
        }
        return false;
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
