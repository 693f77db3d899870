// The version resource of the program file, and the system's version as the system itself
// reports it (GetVersionEx answers with the version the program was made for, so ask ntdll).
#include "platform/system_info.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
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

std::string to_ansi(const std::wstring& wide) {
    if (wide.empty())
        return {};
    const int n =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), out.data(), n, nullptr,
                            nullptr);
    return out;
}

// One entry of a version resource: its length, value length and type words, its UTF-16 key,
// its value and its children, each start aligned to 4 bytes from the block's start.
struct VersionNode {
    size_t end = 0;
    std::wstring key;
    size_t value = 0, value_bytes = 0;
    uint32_t value_length = 0;  // as stored: characters for text, bytes for binary values
    size_t children = 0;
};

// A version resource in memory; every read stays inside it, whatever its words claim.
class VersionResource {
public:
    VersionResource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    WORD word(size_t at) const {
        WORD w = 0;
        if (at + 2 <= size_)
            std::memcpy(&w, data_ + at, 2);
        return w;
    }
    bool node(size_t at, VersionNode& n, size_t limit = SIZE_MAX) const {
        limit = std::min(limit, size_);
        const size_t length = word(at);
        if (at + 6 > limit || length < 6 || at + length > limit)
            return false;
        n.end = at + length;
        n.key.clear();
        size_t p = at + 6;
        for (;; p += 2) {
            if (p + 2 > n.end)
                return false;
            const wchar_t c = word(p);
            if (c == 0)
                break;
            n.key += c;
        }
        n.value = std::min(align(p + 2), n.end);
        n.value_length = word(at + 2);
        const bool text = word(at + 4) == 1;
        n.value_bytes =
            std::min<size_t>(text ? 2u * n.value_length : n.value_length, n.end - n.value);
        n.children = std::min(align(n.value + n.value_bytes), n.end);
        return true;
    }
    bool child(const VersionNode& parent, const wchar_t* key, VersionNode& out) const {
        for (size_t at = parent.children; at < parent.end;) {
            if (!node(at, out, parent.end))
                return false;
            if (_wcsicmp(out.key.c_str(), key) == 0)
                return true;
            at = align(out.end);
        }
        return false;
    }

private:
    static size_t align(size_t at) { return (at + 3) & ~size_t(3); }
    const uint8_t* data_;
    size_t size_;
};

class Win32SystemInfo final : public SystemInfo {
public:
    // Read from the program's own resource rather than through the version DLL, which is not
    // a known system DLL and would be looked for beside the program.
    VersionLookup version_string(const char* name, std::string& text, uint32_t& reported) override {
        HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(VS_VERSION_INFO),
                                    MAKEINTRESOURCEA(16) /* RT_VERSION */);
        HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
        const auto* block = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
        if (block == nullptr)
            return VersionLookup::unavailable;
        const VersionResource resource{block, SizeofResource(nullptr, found)};
        VersionNode root, table, translation, strings, language, value;
        if (!resource.node(0, root) || !resource.child(root, L"VarFileInfo", table) ||
            !resource.child(table, L"Translation", translation) || translation.value_bytes < 4)
            return VersionLookup::missing;
        const WORD lang = resource.word(translation.value);
        const WORD code_page = resource.word(translation.value + 2);
        wchar_t key[16];
        _snwprintf(key, 16, L"%04x%04x", lang, code_page);
        std::wstring wide_name;
        for (const char* c = name; *c; ++c)
            wide_name += static_cast<wchar_t>(static_cast<unsigned char>(*c));
        if (!resource.child(root, L"StringFileInfo", strings) ||
            !resource.child(strings, key, language) ||
            !resource.child(language, wide_name.c_str(), value))
            return VersionLookup::missing;
        std::wstring wide;
        for (size_t at = value.value; at + 2 <= value.value + value.value_bytes; at += 2) {
            const wchar_t c = resource.word(at);
            if (c == 0)
                break;
            wide += c;
        }
        text = to_ansi(wide);
        reported = value.value_length;  // characters, the terminator counted
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
