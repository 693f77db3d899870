// The main page's decisions: check boxes, title, starts, the leave and cancel guards with the
// cooperative stop, and the end of an unattended run.
#include <gtest/gtest.h>

#include <string>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app_fixture.h"
#include "flash/main_page.h"
#include "flash/send_thread.h"
#include "page_fakes.h"
#include "protocol/bank_transfer.h"

namespace vx::test {
namespace {

struct Page {
    TempDir dir;  // first: it outlives the context, whose trace file it holds
    FakePlatform fake;
    MessageCatalogue catalogue{fake.platform};
    FlashRun flash{fake.platform, catalogue};
    FakePageWindow window;
    FakeProcedureThread thread;
    FakeSystemInfo system;
    MainPage page{flash, window, thread, system};

    explicit Page(int mode = INTERACTIVE_MODE, const std::string& text_31 = "%s") {
        dir.write("flash.mes", "29,Open\n30,Start\n31," + text_31 +
                                   "\n32,Tip open\n33,Tip start\n39,Q39\n40,Q40\n");
        catalogue.load_catalogue(dir.file("flash.mes").c_str());
        flash.report.set_trace(true);
        flash.report.set_mode(mode);
        std::snprintf(flash.config.port_name, sizeof flash.config.port_name, "COM3");
        flash.config.port_type = COM_PORT;
        std::snprintf(flash.config.fw_filename, sizeof flash.config.fw_filename,
                      "C:\\fw\\image.bin");
    }
    std::string trace() {
        std::string t = read_lines(dir, "FlashTrace.dbg");
        const std::string stamp = "[12:34:56]";
        for (size_t at = t.find(stamp); at != std::string::npos; at = t.find(stamp, at))
            t.erase(at, stamp.size());
        return t;
    }
};

// ---- initialisation ----

struct BoxCase {
    const char* name;
    int mode;
    uint16_t send_mode;
    const char* checked;  // F C B P K: firmware, cg, boot, fpga, keep settings
    const char* enabled;
};

std::string boxes(std::map<ImageBox, bool>& state) {
    std::string s;
    const std::pair<ImageBox, char> order[] = {{ImageBox::firmware, 'F'},
                                               {ImageBox::cg, 'C'},
                                               {ImageBox::boot, 'B'},
                                               {ImageBox::fpga, 'P'},
                                               {ImageBox::keep_settings, 'K'}};
    for (auto [box, letter] : order)
        s += state[box] ? letter : '-';
    return s;
}

TEST(MainPageInit, CheckBoxesFollowTheSendModeAndTheRunMode) {
    const BoxCase cases[] = {
        {"interactive fw+cg", 0, SEND_FW | SEND_CG, "FC---", "FCBPK"},
        {"interactive keep+fpga", 0, KEEP_SETTINGS | SEND_FPGA, "---PK", "FCBPK"},
        {"interactive boot wins", 0, SEND_BOOT | SEND_FW | SEND_CG, "--B--", "--B--"},
        {"interactive nothing", 0, 0, "-----", "FCBPK"},
        {"unattended fw", 1, SEND_FW, "F----", "-----"},
        {"unattended boot", 1, SEND_BOOT, "--B--", "-----"},
        {"mode 3 is unattended", 3, SEND_CG | KEEP_SETTINGS, "-C--K", "-----"},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.name);
        Page p(c.mode);
        p.window.checks[ImageBox::fpga] = true;  // left from nothing: every box is set anew
        p.flash.config.send_mode = c.send_mode;
        p.page.on_init();
        EXPECT_EQ(boxes(p.window.checks), c.checked);
        EXPECT_EQ(boxes(p.window.enabled), c.enabled);
    }
}

TEST(MainPageInit, InteractiveModeHasToolbarAndClose) {
    for (int mode : {0, 1}) {
        Page p(mode);
        p.page.on_init();
        EXPECT_EQ(p.window.cancel_to_close_calls, mode == 0 ? 1 : 0);
        if (mode == 0) {
            EXPECT_EQ(p.window.toolbar, (std::vector<std::string>{"Open", "Start"}));
        } else {
            EXPECT_TRUE(p.window.toolbar.empty());
        }
        EXPECT_EQ(p.window.main_view.texts[Field::model], "VX3:");  // before any detection
    }
}

TEST(MainPageInit, TraceStartsWithTheVersionAndTheSystem) {
    Page p;
    p.page.on_init();
    EXPECT_EQ(p.trace(),
              "[FLASH][main_page] #### Flash ProductVersion 6, 0, 0, 5 # SpecialBuild x86 001 "
              "#####\n"
              "[FLASH][system] OS ProductType=Professional\n"
              "[FLASH][system] OS Version= (Build 19045)\n");

    Page no_resource;
    no_resource.system.resource = false;
    no_resource.page.on_init();
    EXPECT_EQ(no_resource.trace(),
              "[FLASH][system] OS ProductType=Professional\n"
              "[FLASH][system] OS Version= (Build 19045)\n");

    Page long_build;
    long_build.system.strings["SpecialBuild"] = {VersionLookup::found, "x86 001 long", 13};
    long_build.page.on_init();
    EXPECT_NE(long_build.trace().find("ProductVersion 6, 0, 0, 5 # SpecialBuild  #####"),
              std::string::npos);
}

TEST(MainPageInit, ModelLabels) {
    const std::pair<int, const char*> labels[] = {
        {0, "VX3:"},      {1, "VX3E:"}, {2, "VX3Plus:"}, {3, "VX3Plus_:"},
        {4, "VX3PlusS:"}, {5, "VX3:"},  {6, "VX3:"},     {-1, "VX3:"}};
    for (auto [model, label] : labels)
        EXPECT_STREQ(model_label(model), label) << model;
}

struct TitleCase {
    const char* text_31;
    std::string file;
    const char* title;  // null: the title stays
};

TEST(MainPageTitle, TextAfterTheLastBackslashOfTheFormattedText) {
    const TitleCase cases[] = {
        {"%s", "C:\\fw\\image.bin", "image.bin"},
        {"Flash %s", "image.bin", nullptr},
        {"VX3 download", "C:\\fw\\image.bin", nullptr},  // no conversion: nothing to show
        {"Flash %d", "C:\\fw\\image.bin", nullptr},      // not used as a format
        {"C:\\tools\\%s", "image.bin", "image.bin"},
        {"%s", "C:\\fw\\", ""},
        // Built in 260 bytes: the part after byte 259 is gone before the search.
        {nullptr, "\\ab\\cd", ""},
    };
    for (const TitleCase& c : cases) {
        const std::string text = c.text_31 ? c.text_31 : std::string(255, 'x').append("%s");
        SCOPED_TRACE(text.substr(0, 20));
        Page p(INTERACTIVE_MODE, text);
        std::snprintf(p.flash.config.fw_filename, sizeof p.flash.config.fw_filename, "%s",
                      c.file.c_str());
        p.page.on_init();
        if (c.title == nullptr) {
            EXPECT_TRUE(p.window.titles.empty());
        } else {
            EXPECT_EQ(p.window.titles, std::vector<std::string>{c.title});
        }
    }
}

// ---- file chooser ----

TEST(MainPageFile, ChosenPathBecomesTheImageAndTheTitle) {
    Page p;
    p.window.user_chooses = true;
    p.window.chosen = "D:\\images\\new.vx3";
    p.page.on_choose_file();
    EXPECT_EQ(p.window.chooser_started_in, "C:\\WORK");
    EXPECT_STREQ(p.flash.config.fw_filename, "D:\\images\\new.vx3");
    EXPECT_EQ(p.window.titles, std::vector<std::string>{"new.vx3"});
    EXPECT_TRUE(p.fake.ui.boxes.empty());
}

TEST(MainPageFile, CancelKeepsTheImageAndUnreadableDirectoryIsReported) {
    Page p;
    p.window.directory_ok = false;
    p.fake.errors.code = 3;
    p.page.on_choose_file();
    ASSERT_EQ(p.fake.ui.boxes.size(), 1u);
    EXPECT_EQ(p.fake.ui.boxes[0].caption, "Error : GetCurrentDirectory");
    EXPECT_EQ(p.window.chooser_started_in, "");  // shown all the same
    EXPECT_STREQ(p.flash.config.fw_filename, "C:\\fw\\image.bin");
    EXPECT_EQ(p.window.titles, std::vector<std::string>{"image.bin"});  // redone anyway
}

// ---- start ----

struct RangeCase {
    uint16_t port;
    uint32_t begin, end;
    const char* bank_range;
    const char* pages_range;
};

TEST(MainPageStart, BarsAreSetUpAndTheProcedureStarts) {
    const RangeCase cases[] = {
        {COM_PORT, 0, 63, "range 0 32", "range 0 64"},
        {USB_PORT, 4, 7, "range 0 4", "range 0 4"},
        {COM_PORT, 0, 65535, "range 0 32", "range 0 0"},   // 65536 pages wrap to 0
        {COM_PORT, 10, 5, "range 0 32", "range 0 65532"},  // a reversed range wraps too
    };
    for (const RangeCase& c : cases) {
        Page p;
        p.flash.config.port_type = c.port;
        p.flash.session.begin_page = c.begin;
        p.flash.session.end_page = c.end;
        p.flash.stop_requested = true;  // from an earlier stop
        p.page.on_start();
        ASSERT_EQ(p.thread.starts, 1);
        EXPECT_EQ(p.thread.entry, &send_thread);
        EXPECT_EQ(p.thread.args.view, &p.window.main_view);
        EXPECT_EQ(p.thread.args.flash, &p.flash);
        EXPECT_FALSE(p.flash.stop_requested);
        EXPECT_EQ(p.window.main_view.bank_log,
                  (std::vector<std::string>{c.bank_range, "step 1 0"}));
        EXPECT_EQ(p.window.main_view.pages_log,
                  (std::vector<std::string>{c.pages_range, "step 4 0"}));
        EXPECT_EQ(p.trace(), "[FLASH][main_page] Create Send_Thread\n");
    }
}

TEST(MainPageStart, StartRequestDependsOnTheLastProcedure) {
    using S = ProcedureThread::State;
    const std::pair<S, int> cases[] = {
        {S::none, 1}, {S::ended, 1}, {S::running, 0}, {S::unknown, 0}};
    for (auto [state, starts] : cases) {
        Page p;
        p.thread.current = state;
        p.page.on_start();
        EXPECT_EQ(p.thread.starts, starts);
        EXPECT_EQ(p.fake.ui.boxes.size(), state == S::unknown ? 1u : 0u);
        if (state == S::unknown) {
            EXPECT_EQ(p.fake.ui.boxes[0].caption, "Error : GetExitCodeThread");
        }
    }
}

TEST(MainPageStart, ActivationNamesThePortAndStartsOnlyOutsideInteractiveMode) {
    Page interactive;
    interactive.page.on_activate();
    EXPECT_EQ(interactive.window.printer_group, "Printer connected to COM3");
    EXPECT_EQ(interactive.thread.starts, 0);

    Page unattended(1);
    unattended.page.on_activate();
    unattended.page.on_activate();  // a second activation does not start a second procedure
    EXPECT_EQ(unattended.thread.starts, 1);

    Page long_port;
    std::string name(200, 'P');
    std::snprintf(long_port.flash.config.port_name, sizeof long_port.flash.config.port_name, "%s",
                  name.c_str());
    long_port.page.on_activate();
    EXPECT_EQ(long_port.window.printer_group.size(), 127u);
}

TEST(MainPageStart, ThreadThatCannotStartEndsAnUnattendedRun) {
    Page p(1);
    p.thread.start_fails = true;
    p.page.on_activate();
    EXPECT_EQ(p.window.exits, std::vector<int>{1});
    EXPECT_NE(p.trace().find("[FLASH][flash_last_error_msg] Function CreateThread Error"),
              std::string::npos);

    Page q;
    q.thread.start_fails = true;
    q.page.on_start();
    EXPECT_TRUE(q.window.exits.empty());
    ASSERT_EQ(q.fake.ui.boxes.size(), 1u);
    EXPECT_EQ(q.fake.ui.boxes[0].caption, "Error : CreateThread");
}

TEST(MainPageBoxes, BootClickEnablesOrDisablesTheOthersWithoutTouchingTheirState) {
    Page p;
    p.window.checks = {{ImageBox::firmware, true}, {ImageBox::cg, false}, {ImageBox::boot, true}};
    p.page.on_boot_clicked();
    EXPECT_EQ(boxes(p.window.enabled), "--B--");
    p.window.checks[ImageBox::boot] = false;
    p.page.on_boot_clicked();
    EXPECT_EQ(boxes(p.window.enabled), "FCBPK");
    EXPECT_EQ(boxes(p.window.checks), "F----");
}

TEST(MainPageToolbar, Tooltips) {
    Page p;
    EXPECT_STREQ(p.page.tooltip(OPEN_COMMAND), "Tip open");
    EXPECT_STREQ(p.page.tooltip(START_COMMAND), "Tip start");
    EXPECT_EQ(p.page.tooltip(3), nullptr);
}

// ---- leave and cancel guards ----

using State = ProcedureThread::State;

struct GuardCase {
    const char* name;
    int mode;
    State state;
    int answer;
    bool ends_when_asked;  // the procedure honours the stop within the wait
    bool allowed;
    size_t boxes;
    const char* trace_after;  // trace lines after "PSN_KILLACTIVE !"
};

// The thread is never ended from outside: a procedure that does not end within the wait
// keeps the page, with the stop still asked.
TEST(MainPageGuard, LeaveGuard) {
    const std::string stopped =
        "[FLASH][main_page] Stop requested, waiting for the flash procedure\n"
        "[FLASH][main_page] Flash procedure stopped\n";
    const std::string still =
        "[FLASH][main_page] Stop requested, waiting for the flash procedure\n"
        "[FLASH][main_page] Flash procedure still in a wait after 10000 ms: the page stays\n";
    const GuardCase cases[] = {
        {"unattended", 1, State::running, ANSWER_YES, true, false, 0, ""},
        {"no procedure yet", 0, State::none, ANSWER_YES, true, true, 0, ""},
        {"procedure ended", 0, State::ended, ANSWER_YES, true, true, 0, ""},
        {"state unknown", 0, State::unknown, ANSWER_YES, true, false, 1, ""},
        {"answered no", 0, State::running, ANSWER_NO, true, false, 1, ""},
        {"answered yes, stops", 0, State::running, ANSWER_YES, true, true, 1, stopped.c_str()},
        {"answered yes, still in a wait", 0, State::running, ANSWER_YES, false, false, 1,
         still.c_str()},
    };
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.name);
        Page p(c.mode);
        p.thread.current = c.state;
        p.fake.ui.answer = c.answer;
        bool flag_seen_in_wait = false;
        int cursor_sets_in_wait = 0;
        p.thread.on_wait = [&](uint32_t) {
            flag_seen_in_wait = p.flash.stop_requested;
            cursor_sets_in_wait = p.fake.ui.cursor_sets;
            return c.ends_when_asked;
        };
        p.flash.cursor.busy = 1;
        EXPECT_EQ(p.page.may_leave(), c.allowed);
        ASSERT_EQ(p.fake.ui.boxes.size(), c.boxes);
        if (c.state == State::running && c.mode == 0) {
            EXPECT_EQ(p.fake.ui.boxes[0].caption, "Q39");
            EXPECT_EQ(p.fake.ui.boxes[0].text, "Q40");
            EXPECT_EQ(p.fake.ui.boxes[0].type, 0x34u);
        }
        const bool asked_to_stop =
            c.answer == ANSWER_YES && c.state == State::running && c.mode == 0;
        EXPECT_EQ(p.flash.stop_requested.load(), asked_to_stop);
        if (asked_to_stop) {
            EXPECT_EQ(p.thread.waits, std::vector<uint32_t>{STOP_WAIT_MS});
            EXPECT_TRUE(flag_seen_in_wait);       // asked before waiting
            EXPECT_EQ(cursor_sets_in_wait, 1);    // with the wait cursor on
            EXPECT_EQ(p.fake.ui.cursor_sets, 2);  // and the old one back after
        } else {
            EXPECT_TRUE(p.thread.waits.empty());
        }
        // The page touches nothing of the procedure's: its own ending restores the cursor.
        EXPECT_EQ(p.flash.cursor.busy, 1u);
        EXPECT_EQ(p.trace(), std::string("[FLASH][main_page] PSN_KILLACTIVE !\n") + c.trace_after);
    }
}

TEST(MainPageGuard, CancelGuardRefusesOutsideInteractiveModeWithoutATrace) {
    Page unattended(1);
    unattended.thread.current = State::ended;
    EXPECT_FALSE(unattended.page.may_cancel());
    EXPECT_EQ(unattended.trace(), "");

    Page interactive;
    interactive.thread.current = State::running;
    interactive.fake.ui.answer = ANSWER_NO;
    EXPECT_FALSE(interactive.page.may_cancel());
    EXPECT_EQ(interactive.trace(), "[FLASH][main_page] PSN_KILLACTIVE !\n");
    interactive.thread.current = State::ended;
    EXPECT_TRUE(interactive.page.may_cancel());
}

TEST(MainPageCursor, WaitCursorOnlyWhileBusy) {
    Page p;
    EXPECT_FALSE(p.page.set_busy_cursor());
    p.flash.cursor.busy = 1;
    p.flash.cursor.wait = reinterpret_cast<CursorHandle>(0x10);
    EXPECT_TRUE(p.page.set_busy_cursor());
    EXPECT_EQ(p.fake.ui.cursor_sets, 1);
}

// The procedure's thread owns no window, so it has no cursor to give back: that must not
// stop an interactive download on an error box.
TEST(WaitCursor, NoPreviousCursorIsNoError) {
    Page p;
    p.fake.ui.previous_cursor = nullptr;
    EXPECT_EQ(p.flash.set_wait_cursor(1), 1u);
    EXPECT_TRUE(p.fake.ui.boxes.empty());
    EXPECT_EQ(p.fake.ui.cursor_sets, 1);
    EXPECT_EQ(p.flash.set_wait_cursor(0), 0u);
    EXPECT_EQ(p.fake.ui.cursor_sets, 1);  // nothing to put back
    EXPECT_TRUE(p.fake.ui.boxes.empty());

    Page q;
    q.flash.set_wait_cursor(1);
    q.flash.set_wait_cursor(0);
    EXPECT_EQ(q.fake.ui.cursor_sets, 2);  // the earlier cursor is back
}

// ---- end of the process ----

struct CloseCase {
    const char* name;
    int mode;
    uint16_t port;
    int result;
    int exit_code;
    int spooler_starts;
    int beeps;
    uint64_t slept;
    size_t boxes;
    std::string trace;
};

TEST(MainPageClose, EndsTheProcessWithTheResult) {
    const std::string restart = "[FLASH][main_page] Spooler Service Restarted !\n";
    const std::string failed = "[FLASH][main_page] Flash procedure FAILED - ExitProcess(1) \n";
    const std::string success = "[FLASH][main_page] ExitProcess(0) \n";
    const CloseCase cases[] = {
        {"unattended com success", 1, COM_PORT, 1, 0, 1, 0, 0, 0, (restart + success)},
        {"unattended com failure", 1, COM_PORT, 0, 1, 1, 1, 2000, 0, (restart + failed)},
        {"unattended usb failure", 1, USB_PORT, 0, 1, 0, 1, 2000, 0, failed},
        {"other value is failure", 3, USB_PORT, 7, 1, 0, 1, 2000, 0, failed},
        {"interactive failure", 0, COM_PORT, 0, 1, 0, 0, 0, 1, failed},
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        Page p(c.mode);
        p.flash.config.port_type = c.port;
        // Start-up stopped the spooler for a serial run outside interactive mode only.
        p.flash.spooler_stopped = c.port == COM_PORT && c.mode != 0;
        p.page.on_close(c.result);
        EXPECT_EQ(p.window.exits, std::vector<int>{c.exit_code});
        EXPECT_EQ(p.fake.services.starts, c.spooler_starts);
        EXPECT_EQ(p.window.beeps, c.beeps);
        EXPECT_EQ(p.fake.clock.slept, c.slept);
        ASSERT_EQ(p.fake.ui.boxes.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(p.fake.ui.boxes[0].caption, "ERROR");
            EXPECT_EQ(p.fake.ui.boxes[0].text, "Flash procedure FAILED !!!!!");
            EXPECT_EQ(p.fake.ui.boxes[0].type, BOX_OK);
        }
        EXPECT_EQ(p.trace(), "[FLASH][main_page] WM_CLOSE !\n" + c.trace);
        if (c.result == 1) {
            EXPECT_EQ(read_lines(p.dir, "OK.txt"),
                      "[12:34:56] OK - update firmware completed successfully ");
        } else {
            EXPECT_FALSE(p.dir.exists("OK.txt"));
        }
    }
}

// A close message that is not the procedure's own result (any program of the user can post
// one) never ends the run or writes OK.txt: it asks to close the sheet, through the guard.
TEST(MainPageClose, CloseRequestGoesThroughTheGuard) {
    const struct {
        const char* name;
        int mode;
        State state;
        int answer;
        int closes;
    } cases[] = {
        {"unattended run", 1, State::running, ANSWER_YES, 0},
        {"interactive, nothing runs", 0, State::none, ANSWER_NO, 1},
        {"interactive run, answered no", 0, State::running, ANSWER_NO, 0},
        {"interactive run, answered yes", 0, State::running, ANSWER_YES, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page p(c.mode);
        p.thread.current = c.state;
        p.thread.on_wait = [](uint32_t) { return true; };
        p.fake.ui.answer = c.answer;
        p.page.on_close_request();
        EXPECT_EQ(p.window.sheet_closes, c.closes);
        EXPECT_TRUE(p.window.exits.empty());
        EXPECT_FALSE(p.dir.exists("OK.txt"));
        EXPECT_EQ(
            p.trace().rfind("[FLASH][main_page] WM_CLOSE without a result: close request\n", 0),
            0u);
    }
}

// The procedure reads the file name: the open button is off while it runs, and a command
// that arrives anyway changes nothing.
TEST(MainPageFile, OpenIsOffWhileAProcedureRuns) {
    Page p;
    p.window.user_chooses = true;
    p.window.chosen = "D:\\images\\new.vx3";
    p.page.on_start();
    EXPECT_EQ(p.window.open_button, std::vector<bool>{false});
    p.page.on_choose_file();
    EXPECT_EQ(p.window.chooser_started_in, "<not shown>");
    EXPECT_STREQ(p.flash.config.fw_filename, "C:\\fw\\image.bin");
    p.page.refresh_open();
    EXPECT_EQ(p.window.open_button, std::vector<bool>{false});  // still running
    p.thread.current = State::ended;
    p.page.refresh_open();
    EXPECT_EQ(p.window.open_button, (std::vector<bool>{false, true}));
    p.page.on_choose_file();
    EXPECT_STREQ(p.flash.config.fw_filename, "D:\\images\\new.vx3");
}

}  // namespace
}  // namespace vx::test
