// The main page on a terminal, for the two sheet modes of the Linux build: the same page
// logic as the Windows sheet, drawn by ConsoleMainView, with Enter to start and Ctrl-C as
// the leave guard.
#include "frontend/console/console_sheet.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "app/flash_run.h"
#include "flash/main_page.h"
#include "frontend/console/console_view.h"
#include "frontend/console/terminal_width.h"

namespace vx {
namespace {

std::atomic<bool> interrupted{false};

void on_sigint(int) {
    interrupted = true;
}

// Ctrl-C asks instead of killing the run; the old handler comes back when the page ends.
class SigintGuard {
public:
    SigintGuard() {
        struct sigaction sa {};
        sa.sa_handler = on_sigint;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;  // no restart: a prompt waiting for Enter sees the interruption
        sigaction(SIGINT, &sa, &old_);
        interrupted = false;
    }
    ~SigintGuard() { sigaction(SIGINT, &old_, nullptr); }
    SigintGuard(const SigintGuard&) = delete;
    SigintGuard& operator=(const SigintGuard&) = delete;

private:
    struct sigaction old_ {};
};

class ThreadProcedure final : public ProcedureThread {
public:
    ~ThreadProcedure() override {
        if (thread_.joinable())
            thread_.join();
    }
    bool start(ProcedureEntry entry, const send_thread_args& args) override {
        if (thread_.joinable())
            thread_.join();
        started_ = true;
        done_ = false;
        const send_thread_args copy = args;
        try {
            thread_ = std::thread([this, entry, copy] {
                exit_code_ = entry(copy);
                done_ = true;
            });
        } catch (const std::system_error&) {
            started_ = false;
            return false;
        }
        return true;
    }
    State state() override {
        if (!started_)
            return State::none;
        return done_ ? State::ended : State::running;
    }
    bool wait(uint32_t ms) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return done_;
    }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<int> exit_code_{0};
    bool started_ = false;

public:
    int exit_code() const { return exit_code_; }
};

class ConsoleWindow final : public MainPageWindow {
public:
    explicit ConsoleWindow(ConsoleMainView& view) : view_(view) {}
    MainPageView& view() override { return view_; }
    void cancel_to_close() override {}
    void set_sheet_title(const char*) override {}
    void create_toolbar(const char*, const char*) override {}
    void set_check(ImageBox, bool) override {}
    void enable(ImageBox, bool) override {}
    void printer_caption(const char* text) override { std::printf("%s\n", text); }
    bool current_directory(std::string& dir) override {
        char buf[4096];
        if (getcwd(buf, sizeof buf) == nullptr)
            return false;
        dir = buf;
        return true;
    }
    bool choose_file(const std::string&, std::string&) override { return false; }
    void beep() override {
        std::fputc('\a', stderr);
        std::fflush(stderr);
    }
    void exit_process(int code) override {
        exit_code = code;
        ended = true;
    }
    int exit_code = 1;
    bool ended = false;

private:
    ConsoleMainView& view_;
};

std::string choice_text(uint16_t mode) {
    if (mode & SEND_BOOT)
        return "boot loader";
    std::string out;
    auto add = [&out](bool on, const char* what) {
        if (!on)
            return;
        if (!out.empty())
            out += ", ";
        out += what;
    };
    add(mode & SEND_FW, "firmware");
    add(mode & SEND_FPGA, "FPGA");
    add(mode & SEND_CG, "tables and fonts");
    add(mode & KEEP_SETTINGS, "keeping the settings");
    return out.empty() ? "nothing selected" : out;
}

// Enter starts, q (or the end of the input, or Ctrl-C) quits.
bool ask_to_start() {
    std::printf("Press Enter to start the download, or q and Enter to quit: ");
    std::fflush(stdout);
    char line[64];
    if (std::fgets(line, sizeof line, stdin) == nullptr || interrupted)
        return false;
    return line[0] != 'q' && line[0] != 'Q';
}

}  // namespace

int run_console_sheet(const SheetRequest& request, SystemInfo& system) {
    FlashRun* flash_ptr = request.flash;
    if (flash_ptr == nullptr)
        return SHEET_FAILED;
    FlashRun& flash = *flash_ptr;
    const bool interactive = request.flash_mode == INTERACTIVE_MODE;

    SigintGuard sigint;
    ConsoleMainView view(stdout, isatty(STDOUT_FILENO) == 1, flash.platform.clock,
                         flash.config.send_mode);
    TerminalWidth width(STDOUT_FILENO);
    view.terminal_columns = [&width] { return width.columns(); };
    std::atomic<int> result{-1};
    view.on_ended = [&result](int r) { result = r; };
    ConsoleWindow window(view);
    ThreadProcedure thread;
    MainPage page(flash, window, thread, system);

    page.on_init();
    std::printf("%s\n", request.caption != nullptr ? request.caption : "vxflash");
    std::printf("File       %s\n", flash.config.fw_filename);
    std::printf("Send       %s\n", choice_text(flash.config.send_mode).c_str());
    page.on_activate();
    if (interactive) {
        if (!ask_to_start()) {
            std::printf("\nNothing sent.\n");
            return SHEET_SHOWN;
        }
        page.on_start();
    }

    while (thread.state() == ProcedureThread::State::running) {
        if (interrupted.exchange(false)) {
            view.finish();
            if (interactive) {
                page.may_leave();  // asks, and stops the procedure on yes
            } else {
                const int answer = flash.platform.ui.message_box(
                    nullptr, flash.catalogue.get_message(39), flash.catalogue.get_message(40),
                    BOX_YESNO | BOX_ICONEXCLAMATION);
                if (answer == ANSWER_YES)
                    flash.stop_requested = true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    thread.join();
    view.finish();

    if (!interactive) {
        page.on_close(result < 0 ? 0 : result.load());
        std::fflush(stdout);
        // The page has ended the run; the process ends with its code, as on Windows.
        std::exit(window.exit_code);
    }
    if (thread.exit_code() == 1)
        std::printf("Download completed.\n");
    else
        std::printf(
            "Download failed: see KO.txt%s.\n",
            flash.report.tracing() ? " and FlashTrace.dbg" : " (TRACE=1 in flash.ini for a trace)");
    return SHEET_SHOWN;
}

SheetRunner& console_property_sheet() {
    class ConsoleSheet final : public SheetRunner {
    public:
        int run(const SheetRequest& request) override {
            return run_console_sheet(request, native_system_info());
        }
    };
    static ConsoleSheet sheet;
    return sheet;
}

}  // namespace vx
