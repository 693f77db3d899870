// The program's own version resource and the operating system's version, for the about page
// and the report at the head of every trace.
#pragma once
#include <cstdint>
#include <string>

namespace vx {

enum class VersionLookup {
    unavailable,  // the program's file name or its version resource cannot be had
    missing,      // the resource has no such string
    found,
};

enum class OsFamily {
    win32s,
    windows9x,  // Windows 95, 98, ME
    nt,
    other_windows,  // a platform id the report does not know
    non_windows,    // a system outside the Windows families; `name` says which
};

struct OsVersion {
    OsFamily family = OsFamily::other_windows;
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    std::string service_pack;  // the system's own text, often empty
    std::string name;          // non_windows only: system name and release
};

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // One string of the program file's version resource ("ProductVersion", "SpecialBuild"),
    // under the first language and code page of its translation table. `reported` is the size
    // the lookup gives for the string, its terminator counted.
    virtual VersionLookup version_string(const char* name, std::string& text,
                                         uint32_t& reported) = 0;
    // False when the system's version cannot be read at all.
    virtual bool os_version(OsVersion& out) = 0;
    // The NT product options' ProductType value; false when the key or the value is missing
    // or does not fit in 80 characters.
    virtual bool product_type(std::string& out) = 0;
};

// The machine's own implementation (win32/ or posix/).
SystemInfo& native_system_info();

}  // namespace vx
