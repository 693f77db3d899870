// The version resource of the program file, and the system's version as the system itself
// reports it (GetVersionEx answers with the version the program was made for, so ask ntdll).
#include "platform/system_info.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

namespace vx {
namespace {

struct RegKeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);

OsFamily family_of(DWORD platform) {
    switch (platform) {
        case VER_PLATFORM_WIN32s:
            return OsFamily::win32s;
        case VER_PLATFORM_WIN32_WINDOWS:
            return OsFamily::windows9x;
        case VER_PLATFORM_WIN32_NT:
            return OsFamily::nt;
        default:
            return OsFamily::other_windows;
    }
}

bool version_from_ntdll(OsVersion& out) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr)
        return false;
    auto get_version = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (get_version == nullptr)
        return false;
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (get_version(&info) != 0)
        return false;
    out.family = family_of(info.dwPlatformId);
    out.major = info.dwMajorVersion;
    out.minor = info.dwMinorVersion;
    out.build = info.dwBuildNumber;
    char pack[2 * sizeof info.szCSDVersion] = {};
    WideCharToMultiByte(CP_ACP, 0, info.szCSDVersion, -1, pack, sizeof pack - 1, nullptr, nullptr);
    out.service_pack = pack;
    return true;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// Older systems: the extended record first, then the basic one.
bool version_from_kernel(OsVersion& out) {
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    OSVERSIONINFOA& info = *reinterpret_cast<OSVERSIONINFOA*>(&extended);
    if (!GetVersionExA(&info)) {
        extended = {};
        info.dwOSVersionInfoSize = sizeof info;
        if (!GetVersionExA(&info))
            return false;
    }
    out.family = family_of(info.dwPlatformId);
    out.major = info.dwMajorVersion;
    out.minor = info.dwMinorVersion;
    out.build = info.dwBuildNumber;
    out.service_pack.assign(info.szCSDVersion,
                            strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
    return true;
}
#pragma GCC diagnostic pop

class Win32SystemInfo final : public SystemInfo {
public:
    VersionLookup version_string(const char* name, std::string& text, uint32_t& reported) override {
        char file[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameA(nullptr, file, MAX_PATH);
        if (n == 0 || n >= MAX_PATH)
            return VersionLookup::unavailable;
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
        if (size == 0)
            return VersionLookup::unavailable;
        std::vector<char> block(size);
        if (!GetFileVersionInfoA(file, 0, size, block.data()))
            return VersionLookup::unavailable;

        struct Translation {
            WORD language;
            WORD code_page;
        };
        void* found = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &found, &length) ||
            found == nullptr || length < sizeof(Translation))
            return VersionLookup::missing;
        const auto* first = static_cast<const Translation*>(found);
        char key[96];
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", first->language,
                      first->code_page, name);
        found = nullptr;
        length = 0;
        if (!VerQueryValueA(block.data(), key, &found, &length) || found == nullptr)
            return VersionLookup::missing;
        const char* value = static_cast<const char*>(found);
        text.assign(value, strnlen(value, length));
        reported = length;
        return VersionLookup::found;
    }

    bool os_version(OsVersion& out) override {
        return version_from_ntdll(out) || version_from_kernel(out);
    }

    bool product_type(std::string& out) override {
        HKEY raw = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                          0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
            return false;
        UniqueRegKey key(raw);
        char value[80] = {};
        DWORD size = sizeof value;
        DWORD type = 0;
        if (RegQueryValueExA(key.get(), "ProductType", nullptr, &type,
                             reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
            return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return false;
        // A value stored without its terminator is still read only within the buffer.
        out.assign(value, strnlen(value, size));
        return true;
    }
};

}  // namespace

SystemInfo& native_system_info() {
    static Win32SystemInfo info;
    return info;
}

}  // namespace vx
