// The console's main page: the progress line's figures, and what a whole transfer writes on
// a terminal and into a plain file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <string>

#include "fake_platform.h"
#include "frontend/console/console_view.h"
#include "frontend/console/progress_line.h"
#include "frontend/console/terminal_width.h"
#include "image/constants.h"
#include "platform/posix/posix_fd.h"

namespace vx::test {
namespace {

TEST(ProgressLine, Figures) {
    struct Case {
        uint64_t done, total, elapsed_ms;
        std::string want;
    };
    const Case cases[] = {
        {0, 0, 0, "[..........]   0%  0 B of 0 B"},
        {0, 65536, 0, "[..........]   0%  0 B of 64.0 KiB"},
        // No rate before a second has passed.
        {32768, 65536, 999, "[#####.....]  50%  32.0 KiB of 64.0 KiB"},
        {32768, 65536, 4000, "[#####.....]  50%  32.0 KiB of 64.0 KiB  8.0 KiB/s  0:04 left"},
        // Done: no time left.
        {65536, 65536, 8000, "[##########] 100%  64.0 KiB of 64.0 KiB  8.0 KiB/s"},
        // More than the total is shown as the total.
        {70000, 65536, 8000, "[##########] 100%  64.0 KiB of 64.0 KiB  8.0 KiB/s"},
        {1048576, 4194304, 91000, "[##........]  25%  1.0 MiB of 4.0 MiB  11.3 KiB/s  4:33 left"},
        {100, 4194304, 1000, "[..........]   0%  100 B of 4.0 MiB  100 B/s  11:39:02 left"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(progress_line({c.done, c.total, c.elapsed_ms}, 10), c.want) << c.want;
    }
}

// A line wider than the terminal wraps and leaves a copy at every redraw in place.
TEST(ProgressLine, FitsTheTerminal) {
    const ProgressFigures f{65536, 262144, 5614};  // 25%, 11.4 KiB/s, 0:17 left
    const std::string status = "Bank 0: Waiting for the printer to confirm..";
    struct Case {
        int columns;
        std::string status_shown;  // the end of the line; "" when the status gave way
        bool bytes_shown;
    };
    const Case cases[] = {
        {0, status, true},  // not a terminal: the whole line
        {150, status, true}, {100, "Bank 0: Waiting f...", true}, {80, "", true}, {40, "", false},
    };
    for (const Case& c : cases) {
        const std::string line = fitted_progress_line(f, status, c.columns);
        SCOPED_TRACE(line);
        if (c.columns > 0) {
            EXPECT_LT(line.size(), static_cast<size_t>(c.columns));
        }
        EXPECT_EQ(line.rfind("[##", 0), 0u);
        for (const char* kept : {"]  25%", "  11.4 KiB/s  0:17 left"})
            EXPECT_NE(line.find(kept), std::string::npos) << kept;
        EXPECT_EQ(line.find("64.0 KiB of 256.0 KiB") != std::string::npos, c.bytes_shown);
        if (c.status_shown.empty()) {
            EXPECT_EQ(line.find("Bank"), std::string::npos);
        } else {
            EXPECT_EQ(line.substr(line.size() - c.status_shown.size()), c.status_shown);
        }
    }
    // Narrower than any terminal in use, and texts with control characters: never wider.
    for (int columns = 1; columns <= 200; ++columns) {
        const std::string line = fitted_progress_line({100, 4194304, 1000}, "a\tb\nc", columns);
        ASSERT_LT(line.size(), static_cast<size_t>(columns));
        ASSERT_EQ(line.find_first_of("\t\n"), std::string::npos);
    }
}

TEST(TerminalWidth, ReadAgainAfterAResize) {
    FileDescriptor pty(posix_openpt(O_RDWR | O_NOCTTY));
    ASSERT_GE(pty.get(), 0);
    auto resize = [&pty](unsigned short columns) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        ASSERT_EQ(ioctl(pty.get(), TIOCSWINSZ, &size), 0);
    };
    resize(100);
    {
        TerminalWidth width(pty.get());
        EXPECT_EQ(width.columns(), 100);
        resize(60);
        raise(SIGWINCH);
        EXPECT_EQ(width.columns(), 60);
    }
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(TerminalWidth(fileno(file)).columns(), 0);
    std::fclose(file);
}

// Plays the bar calls of one transfer of `pages` pages: four pages a bank, 32 bank-bar steps
// each, one second a bank.
void play_transfer(ConsoleMainView& view, FakeClock& clock, int pages) {
    view.pages_bar().set_range(0, pages);
    view.pages_bar().set_step(4);
    view.bank_bar().set_range(0, 32);
    view.bank_bar().set_step(1);
    for (int bank = 0; bank < pages / 4; ++bank) {
        view.computer_status("Sending data to the printer...");
        for (int i = 0; i < 32; ++i) {
            view.bank_bar().step();
            clock.now += 30;
        }
        view.bank_bar().set_position(0);
        view.printer_status(("Bank " + std::to_string(bank) + " accepted").c_str());
        view.pages_bar().step();
        clock.now += 40;
    }
    view.pages_bar().set_position(0);
    view.printer_status("The printer restarts with the new firmware");
}

std::string run_view(bool terminal, int pages, int columns = 0) {
    FakeClock clock;
    std::FILE* out = std::tmpfile();
    {
        ConsoleMainView view(out, terminal, clock, SEND_FW);
        view.terminal_columns = [columns] { return columns; };
        view.connection_line("Download speed 115200 bit/s");
        view.model_label("VX3Plus:");
        play_transfer(view, clock, pages);
        view.finish();
    }
    std::rewind(out);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, out)) > 0)
        text.append(buf, n);
    std::fclose(out);
    return text;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(ConsoleView, PlainOutputIsOccasionalLinesWithoutEscapes) {
    const std::string text = run_view(false, 64);  // 16 banks, about 16 s
    EXPECT_EQ(text.find('\033'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(count(text, "Connection Download speed 115200 bit/s\n"), 1u);
    EXPECT_EQ(count(text, "Model      VX3Plus:\n"), 1u);
    // Per-bank statuses ride on the progress line instead of a line each (16 banks).
    EXPECT_LE(count(text, "\nComputer "), 1u);
    EXPECT_LE(count(text, "accepted\n"), 1u) << text;
    // A line every 5 s or so, and one at the end.
    const size_t lines = count(text, "%  ");
    EXPECT_GE(lines, 3u) << text;
    EXPECT_LE(lines, 6u) << text;
    EXPECT_EQ(count(text, "] 100%  1.0 MiB of 1.0 MiB"), 1u) << text;
    // After the transfer the statuses are lines again.
    EXPECT_NE(text.find("Printer    The printer restarts with the new firmware\n"),
              std::string::npos);
}

TEST(ConsoleView, TerminalRedrawsOneLineInPlace) {
    const std::string text = run_view(true, 8, 80);
    EXPECT_GT(count(text, "\r\033[K"), 50u);
    // Every redraw fits in the 80 columns.
    for (size_t at = text.find("\r\033[K"); at != std::string::npos;
         at = text.find("\r\033[K", at + 1)) {
        const size_t start = at + 4;
        EXPECT_LT(text.find_first_of("\r\n", start) - start, 80u) << text.substr(start, 120);
    }
    // The finished transfer keeps its line; what follows starts on a line of its own.
    const size_t after = text.find("KiB/s\nPrinter    Bank 1 accepted\n");
    ASSERT_NE(after, std::string::npos) << text;
    EXPECT_EQ(text.find("100%", after), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST(ConsoleView, CheckBoxesFollowTheSendMode) {
    FakeClock clock;
    ConsoleMainView boot(stdout, false, clock, SEND_BOOT | SEND_FW);
    EXPECT_TRUE(boot.is_checked(ImageBox::boot));
    EXPECT_FALSE(boot.is_checked(ImageBox::firmware));
    ConsoleMainView fw(stdout, false, clock, SEND_FW | SEND_CG);
    EXPECT_TRUE(fw.is_checked(ImageBox::firmware));
    EXPECT_TRUE(fw.is_checked(ImageBox::cg));
    EXPECT_FALSE(fw.is_checked(ImageBox::fpga));
}

}  // namespace
}  // namespace vx::test
