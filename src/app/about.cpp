#include "app/about.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/flash_run.h"

namespace vx {
namespace {

constexpr size_t PRODUCT_TYPE_CHARS = 80;

int read_version_string(SystemInfo& system, const char* name, char* buffer, size_t size) {
    std::string text;
    uint32_t reported = 0;
    switch (system.version_string(name, text, reported)) {
        case VersionLookup::unavailable:
            return 0;
        case VersionLookup::missing:
            return 1;
        case VersionLookup::found:
            break;
    }
    if (buffer != nullptr && size > reported) {
        // The reported size may run past the text the platform handed over; never read there.
        const size_t count = std::min<size_t>(reported, text.size() + 1);
        std::memcpy(buffer, text.c_str(), count);
    }
    return 1;
}

bool equals_ignoring_case(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

void trace_nt(FlashRun& flash, SystemInfo& system, const OsVersion& v) {
    if (v.major <= 4)
        flash.report.trace_line("[FLASH][system] OS=Microsoft Windows NT\n");
    else if (v.major == 5 && v.minor == 0)
        flash.report.trace_line("[FLASH][system] OS=Microsoft Windows 2000\n");
    else if (v.major == 5 && v.minor == 1)
        flash.report.trace_line("[FLASH][system] OS=Microsoft Windows XP\n");

    std::string type;
    if (system.product_type(type) && type.size() < PRODUCT_TYPE_CHARS) {
        if (equals_ignoring_case(type, "WINNT"))
            flash.report.trace_line("[FLASH][system] OS ProductType=Professional\n");
        else if (equals_ignoring_case(type, "LANMANNT"))
            flash.report.trace_line("[FLASH][system] OS ProductType=Server\n");
        else if (equals_ignoring_case(type, "SERVERNT"))
            flash.report.trace_line("[FLASH][system] OS ProductType=Advanced Server\n");
    }

    const int build = static_cast<int>(v.build & 0xFFFF);
    if (v.major > 4) {
        flash.report.trace_line("[FLASH][system] OS Version=%s (Build %d)\n",
                                v.service_pack.c_str(), build);
    } else {
        flash.report.trace_line("[FLASH][system] OS Version= %d.%d %s (Build %d)\n",
                                static_cast<int>(v.major), static_cast<int>(v.minor),
                                v.service_pack.c_str(), build);
    }
}

void trace_9x(FlashRun& flash, const OsVersion& v) {
    if (v.major != 4)
        return;
    const char second = v.service_pack.size() > 1 ? v.service_pack[1] : '\0';
    if (v.minor == 0) {
        flash.report.trace_line("[FLASH][system] OS Microsoft Windows 95\n");
        if (second == 'C' || second == 'B')
            flash.report.trace_line("[FLASH][system] OS ProductType=OSR2\n");
    } else if (v.minor == 10) {
        flash.report.trace_line("[FLASH][system] OS Microsoft Windows 98\n");
        if (second == 'A')
            flash.report.trace_line("[FLASH][system] OS ProductType=SE\n");
    } else if (v.minor == 90) {
        flash.report.trace_line("[FLASH][system] OS Microsoft Windows ME\n");
    }
}

}  // namespace

int get_product_version(SystemInfo& system, char* buffer, size_t size) {
    return read_version_string(system, "ProductVersion", buffer, size);
}

int get_special_build(SystemInfo& system, char* buffer, size_t size) {
    return read_version_string(system, "SpecialBuild", buffer, size);
}

int trace_os_version(FlashRun& flash, SystemInfo& system) {
    OsVersion v;
    if (!system.os_version(v))
        return 0;
    switch (v.family) {
        case OsFamily::win32s:
            flash.report.trace_line("Microsoft Win32s\n");
            break;
        case OsFamily::windows9x:
            trace_9x(flash, v);
            break;
        case OsFamily::nt:
            trace_nt(flash, system, v);
            break;
        case OsFamily::non_windows:
            flash.report.trace_line("[FLASH][system] OS Version=%s (Build %d)\n", v.name.c_str(),
                                    static_cast<int>(v.build & 0xFFFF));
            break;
        case OsFamily::other_windows:
            break;
    }
    return 1;
}

void AboutPage::on_init() {
    char product[128] = {};
    if (!get_product_version(system_, product, sizeof product))
        return;
    char special[10] = {};
    get_special_build(system_, special, sizeof special);
    const std::string text =
        std::string("ProductVersion ") + product + "    SpecialBuild " + special;
    window_.set_version_text(text.c_str());
}

}  // namespace vx
