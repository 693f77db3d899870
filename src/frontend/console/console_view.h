// The main page on a terminal: the status lines as they change and one progress line, redrawn
// in place on a terminal, or written as plain lines now and then when the output is a file or
// a pipe.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/main_view.h"

namespace vx {

class ConsoleMainView final : public MainPageView {
public:
    // `terminal`: redraw the progress line in place. `send_mode` gives the check boxes.
    ConsoleMainView(std::FILE* out, bool terminal, Clock& clock, uint16_t send_mode);

    void connection_line(const char* text) override { status("Connection", text, false); }
    void transfer_line(const char* text) override { status("Transfer", text, false); }
    void computer_status(const char* text) override { status("Computer", text, true); }
    void printer_status(const char* text) override { status("Printer", text, true); }
    void reply_line(const char* text) override { status("Reply", text, true); }
    void bank_label(const char* text) override;
    void page_range(const char* first, const char* last) override;
    void model_label(const char* text) override { status("Model", text, false); }
    ProgressView& bank_bar() override { return bank_; }
    ProgressView& pages_bar() override { return pages_; }
    bool is_checked(ImageBox box) override;
    void disable(ImageBox) override {}
    void procedure_ended(int result) override;

    // Ends the progress line so that what follows starts on a line of its own.
    void finish();
    // Told the procedure's result outside interactive mode (from the procedure's thread).
    std::function<void(int)> on_ended;
    // The terminal's width in columns, asked at each redraw; unset or 0: no limit.
    std::function<int()> terminal_columns;
    // Plain mode writes a progress line at most this often.
    static constexpr uint64_t PLAIN_INTERVAL_MS = 5000;

private:
    class Bar final : public ProgressView {
    public:
        Bar(ConsoleMainView& owner) : owner_(owner) {}
        void set_range(int low, int high) override;
        void set_step(int step) override;
        void step() override;
        void set_position(int position) override;
        int high = 0, pos = 0, step_size = 1;

    private:
        ConsoleMainView& owner_;
    };

    // A `live` status changes with every bank: during a transfer it rides on the progress
    // line instead of taking a line of its own.
    void status(const char* label, const char* text, bool live);
    bool transferring() const;
    void progress_changed();
    void draw_progress(bool force);
    void clear_progress();
    uint64_t done_bytes() const;
    uint64_t total_bytes() const;

    std::FILE* out_;
    bool terminal_;
    Clock& clock_;
    uint16_t send_mode_;
    std::mutex mutex_;
    Bar bank_{*this};
    Bar pages_{*this};
    std::map<std::string, std::string> last_status_;
    std::string bank_text_;
    std::string live_text_;
    bool progress_shown_ = false;
    bool started_ = false;
    bool complete_written_ = false;
    // Bytes shown never go back: the bank bar restarts before the pages bar moves on.
    uint64_t shown_done_ = 0;
    uint64_t start_ms_ = 0;
    uint64_t last_plain_ms_ = 0;
};

}  // namespace vx
