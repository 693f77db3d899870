// Linux has no version resource: the version strings are the build's own, and the system
// report names the kernel.
#include "platform/system_info.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>

#include "vx_version.h"

namespace vx {
namespace {

class PosixSystemInfo final : public SystemInfo {
public:
    VersionLookup version_string(const char* name, std::string& text, uint32_t& reported) override {
        const char* value = nullptr;
        if (std::strcmp(name, "ProductVersion") == 0)
            value = VX_PRODUCT_VERSION;
        else if (std::strcmp(name, "SpecialBuild") == 0)
            value = VX_SPECIAL_BUILD;
        if (value == nullptr)
            return VersionLookup::missing;
        text = value;
        reported = static_cast<uint32_t>(text.size() + 1);
        return VersionLookup::found;
    }

    bool os_version(OsVersion& out) override {
        utsname u{};
        if (uname(&u) != 0)
            return false;
        out.family = OsFamily::non_windows;
        out.name = std::string(u.sysname) + " " + u.release;
        // The kernel's build count ("#1 SMP ..."), the nearest thing to a build number.
        const char* hash = std::strchr(u.version, '#');
        out.build =
            hash != nullptr ? static_cast<uint32_t>(std::strtoul(hash + 1, nullptr, 10)) : 0;
        return true;
    }

    bool product_type(std::string&) override { return false; }
};

}  // namespace

SystemInfo& native_system_info() {
    static PosixSystemInfo info;
    return info;
}

}  // namespace vx
