#include <gtest/gtest.h>

#include <filesystem>

#include "app/startup.h"
#include "app_fixture.h"
#include "platform/main_view.h"

namespace vx::test {
namespace {

const char* const MES = "28,Main\r\n31,Caption\r\n35,Setup\r\n37,About\r\n39,Port\r\n47,No LPT";

// The silent-mode worker: records its start record and answers a set code.
int worker_result = 0;
int worker_calls = 0;
send_thread_args worker_args;
int fake_worker(const send_thread_args& args) {
    ++worker_calls;
    worker_args = args;
    return worker_result;
}

struct Startup : AppFixture {
    int run(const std::string& command_line = "vxflash.exe", int result = 0) {
        worker_result = result;
        worker_calls = 0;
        worker_args = {};
        return run_startup(flash, catalogue, command_line, nullptr, fake.ui, fake_worker);
    }
    void files(const std::string& ini_text) {
        dir.write("flash.ini", ini_text);
        dir.write("flash.mes", MES);
    }
};

TEST(StartupTest, MissingIniWritesErrorOneOnly) {
    Startup s;
    s.dir.write("KO.txt", "old run\n");
    s.dir.write("OK.txt", "old run");
    s.dir.write("FlashTrace.dbg", "old trace");
    s.dir.write("flash.mes", MES);  // not even looked for
    EXPECT_EQ(s.run(), 0);
    EXPECT_EQ(read_lines(s.dir, "KO.txt"), "[12:34:56][Error 1] flash.ini not found.\n");
    EXPECT_FALSE(s.dir.exists("OK.txt"));
    EXPECT_EQ(read_lines(s.dir, "FlashTrace.dbg"), "old trace");
    EXPECT_TRUE(s.fake.ui.boxes.empty());
    EXPECT_EQ(s.fake.services.stops, 0);
}

TEST(StartupTest, MissingMesWritesErrorTwo) {
    Startup s;
    s.dir.write("flash.ini", "[GENERAL]\r\nFILENAME=a\r\nTRACE=1\r\n");
    EXPECT_EQ(s.run(), 0);
    EXPECT_EQ(read_lines(s.dir, "KO.txt"), "[12:34:56][Error 2] file flash.mes not found.\n");
    EXPECT_FALSE(s.dir.exists("FlashTrace.dbg"));
    EXPECT_EQ(s.dir.read("flash.ini"), "[GENERAL]\r\nFILENAME=a\r\nTRACE=1\r\n");
}

TEST(StartupTest, ParallelPortIsRefusedInEveryMode) {
    for (int mode : {0, 1, 2}) {
        Startup s;
        s.files("[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=" + std::to_string(mode) +
                "\r\n[PORT SETTING]\r\nPORT=LPT1\r\n");
        EXPECT_EQ(s.run(), 0);
        EXPECT_EQ(read_lines(s.dir, "KO.txt"), "[12:34:56][Error 11] LPT Invalid port type\n");
        ASSERT_EQ(s.fake.ui.boxes.size(), mode == 0 ? 1u : 0u);
        if (mode == 0) {
            EXPECT_EQ(s.fake.ui.boxes[0].caption, "Port");
            EXPECT_EQ(s.fake.ui.boxes[0].text, "No LPT");
            EXPECT_EQ(s.fake.ui.boxes[0].type, BOX_OK);
        }
        EXPECT_EQ(s.fake.services.stops, 0);
        EXPECT_EQ(worker_calls, 0);
        EXPECT_TRUE(s.fake.ui.sheets.empty());
    }
}

TEST(StartupTest, SilentRunReturnsTheWorkersCode) {
    for (int code : {1, 0}) {
        Startup s;
        s.files(
            "[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=2\r\nTRACE=1\r\n[PORT "
            "SETTING]\r\nPORT=USB01\r\n");
        EXPECT_EQ(s.run("vxflash.exe", code), code);
        EXPECT_EQ(worker_calls, 1);
        EXPECT_EQ(worker_args.flash, &s.flash);
        EXPECT_EQ(worker_args.view, nullptr);
        EXPECT_EQ(s.fake.services.stops, 0);  // USB: the spooler is not touched
        EXPECT_TRUE(s.fake.ui.sheets.empty());
        if (code == 1) {
            EXPECT_EQ(read_lines(s.dir, "OK.txt"),
                      "[12:34:56] OK - update firmware completed successfully ");
        } else {
            EXPECT_FALSE(s.dir.exists("OK.txt"));
        }
        s.flash.report.set_trace(false);
        const std::string ini = s.flash.config.ini_path;
        EXPECT_EQ(ini.substr(ini.size() - 10),
                  std::string(1, s.fake.platform.files.path_separator()) + "flash.ini");
        EXPECT_EQ(read_lines(s.dir, "FlashTrace.dbg"),
                  "[12:34:56][FLASH][Winmain] Start - Ini Pathname = " +
                      std::string(s.flash.config.ini_path) + " \n");
    }
}

// The spooler around an unattended serial run, over a fake service manager: stop only a
// running spooler, record before stopping, restart only what this run stopped, trace what
// happened, and make good at the next start what a killed run left stopped.
TEST(StartupTest, SpoolerContract) {
    const std::string w = "[12:34:56][FLASH][Winmain] Spooler Service ";
    const std::string slow =
        "The service did not respond to the start or control request in a timely fashion.";
    struct Case {
        const char* name;
        ServiceAccess access;
        ServiceState state;
        bool record_fails, stop_fails, start_fails, recorded_before;
        const char* port;
        std::string trace;  // lines after the first
        const char* calls;
        bool recorded_after;
        uint64_t slept;
    };
    using A = ServiceAccess;
    using S = ServiceState;
    const Case cases[] = {
        {"no spooler here", A::not_applicable, S::unknown, false, false, false, false, "COM1", "",
         "state", false, 0},
        {"no manager", A::manager_failed, S::unknown, false, false, false, false, "COM1",
         w + "fail\n", "state", false, 0},
        {"no service", A::service_failed, S::unknown, false, false, false, false, "COM1", "",
         "state", false, 0},
        {"stopped by someone else", A::opened, S::stopped, false, false, false, false, "COM1",
         w + "not running: left as found\n", "state", false, 0},
        {"stop pending", A::opened, S::pending, false, false, false, false, "COM1",
         w + "not running: left as found\n", "state", false, 0},
        {"stop refused", A::opened, S::running, false, true, false, false, "COM1", "",
         "state record stop clear", false, 0},
        {"record cannot be written", A::opened, S::running, true, false, false, false, "COM1",
         w + "not stopped: the stop cannot be recorded\n", "state record", false, 0},
        {"ordinary run", A::opened, S::running, false, false, false, false, "COM1",
         w + "Stopped\n" + w + "Restarted !\n", "state record stop start clear", false, 5000},
        {"restart fails", A::opened, S::running, false, false, true, false, "COM1",
         w + "Stopped\n" + w + "restart failed: " + slow + "\n", "state record stop start", true,
         5000},
        {"left stopped by a killed run", A::opened, S::stopped, false, false, false, true, "USB01",
         w + "stopped by an earlier run: restarted\n", "start clear", false, 0},
        {"left stopped, restart fails", A::opened, S::stopped, false, false, true, true, "USB01",
         w + "stopped by an earlier run: restart failed: " + slow + "\n", "start", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Startup s;
        s.files(std::string("[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=2\r\nTRACE=1\r\n[PORT "
                            "SETTING]\r\nPORT=") +
                c.port + "\r\n");
        FakeServices& sv = s.fake.services;
        sv.access = c.access;
        sv.state = c.state;
        sv.record_fails = c.record_fails;
        sv.stop_fails = c.stop_fails;
        sv.start_fails = c.start_fails;
        sv.recorded = c.recorded_before;
        EXPECT_EQ(s.run("vxflash.exe", 1), 1);
        std::string calls;
        for (const std::string& call : sv.calls)
            calls += (calls.empty() ? "" : " ") + call;
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(sv.recorded, c.recorded_after);
        EXPECT_EQ(s.fake.clock.slept, c.slept);
        s.flash.report.set_trace(false);
        std::string trace = read_lines(s.dir, "FlashTrace.dbg");
        EXPECT_EQ(trace.substr(trace.find('\n') + 1), c.trace);
    }

    // The record is made good even by a start that goes no further than its first check.
    Startup s;
    s.fake.services.access = ServiceAccess::opened;
    s.fake.services.state = ServiceState::stopped;
    s.fake.services.recorded = true;
    EXPECT_EQ(s.run(), 0);
    EXPECT_EQ(s.fake.services.starts, 1);
    EXPECT_FALSE(s.fake.services.recorded);
}

TEST(StartupTest, InteractiveRunDoesNotStopTheSpooler) {
    Startup s;
    s.files("[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM1\r\n");
    EXPECT_EQ(s.run(), 1);
    EXPECT_EQ(s.fake.services.stops, 0);
}

struct SheetCase {
    const char* name;
    const char* flashmode_line;
    const char* command_line;
    bool setup_page;
    bool about_page;
    const char* trace;
};

TEST(StartupTest, SheetModes) {
    const SheetCase cases[] = {
        {"interactive", "", "vxflash.exe", true, true, "Start with Interactive Mode"},
        {"toolkit", "", "vxflash.exe x/tbx", false, true, "Start with Interactive Mode"},
        {"upper-case switch", "", "vxflash.exe /TB", true, true, "Start with Interactive Mode"},
        {"unattended", "FLASHMODE=3\r\n", "vxflash.exe", false, false,
         "Start with NOT Interactive Mode"},
    };
    for (const SheetCase& c : cases) {
        Startup s;
        s.files(std::string("[GENERAL]\r\nFILENAME=a\r\nTRACE=1\r\n") + c.flashmode_line +
                "[PORT SETTING]\r\nPORT=USB01\r\n");
        s.fake.ui.sheet_result = 0;
        EXPECT_EQ(s.run(c.command_line), 1) << c.name;
        ASSERT_EQ(s.fake.ui.sheets.size(), 1u) << c.name;
        const SheetRequest& r = s.fake.ui.sheets[0];
        EXPECT_STREQ(r.caption, "Caption");
        EXPECT_STREQ(r.main_title, "Main");
        EXPECT_EQ(r.setup_page, c.setup_page) << c.name;
        EXPECT_STREQ(r.setup_title, c.setup_page ? "Setup" : nullptr) << c.name;
        EXPECT_STREQ(r.about_title, c.about_page ? "About" : nullptr) << c.name;
        EXPECT_EQ(r.flash_mode, s.flash.report.mode());
        EXPECT_EQ(r.flash, &s.flash);
        EXPECT_EQ(worker_calls, 0);
        s.flash.report.set_trace(false);
        EXPECT_NE(read_lines(s.dir, "FlashTrace.dbg")
                      .find(std::string("[12:34:56][FLASH][Winmain] ") + c.trace + "\n"),
                  std::string::npos)
            << c.name;
    }
}

// What start-up reports when the sheet did not run to its end, and that an unattended serial
// run whose main page never ended it does not leave the spooler stopped.
TEST(StartupTest, SheetThatDidNotRun) {
    struct Case {
        int sheet_result;
        int mode;
        size_t boxes;
        int spooler_starts;
        const char* trace;  // after the mode line
    };
    const Case cases[] = {
        {SHEET_SHOWN, 0, 0, 0, ""},
        {SHEET_FAILED, 0, 1, 0, ""},
        {SHEET_NOT_SHOWN, 1, 0, 1,
         "[12:34:56][FLASH][Winmain] PropertySheet : no page could be shown\n"
         "[12:34:56][FLASH][Winmain] Spooler Service Restarted !\n"},
        {SHEET_FAILED, 1, 0, 1,
         "[12:34:56][FLASH][flash_last_error_msg] Function PropertySheet Error system error "
         "0!\n[12:34:56][FLASH][Winmain] Spooler Service Restarted !\n"},
    };
    for (const Case& c : cases) {
        Startup s;
        s.files("[GENERAL]\r\nFILENAME=a\r\nTRACE=1\r\nFLASHMODE=" + std::to_string(c.mode) +
                "\r\n[PORT SETTING]\r\nPORT=COM1\r\n");
        s.fake.services.access = ServiceAccess::opened;
        s.fake.ui.sheet_result = c.sheet_result;
        EXPECT_EQ(s.run(), 1);
        ASSERT_EQ(s.fake.ui.boxes.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(s.fake.ui.boxes[0].caption, "Error : PropertySheet");
        }
        EXPECT_EQ(s.fake.services.starts, c.spooler_starts);
        s.flash.report.set_trace(false);
        const std::string trace = read_lines(s.dir, "FlashTrace.dbg");
        const std::string mode_line = "Interactive Mode\n";
        EXPECT_EQ(trace.substr(trace.find(mode_line) + mode_line.size()), c.trace);
    }
}

TEST(StartupTest, ToolkitPortsAreWrittenToTheIni) {
    {
        Startup s;  // a USB port: no serial values are read
        s.files("[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM1\r\n");
        s.fake.registry.set_text("FlashPort", "USB01");
        s.fake.registry.set_flash_serial(19200, "ODD", 2, 7);
        EXPECT_EQ(s.run("vxflash /tb"), 1);
        EXPECT_EQ(s.dir.read("flash.ini"),
                  "[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=USB01\r\n");
        EXPECT_EQ(s.flash.config.port_type, USB_PORT);
    }
    {
        Startup s;  // COM3 while flash.ini said USB01: only the name changes
        s.files("[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=USB01\r\nBAUD=4800\r\n");
        s.fake.registry.set_text("FlashPort", "COM3");
        s.fake.registry.set_flash_serial(19200, "ODD", 2, 7);
        EXPECT_EQ(s.run("vxflash /tb"), 1);
        EXPECT_EQ(s.dir.read("flash.ini"),
                  "[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM3\r\nBAUD=4800\r\n"
                  "SIZE=8\r\nPARITY=0\r\nSTOP=1\r\n");
        EXPECT_EQ(s.flash.config.port_type, COM_PORT);
    }
    {
        Startup s;  // COM to COM: the toolkit's line settings win
        s.files("[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM1\r\n");
        s.fake.registry.set_text("FlashPort", "COM2");
        s.fake.registry.set_flash_serial(19200, "EVEN", 2, 7);
        EXPECT_EQ(s.run("vxflash /tb"), 1);
        EXPECT_EQ(s.dir.read("flash.ini"),
                  "[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM2\r\nBAUD=19200\r\n"
                  "SIZE=7\r\nPARITY=2\r\nSTOP=2\r\n");
        EXPECT_EQ(s.flash.config.line.baud, 19200u);
    }
    {
        Startup s;  // no port assigned: flash.ini is left alone
        const std::string ini = "[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM1\r\n";
        s.files(ini);
        s.fake.registry.set_text("FlashPort", "******");
        s.fake.registry.set_flash_serial(19200, "EVEN", 2, 7);
        EXPECT_EQ(s.run("vxflash /tb"), 1);
        EXPECT_EQ(s.dir.read("flash.ini"), ini);
        EXPECT_EQ(s.fake.registry.open_keys, 0);
    }
    {
        Startup s;  // a baud rate stored as text: the port name only
        s.files("[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM1\r\nBAUD=4800\r\n");
        s.fake.registry.set_text("FlashPort", "COM2");
        s.fake.registry.set_flash_serial(19200, "EVEN", 2, 7);
        s.fake.registry.set_text("FlashComBaudrate", "19200");
        EXPECT_EQ(s.run("vxflash /tb"), 1);
        EXPECT_EQ(s.dir.read("flash.ini"),
                  "[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM2\r\nBAUD=4800\r\n");
        EXPECT_EQ(s.flash.config.line.baud, 4800u);
    }
    {
        Startup s;  // the toolkit names a parallel port: refused like one from flash.ini
        s.files("[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=COM1\r\n");
        s.fake.registry.set_text("FlashPort", "LPT1");
        EXPECT_EQ(s.run("vxflash /tb"), 0);
        EXPECT_EQ(read_lines(s.dir, "KO.txt"), "[12:34:56][Error 11] LPT Invalid port type\n");
        EXPECT_TRUE(s.fake.ui.sheets.empty());
    }
    {
        Startup s;  // not interactive: the registry is not consulted
        s.files("[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=1\r\n[PORT SETTING]\r\nPORT=USB01\r\n");
        s.fake.registry.set_text("FlashPort", "COM2");
        EXPECT_EQ(s.run("vxflash /tb"), 1);
        EXPECT_STREQ(s.flash.config.port_name, "USB01");
        EXPECT_EQ(s.fake.registry.opened, 0);
    }
}

TEST(StartupTest, UnreadableCatalogueStillRuns) {
    Startup s;
    s.dir.write("flash.ini",
                "[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=2\r\n[PORT SETTING]\r\nPORT=USB01\r\n");
    s.dir.write("flash.mes", "");
    EXPECT_EQ(s.run("vxflash", 1), 1);
    ASSERT_EQ(s.fake.ui.boxes.size(), 1u);  // shown even in silent mode
    EXPECT_EQ(s.fake.ui.boxes[0].caption, "Error : VirtualAlloc FAILED !");
    EXPECT_STREQ(s.flash.catalogue.get_message(28), "no message available");
}

TEST(StartupTest, BuildPathAddsOneSeparatorAlways) {
    FakePlatform fake;
    const char sep = fake.platform.files.path_separator();
    const std::string root(1, sep);
    EXPECT_EQ(build_path(fake.platform, "dir", "flash.ini"), "dir" + root + "flash.ini");
    EXPECT_EQ(build_path(fake.platform, root, "flash.ini"), root + root + "flash.ini");
    EXPECT_EQ(build_path(fake.platform, std::string(249, 'd'), "flash.ini").size(), 259u);
    EXPECT_EQ(build_path(fake.platform, std::string(250, 'd'), "flash.ini"), "");
}

}  // namespace
}  // namespace vx::test
