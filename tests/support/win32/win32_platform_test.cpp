// The Win32 platform layer against the real system (run under Wine by scripts/test).
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "platform/platform.h"

namespace vx {
namespace {

Platform& sys() {
    return native_platform();
}

TEST(Win32Files, ReadWholeReportsTheFailingStage) {
    test::TempDir dir;
    dir.write("data.bin", std::string("a\0b\r\nc", 6));
    dir.write("empty.txt", "");
    CreateDirectoryA(dir.file("sub").c_str(), nullptr);

    struct Case {
        const char* name;
        FileStage stage;
        uint32_t error;
        std::string content;
        uint64_t max_size = UINT64_MAX;
    };
    const Case cases[] = {
        {"data.bin", FileStage::ok, 0, std::string("a\0b\r\nc", 6)},
        {"data.bin", FileStage::ok, 0, std::string("a\0b\r\nc", 6), 6},
        {"data.bin", FileStage::too_large, ERROR_FILE_TOO_LARGE, "", 5},
        {"empty.txt", FileStage::ok, 0, ""},
        {"absent.txt", FileStage::open, ERROR_FILE_NOT_FOUND, ""},
        {"sub", FileStage::open, ERROR_ACCESS_DENIED, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> out{1, 2, 3};
        const FileReadResult r = sys().files.read_whole(dir.file(c.name), out, c.max_size);
        EXPECT_EQ(r.failed_at, c.stage);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(std::string(out.begin(), out.end()), c.content);
        if (c.stage != FileStage::ok) {
            EXPECT_EQ(sys().errors.last_error(), c.error);  // kept past the handle's close
        }
    }
}

TEST(Win32Files, ReadWholeRefusesAFileOpenElsewhere) {
    test::TempDir dir;
    dir.write("flash.mes", "1,x");
    HANDLE held = CreateFileA(dir.file("flash.mes").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> out;
    const FileReadResult r = sys().files.read_whole(dir.file("flash.mes"), out, UINT64_MAX);
    CloseHandle(held);
    EXPECT_EQ(r.failed_at, FileStage::open);
    EXPECT_EQ(r.error, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
}

TEST(Win32Files, ExistsAndRemove) {
    test::TempDir dir;
    dir.write("KO.txt", "x");
    EXPECT_TRUE(sys().files.exists(dir.file("KO.txt")));
    EXPECT_TRUE(sys().files.exists(dir.path()));  // a directory counts
    sys().files.remove(dir.file("KO.txt"));
    EXPECT_FALSE(sys().files.exists(dir.file("KO.txt")));
    sys().files.remove(dir.file("KO.txt"));  // missing: no error, no crash
    EXPECT_EQ(sys().files.path_separator(), '\\');
}

TEST(Win32Files, OpenForWritingTakesDiskFilesOnly) {
    test::TempDir dir;
    dir.write("kept.txt", "old\r\n");
    dir.write("emptied.txt", "old\r\n");
    dir.write("other.txt", "someone else's\r\n");
    CreateDirectoryA(dir.file("sub").c_str(), nullptr);
    // A second name of another file is refused: neither emptied nor appended to.
    ASSERT_TRUE(
        CreateHardLinkA(dir.file("linked.txt").c_str(), dir.file("other.txt").c_str(), nullptr));
    const struct {
        std::string path;
        bool append, opens;
        const char* after;
    } cases[] = {
        {dir.file("linked.txt"), false, false, nullptr},
        {dir.file("linked.txt"), true, false, nullptr},
        {dir.file("new.txt"), false, true, "new\r\n"},  // text mode
        {dir.file("kept.txt"), true, true, "old\r\nnew\r\n"},
        {dir.file("emptied.txt"), false, true, "new\r\n"},
        {dir.file("sub"), false, false, nullptr},
        {"NUL", true, false, nullptr},  // a device
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        UniqueFile f = sys().files.open_for_writing(c.path, c.append).file;
        ASSERT_EQ(f != nullptr, c.opens);
        if (f) {
            std::fputs("new\n", f.get());
            f.reset();
            std::vector<uint8_t> out;
            sys().files.read_whole(c.path, out, UINT64_MAX);
            EXPECT_EQ(std::string(out.begin(), out.end()), c.after);
        }
    }
    EXPECT_EQ(dir.read("other.txt"), "someone else's\r\n");
}

TEST(Win32Files, StartupDirectoryIsTheUpperCasedCurrentDirectory) {
    test::TempDir dir;  // also the current directory
    char cwd[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
    std::string upper = cwd;
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::string got = sys().files.startup_directory();
    EXPECT_EQ(got, upper);
    EXPECT_NE(got, std::string(cwd)) << "the temp path should hold lower-case letters";
}

TEST(Win32Errors, TextHasNoLineEndAndKeepsTheLastError) {
    SetLastError(ERROR_ACCESS_DENIED);
    const std::string text = sys().errors.error_text(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(sys().errors.last_error(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    sys().errors.set_last_error(1234);
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(Win32Profile, ReadsWhatItWrote) {
    test::TempDir dir;
    const std::string ini = dir.file("flash.ini");
    ProfileFile& p = sys().profile;
    EXPECT_TRUE(p.write_string(ini.c_str(), "PORT SETTING", "PORT", "COM3"));
    EXPECT_TRUE(p.write_string(ini.c_str(), "PORT SETTING", "BAUD", "-1"));
    char buf[260];
    EXPECT_EQ(p.get_string(ini.c_str(), "port setting", "port", "", buf, sizeof buf), 4u);
    EXPECT_STREQ(buf, "COM3");
    EXPECT_EQ(p.get_int(ini.c_str(), "PORT SETTING", "BAUD", 9600), 4294967295u);
    EXPECT_EQ(p.get_int(ini.c_str(), "PORT SETTING", "SIZE", 8), 8u);
    EXPECT_EQ(dir.read("flash.ini"), "[PORT SETTING]\r\nPORT=COM3\r\nBAUD=-1\r\n");
    EXPECT_TRUE(p.has_section(ini.c_str(), "port setting"));
    EXPECT_FALSE(p.has_section(ini.c_str(), "CONDITIONAL_TABLE"));
    // Many sections: the name list outgrows the first buffer.
    std::string many;
    for (int i = 0; i < 600; ++i)
        many += "[SECTION_WITH_A_LONG_NAME_" + std::to_string(i) + "]\r\n";
    dir.write("many.ini", many + "[CONDITIONAL_TABLE]\r\nk=v\r\n");
    EXPECT_TRUE(p.has_section(dir.file("many.ini").c_str(), "conditional_table"));
    // A directory that does not exist cannot take the file.
    const std::string bad = dir.file("missing\\flash.ini");
    EXPECT_FALSE(p.write_string(bad.c_str(), "S", "K", "V"));
    EXPECT_EQ(sys().errors.last_error(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
}

TEST(Win32Clock, LocalTimeAndTicks) {
    const LocalTime t = sys().clock.local_time();
    EXPECT_GE(t.hour, 0);
    EXPECT_LT(t.hour, 24);
    EXPECT_LT(t.minute, 60);
    EXPECT_LT(t.second, 61);
    const uint64_t a = sys().clock.now_ms();
    sys().clock.sleep_ms(20);
    // The tick count moves in coarse steps (under Wine 8 ms was seen after a 20 ms sleep):
    // only ask that it moved forward.
    EXPECT_GT(sys().clock.now_ms(), a);
}

TEST(Win32Services, PrintersCanBeListed) {
    std::vector<PrinterQueue> queues{{"stale", "x"}};
    if (sys().printers.list(queues)) {
        for (const PrinterQueue& q : queues)
            EXPECT_NE(q.name, "stale");
    }
}

TEST(Win32Services, MissingParallelPortIsAbsent) {
    EXPECT_EQ(sys().parallel.probe("LPT9"), PortProbe::absent);
    SetLastError(0);
    EXPECT_EQ(sys().parallel.open("LPT9"), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    // A regular file opens like a port that is there: the presence test only opens it.
    test::TempDir dir;
    dir.write("lpt.bin", "x");
    EXPECT_EQ(sys().parallel.probe(dir.file("lpt.bin").c_str()), PortProbe::free);
}

// The overlapped requests, on a file standing in for the device: each request starts at
// offset 0, so a read returns what the write put there.
TEST(Win32Services, ParallelRequestsAreOverlapped) {
    test::TempDir dir;
    dir.write("lpt.bin", "");
    std::unique_ptr<ParallelDevice> device = sys().parallel.open(dir.file("lpt.bin").c_str());
    ASSERT_NE(device, nullptr);
    const uint8_t data[] = {'a', 'b', 'c'};
    uint32_t written = 0;
    EXPECT_EQ(device->write(data, sizeof data, written), PARALLEL_DONE);
    EXPECT_EQ(written, 3u);
    uint8_t buffer[8] = {};
    uint32_t got = 0;
    EXPECT_EQ(device->read(buffer, sizeof buffer, got, 1000), PARALLEL_DONE);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "abc");
    ParallelTimeouts t;
    EXPECT_FALSE(device->get_timeouts(t));  // a file has no time-out record
    // Held without sharing: a second open is refused.
    EXPECT_EQ(sys().parallel.probe(dir.file("lpt.bin").c_str()), PortProbe::busy);
}

// The toolkit (a 32-bit program) writes its key in the 32-bit registry view; a value that
// exists only in the 64-bit view must not be seen.
TEST(Win32Services, ToolkitKeyIsReadFromThe32BitView) {
    const char* path = "SOFTWARE\\Norvane\\Vx3EToolKit\\InstallOption";
    HKEY probe = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_32KEY, &probe) ==
        ERROR_SUCCESS) {
        RegCloseKey(probe);
        GTEST_SKIP() << "a toolkit is installed here; its key is left alone";
    }
    EXPECT_EQ(sys().registry.open_toolkit_key(), nullptr);

    auto make = [&](REGSAM view, const char* port) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | view,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "FlashPort", 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                       static_cast<DWORD>(strlen(port) + 1));
        RegCloseKey(key);
    };
    make(KEY_WOW64_64KEY, "COM8");
    std::unique_ptr<ToolkitKey> key = sys().registry.open_toolkit_key();
    EXPECT_EQ(key, nullptr) << "the 64-bit view was read";
    make(KEY_WOW64_32KEY, "COM7");
    key = sys().registry.open_toolkit_key();
    ASSERT_NE(key, nullptr);
    uint8_t buffer[64] = {};
    uint32_t size = 0;
    EXPECT_TRUE(key->read_value("FlashPort", buffer, sizeof buffer, size));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "COM7");
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(key->read_value("FlashPort", buffer, 4, size));  // does not fit
    EXPECT_FALSE(key->read_value("FlashComBaudrate", buffer, sizeof buffer, size));
    key.reset();
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, view, 0);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvane\\Vx3EToolKit", view, 0);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvane", view, 0);
    }
}

}  // namespace
}  // namespace vx
