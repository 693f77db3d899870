// The version readers, the about page's text and the system report.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/about.h"
#include "app_fixture.h"
#include "page_fakes.h"

namespace vx::test {
namespace {

struct CopyCase {
    const char* name;
    VersionLookup lookup;
    std::string text;
    uint32_t reported;
    size_t size;
    int result;
    std::string buffer;  // "~" untouched
};

TEST(VersionReaders, CopyOnlyWhatFitsWhole) {
    const CopyCase cases[] = {
        {"fits", VersionLookup::found, "x86 001", 8, 10, 1, "x86 001"},
        {"terminator does not fit", VersionLookup::found, "123456789", 10, 10, 1, "~"},
        {"one byte short", VersionLookup::found, "12345678", 9, 10, 1, "12345678"},
        {"missing string", VersionLookup::missing, "", 0, 10, 1, "~"},
        {"no resource", VersionLookup::unavailable, "", 0, 10, 0, "~"},
        // A size that runs past the text never reads beyond it.
        {"size past the text", VersionLookup::found, "ab", 50, 128, 1, "ab"},
        {"size short of the text", VersionLookup::found, "abcdef", 3, 10, 1, "abc"},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystemInfo system;
        system.strings["SpecialBuild"] = {c.lookup, c.text, c.reported};
        if (c.lookup == VersionLookup::unavailable)
            system.resource = false;
        char buffer[128];
        std::memset(buffer, 0, sizeof buffer);
        buffer[0] = '~';
        EXPECT_EQ(get_special_build(system, buffer, c.size), c.result);
        EXPECT_STREQ(buffer, c.buffer.c_str());
    }
}

TEST(AboutPage, VersionLine) {
    struct Window : AboutWindow {
        std::vector<std::string> texts;
        void set_version_text(const char* text) override { texts.push_back(text); }
    };
    {
        FakeSystemInfo system;
        Window window;
        AboutPage(system, window).on_init();
        EXPECT_EQ(window.texts,
                  std::vector<std::string>{"ProductVersion 6, 0, 0, 5    SpecialBuild x86 001"});
    }
    {
        FakeSystemInfo system;  // a special build too long for its 10 bytes shows empty
        system.strings["SpecialBuild"] = {VersionLookup::found, "x86 00001", 10};
        Window window;
        AboutPage(system, window).on_init();
        EXPECT_EQ(window.texts,
                  std::vector<std::string>{"ProductVersion 6, 0, 0, 5    SpecialBuild "});
    }
    {
        FakeSystemInfo system;
        system.strings.erase("ProductVersion");  // missing: an empty version, still shown
        Window window;
        AboutPage(system, window).on_init();
        EXPECT_EQ(window.texts,
                  std::vector<std::string>{"ProductVersion     SpecialBuild x86 001"});
    }
    {
        FakeSystemInfo system;
        system.resource = false;  // nothing to show: the field stays empty
        Window window;
        AboutPage(system, window).on_init();
        EXPECT_TRUE(window.texts.empty());
    }
}

struct ReportCase {
    const char* name;
    OsVersion os;
    const char* product;  // null: no ProductType value
    std::string lines;
};

TEST(SystemReport, LinesByFamilyAndVersion) {
    const std::string tag = "[FLASH][system] ";
    const ReportCase cases[] = {
        {"win32s", {OsFamily::win32s, 3, 10, 0, "", ""}, "WinNT", "Microsoft Win32s\n"},
        {"95 OSR2",
         {OsFamily::windows9x, 4, 0, 950, " C", ""},
         nullptr,
         tag + "OS Microsoft Windows 95\n" + tag + "OS ProductType=OSR2\n"},
        {"95 B",
         {OsFamily::windows9x, 4, 0, 950, " B", ""},
         nullptr,
         tag + "OS Microsoft Windows 95\n" + tag + "OS ProductType=OSR2\n"},
        {"95",
         {OsFamily::windows9x, 4, 0, 950, "", ""},
         nullptr,
         tag + "OS Microsoft Windows 95\n"},
        {"98 SE",
         {OsFamily::windows9x, 4, 10, 2222, " A", ""},
         nullptr,
         tag + "OS Microsoft Windows 98\n" + tag + "OS ProductType=SE\n"},
        {"ME",
         {OsFamily::windows9x, 4, 90, 3000, " A", ""},
         nullptr,
         tag + "OS Microsoft Windows ME\n"},
        {"9x of another major", {OsFamily::windows9x, 5, 0, 1, "", ""}, nullptr, ""},
        {"NT 4",
         {OsFamily::nt, 4, 0, 1381, "Service Pack 6", ""},
         "WinNT",
         tag + "OS=Microsoft Windows NT\n" + tag + "OS ProductType=Professional\n" + tag +
             "OS Version= 4.0 Service Pack 6 (Build 1381)\n"},
        {"2000 server",
         {OsFamily::nt, 5, 0, 2195, "Service Pack 4", ""},
         "LanmanNT",
         tag + "OS=Microsoft Windows 2000\n" + tag + "OS ProductType=Server\n" + tag +
             "OS Version=Service Pack 4 (Build 2195)\n"},
        {"XP without service pack",
         {OsFamily::nt, 5, 1, 2600, "", ""},
         "SERVERNT",
         tag + "OS=Microsoft Windows XP\n" + tag + "OS ProductType=Advanced Server\n" + tag +
             "OS Version= (Build 2600)\n"},
        {"Windows 10",
         {OsFamily::nt, 10, 0, 19045, "", ""},
         "winnt",
         tag + "OS ProductType=Professional\n" + tag + "OS Version= (Build 19045)\n"},
        {"build low 16 bits",
         {OsFamily::nt, 6, 1, 0x10001DB1, "Service Pack 1", ""},
         nullptr,
         tag + "OS Version=Service Pack 1 (Build 7601)\n"},
        {"unknown product type",
         {OsFamily::nt, 6, 2, 9200, "", ""},
         "Embedded",
         tag + "OS Version= (Build 9200)\n"},
        {"other platform", {OsFamily::other_windows, 6, 0, 1, "", ""}, "WinNT", ""},
        {"linux",
         {OsFamily::non_windows, 6, 1, 1, "", "Linux 6.1.0"},
         nullptr,
         tag + "OS Version=Linux 6.1.0 (Build 1)\n"},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.name);
        AppFixture f;
        f.flash.report.set_trace(true);
        FakeSystemInfo system;
        system.os = c.os;
        system.has_product_type = c.product != nullptr;
        system.product = c.product ? c.product : "";
        EXPECT_EQ(trace_os_version(f.flash, system), 1);
        f.flash.report.set_trace(false);
        std::string got = f.dir.exists("FlashTrace.dbg") ? read_lines(f.dir, "FlashTrace.dbg") : "";
        for (size_t at = got.find("[12:34:56]"); at != std::string::npos;
             at = got.find("[12:34:56]", at))
            got.erase(at, 10);
        EXPECT_EQ(got, c.lines);
    }
}

TEST(SystemReport, UnreadableVersionAndTraceOff) {
    AppFixture f;
    f.flash.report.set_trace(true);
    FakeSystemInfo system;
    system.version_ok = false;
    EXPECT_EQ(trace_os_version(f.flash, system), 0);
    EXPECT_FALSE(f.dir.exists("FlashTrace.dbg"));

    AppFixture off;
    FakeSystemInfo readable;
    EXPECT_EQ(trace_os_version(off.flash, readable), 1);
    EXPECT_FALSE(off.dir.exists("FlashTrace.dbg"));
}

// The machine's own sources: Linux answers with the build's version texts and its kernel;
// Windows (under Wine in the test run) with the system's version.
TEST(SystemInfoNative, VersionAndSystemAreReadable) {
    OsVersion os;
    ASSERT_TRUE(native_system_info().os_version(os));
#ifdef _WIN32
    EXPECT_EQ(os.family, OsFamily::nt);
    EXPECT_GE(os.major, 5u);
    std::string type;
    EXPECT_TRUE(native_system_info().product_type(type));
    EXPECT_FALSE(type.empty());
#else
    EXPECT_EQ(os.family, OsFamily::non_windows);
    EXPECT_FALSE(os.name.empty());
    char product[128] = {};
    EXPECT_EQ(get_product_version(native_system_info(), product, sizeof product), 1);
    EXPECT_STREQ(product, "6, 0, 0, 5");
    char special[10] = {};
    EXPECT_EQ(get_special_build(native_system_info(), special, sizeof special), 1);
    EXPECT_STREQ(special, "x86 001");
#endif
}

}  // namespace
}  // namespace vx::test
