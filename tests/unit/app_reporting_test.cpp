#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "app_fixture.h"

namespace vx::test {
namespace {

TEST(Reporting, TraceOnlyWhenAsked) {
    AppFixture app;
    app.dir.write("FlashTrace.dbg", "earlier run");
    app.flash.report.trace_line("[FLASH][x] one\n");
    EXPECT_EQ(read_lines(app.dir, "FlashTrace.dbg"), "earlier run");

    app.flash.report.set_trace(true);
    app.flash.report.trace_line("[FLASH][x] %s=%d\n", "n", 5);
    app.flash.report.trace_line("no end");
    app.flash.report.trace_line(" then more\n");
    // Each line is flushed at once: the file is complete while it is still open.
    EXPECT_EQ(read_lines(app.dir, "FlashTrace.dbg"),
              "[12:34:56][FLASH][x] n=5\n[12:34:56]no end[12:34:56] then more\n");
}

TEST(Reporting, TraceThatCannotBeCreatedSwitchesItselfOff) {
    AppFixture app;
    std::filesystem::create_directory(app.dir.file("FlashTrace.dbg"));
    app.flash.report.set_trace(true);
    app.flash.report.trace_line("x\n");
    EXPECT_FALSE(app.flash.report.tracing());
    EXPECT_FALSE(app.flash.report.has_trace_file());
}

TEST(Reporting, LongMessagesAreKeptWhole) {
    AppFixture app;
    app.flash.report.set_trace(true);
    std::string path(2000, 'p');
    app.flash.report.trace_line("[FLASH][x] %s \n", path.c_str());
    app.flash.report.ko_report("[Error 6] Cannot open firmware file = %s .\n", path.c_str());
    app.flash.report.set_trace(false);
    EXPECT_EQ(read_lines(app.dir, "FlashTrace.dbg"), "[12:34:56][FLASH][x] " + path + " \n");
    EXPECT_EQ(read_lines(app.dir, "KO.txt"),
              "[12:34:56][Error 6] Cannot open firmware file = " + path + " .\n");
}

TEST(Reporting, LinesFromTwoThreadsNeverMix) {
    AppFixture app;
    app.flash.report.set_trace(true);
    const int lines = 3000;
    const std::string a(100, 'a'), b(100, 'b');
    auto writer = [&](const std::string& body) {
        for (int i = 0; i < lines; ++i)
            app.flash.report.trace_line("[T] %s %d\n", body.c_str(), i);
    };
    std::thread t1(writer, a), t2(writer, b);
    t1.join();
    t2.join();
    std::istringstream in(read_lines(app.dir, "FlashTrace.dbg"));
    std::string line;
    int count_a = 0, count_b = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ASSERT_EQ(line.rfind("[12:34:56][T] ", 0), 0u) << line;
        std::string body = line.substr(14, 100);
        ASSERT_TRUE(body == a || body == b) << line;
        (body == a ? count_a : count_b)++;
    }
    EXPECT_EQ(count_a, lines);
    EXPECT_EQ(count_b, lines);
}

TEST(Reporting, ResultFilesAppendWhateverTheTraceSays) {
    AppFixture app;
    app.flash.report.ko_report("[Error 5] Printer OFF. - portname %s\n", "COM1");
    app.flash.report.ko_report("[Error 3] Error opening printer port.\n");
    app.flash.report.ok_report(" OK - update firmware completed successfully ");
    EXPECT_EQ(read_lines(app.dir, "KO.txt"),
              "[12:34:56][Error 5] Printer OFF. - portname COM1\n"
              "[12:34:56][Error 3] Error opening printer port.\n");
    EXPECT_EQ(read_lines(app.dir, "OK.txt"),
              "[12:34:56] OK - update firmware completed successfully ");
    EXPECT_FALSE(app.dir.exists("FlashTrace.dbg"));
}

TEST(Reporting, UserMessageOnlyInInteractiveMode) {
    AppFixture app;
    app.fake.ui.answer = ANSWER_NO;
    EXPECT_EQ(app.flash.report.user_message(nullptr, "c", "t", BOX_YESNO), ANSWER_NO);
    ASSERT_EQ(app.fake.ui.boxes.size(), 1u);
    EXPECT_EQ(app.fake.ui.boxes[0].type, BOX_YESNO);
    for (int mode : {1, 2, 3}) {
        app.flash.report.set_mode(mode);
        EXPECT_EQ(app.flash.report.user_message(nullptr, "c", "t", BOX_YESNO), ANSWER_OK);
    }
    EXPECT_EQ(app.fake.ui.boxes.size(), 1u);
}

struct LastErrorCase {
    int mode;
    const char* name;
    const char* caption;  // box, or null for a trace line
    const char* trace;
};

TEST(Reporting, LastErrorIsABoxOrATraceLine) {
    const LastErrorCase cases[] = {
        {0, "SetCommState : COM1", "Error : SetCommState : COM1", ""},
        {0, nullptr, "Error", ""},
        {2, "GetExitCodeThread", nullptr,
         "[12:34:56][FLASH][flash_last_error_msg] Function GetExitCodeThread Error system error "
         "5!\n"},
        {1, nullptr, nullptr, "[12:34:56][FLASH][flash_last_error_msg] Error system error 5!\n"},
    };
    for (const LastErrorCase& c : cases) {
        AppFixture app;
        app.flash.report.set_mode(c.mode);
        app.flash.report.set_trace(true);
        app.fake.errors.code = 5;
        EXPECT_EQ(app.flash.report.flash_last_error_msg(c.name), 1);
        if (c.caption) {
            ASSERT_EQ(app.fake.ui.boxes.size(), 1u);
            EXPECT_EQ(app.fake.ui.boxes[0].caption, c.caption);
            EXPECT_EQ(app.fake.ui.boxes[0].text, "system error 5");
            EXPECT_EQ(app.fake.ui.boxes[0].type, BOX_ICONINFORMATION);
        } else {
            EXPECT_TRUE(app.fake.ui.boxes.empty());
        }
        app.flash.report.set_trace(false);
        EXPECT_EQ(app.dir.exists("FlashTrace.dbg") ? read_lines(app.dir, "FlashTrace.dbg") : "",
                  c.trace);
    }
}

TEST(Reporting, SystemErrorBoxInEveryModeNeverTraced) {
    AppFixture app;
    app.flash.report.set_mode(2);
    app.flash.report.set_trace(true);
    app.fake.errors.code = 2;
    system_error_box(app.fake.platform, "GetCurrentDirectory");
    ASSERT_EQ(app.fake.ui.boxes.size(), 1u);
    EXPECT_EQ(app.fake.ui.boxes[0].caption, "Error : GetCurrentDirectory");
    EXPECT_EQ(app.fake.ui.boxes[0].text, "system error 2");
    EXPECT_FALSE(app.dir.exists("FlashTrace.dbg"));
}

TEST(Reporting, CatalogueTextsAsFormats) {
    AppFixture app;
    app.dir.write("flash.mes", "14,Bank %d\r\n20,File %s\r\n30,Oops %s %n");
    app.catalogue.load_catalogue(app.dir.file("flash.mes").c_str());
    EXPECT_EQ(app.flash.catalogue.message_int(14, 3), "Bank 3");
    EXPECT_EQ(app.flash.catalogue.message_str(14, "x"), "Bank %d");
    EXPECT_EQ(app.flash.catalogue.message_str(20, "a.bin"), "File a.bin");
    EXPECT_EQ(app.flash.catalogue.message_int(30, 1), "Oops %s %n");
    EXPECT_EQ(app.flash.catalogue.message_int(99, 1), "no message available");
}

TEST(Reporting, ContextStartValues) {
    FakePlatform fake;
    MessageCatalogue cat(fake.platform);
    FlashRun flash(fake.platform, cat);
    EXPECT_EQ(flash.sent_bank.size(), TX_BUFFER_SIZE);
    EXPECT_EQ(flash.sent_bank[TX_BUFFER_SIZE - 1], 0);
    EXPECT_EQ(flash.config.port_type, COM_PORT);
    EXPECT_EQ(flash.report.mode(), 0);
    EXPECT_EQ(flash.config.send_mode, 0);
    EXPECT_FALSE(flash.report.tracing());
    EXPECT_STREQ(flash.config.ini_path, "");
    EXPECT_TRUE(fake.ui.boxes.empty());
}

}  // namespace
}  // namespace vx::test

namespace vx::test {
namespace {

// A watched run shows each numbered failure as it happens; a silent one only writes KO.txt.
TEST(Reporting, FailureLinesReachTheUserOutsideSilentMode) {
    for (int mode : {INTERACTIVE_MODE, 1, SILENT_MODE}) {
        AppFixture app;
        app.flash.report.set_mode(mode);
        app.flash.report.ko_report("[Error 9] Printer not answering.\n");
        const std::vector<std::string> want =
            mode == SILENT_MODE ? std::vector<std::string>{}
                                : std::vector<std::string>{"[Error 9] Printer not answering.\n"};
        EXPECT_EQ(app.fake.ui.failure_lines, want) << mode;
    }
}

}  // namespace
}  // namespace vx::test
