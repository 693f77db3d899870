// The POSIX file layer's opens for writing: a pipe or device named like the trace or a result
// file is refused at once instead of blocking the program, and the trace then stays off; a
// link, symbolic or hard, is refused and the file it leads to left as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app_fixture.h"
#include "platform/posix/posix_platform.h"

namespace vx::test {
namespace {

namespace fs = std::filesystem;

// Should an open wait for a reader of the pipe after all, this opens one after a while, so
// the test fails instead of hanging. The reader stays open until the end of the test.
class PipeWatchdog {
public:
    explicit PipeWatchdog(std::string path)
        : path_(std::move(path)), thread_([this] {
              for (int i = 0; i < 300 && !done_; ++i)
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              if (!done_) {
                  fired_ = true;
                  reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
              }
          }) {}
    ~PipeWatchdog() {
        stop();
        if (reader_ >= 0)
            ::close(reader_);
    }
    PipeWatchdog(const PipeWatchdog&) = delete;
    PipeWatchdog& operator=(const PipeWatchdog&) = delete;
    // True when the watched call had to be released.
    bool stop() {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
        return fired_;
    }

private:
    std::string path_;
    std::atomic<bool> done_{false};
    bool fired_ = false;
    int reader_ = -1;
    std::thread thread_;
};

TEST(PosixOpenForWriting, RegularFilesOnly) {
    enum Kind {
        absent,
        regular,
        link_to_regular,
        dangling_link,
        hard_link,
        pipe,
        pipe_with_reader,
        directory,
        device
    };
    const struct {
        const char* name;
        Kind kind;
        bool append;
        bool opens;         // otherwise refused
        const char* after;  // the regular file's bytes after writing "new\n"
    } cases[] = {
        {"absent", absent, false, true, "new\n"},
        {"absent_append", absent, true, true, "new\n"},
        {"emptied", regular, false, true, "new\n"},
        {"appended", regular, true, true, "old\nnew\n"},
        {"link", link_to_regular, false, false, "old\n"},
        {"link_append", link_to_regular, true, false, "old\n"},
        {"dangling_link", dangling_link, true, false, nullptr},
        {"hard_link", hard_link, false, false, "old\n"},
        {"hard_link_append", hard_link, true, false, "old\n"},
        {"pipe", pipe, false, false, nullptr},
        {"pipe_append", pipe, true, false, nullptr},
        {"pipe_with_reader", pipe_with_reader, false, false, nullptr},
        {"directory", directory, false, false, nullptr},
        {"device", device, true, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("FlashTrace.dbg");
        int reader = -1;
        switch (c.kind) {
            case absent:
                break;
            case regular:
                dir.write("FlashTrace.dbg", "old\n");
                break;
            case link_to_regular:
                dir.write("target", "old\n");
                fs::create_symlink("target", path);
                break;
            case dangling_link:
                fs::create_symlink("target", path);
                break;
            case hard_link:
                dir.write("target", "old\n");
                fs::create_hard_link(dir.file("target"), path);
                break;
            case pipe:
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
                break;
            case pipe_with_reader:
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
                reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
                ASSERT_GE(reader, 0);
                break;
            case directory:
                fs::create_directory(path);
                break;
            case device:
                fs::create_symlink("/dev/null", path);
                break;
        }
        PipeWatchdog watchdog(path);
        WriteOpen w = posix_files().open_for_writing(path, c.append);
        EXPECT_FALSE(watchdog.stop()) << "the open waited for a reader";
        EXPECT_EQ(w.file != nullptr, c.opens);
        EXPECT_EQ(w.refused, !c.opens);
        if (w.file) {
            EXPECT_EQ(std::fputs("new\n", w.file.get()), 1);
            w.file.reset();
        }
        if (c.after != nullptr) {  // never read back a pipe: that would wait for a writer
            EXPECT_EQ(dir.read(c.opens ? "FlashTrace.dbg" : "target"), c.after);
        }
        if (c.kind == dangling_link) {
            EXPECT_FALSE(fs::exists(dir.file("target")));  // not created through the link
        }
        if (reader >= 0) {
            char buf[8];
            EXPECT_LE(::read(reader, buf, sizeof buf), 0);  // nothing went down the pipe
            ::close(reader);
        }
        if (c.kind == pipe) {
            EXPECT_TRUE(fs::is_fifo(path));  // left as it was
        }
    }
}

TEST(PosixOpenForWriting, PipeAsTraceOrResultFileNeverBlocks) {
    AppFixture app;
    for (const char* name : {"FlashTrace.dbg", "KO.txt", "OK.txt"})
        ASSERT_EQ(::mkfifo(app.dir.file(name).c_str(), 0600), 0) << name;
    PipeWatchdog trace(app.dir.file("FlashTrace.dbg")), ko(app.dir.file("KO.txt")),
        ok(app.dir.file("OK.txt"));
    app.flash.report.set_trace(true);
    app.flash.report.trace_line("[FLASH][x] one\n");
    app.flash.report.trace_line("[FLASH][x] two\n");
    app.flash.report.ko_report("[Error 1] flash.ini not found.\n");
    app.flash.report.ok_report(" OK \n");
    EXPECT_FALSE(trace.stop());
    EXPECT_FALSE(ko.stop());
    EXPECT_FALSE(ok.stop());
    // The run goes on without a trace.
    EXPECT_FALSE(app.flash.report.tracing());
    EXPECT_FALSE(app.flash.report.has_trace_file());
}

}  // namespace
}  // namespace vx::test

namespace vx::test {
namespace {

// Another user's file behind links named like the result files (the trace behind a link is a
// row of the table above): a run as root leaves it as it is, goes on, and says on the console
// and in the trace what it refused.
TEST(PosixOpenForWriting, LinkedResultFilesAreLeftAloneAndReported) {
    for (const bool hard : {false, true}) {
        SCOPED_TRACE(hard ? "hard" : "symbolic");
        AppFixture app;
        app.dir.write("victim", "someone else's\n");
        for (const char* name : {"KO.txt", "OK.txt"}) {
            if (hard)
                fs::create_hard_link(app.dir.file("victim"), app.dir.file(name));
            else
                fs::create_symlink("victim", app.dir.file(name));
        }
        app.flash.report.set_mode(SILENT_MODE);
        app.flash.report.set_trace(true);
        app.flash.report.ko_report("[Error 8] Download firmware Error.\n");
        app.flash.report.ok_report(" OK - update firmware completed successfully ");

        EXPECT_EQ(app.dir.read("victim"), "someone else's\n");
        const std::string refused =
            " is a link or not a plain file: left as it is and not written to";
        EXPECT_EQ(app.fake.ui.failure_lines,
                  (std::vector<std::string>{"KO.txt" + refused, "OK.txt" + refused}));
        const std::string trace = app.dir.read("FlashTrace.dbg");
        EXPECT_NE(trace.find("][FLASH][report] KO.txt" + refused), std::string::npos);
        EXPECT_NE(trace.find("][FLASH][report] OK.txt" + refused), std::string::npos);
    }
}

}  // namespace
}  // namespace vx::test
