#include "frontend/console/console_view.h"

#include <cstring>

#include "frontend/console/progress_line.h"
#include "image/constants.h"

namespace vx {

namespace {
constexpr uint64_t BANK_BYTES = 4 * PAGE_SIZE;
}  // namespace

ConsoleMainView::ConsoleMainView(std::FILE* out, bool terminal, Clock& clock, uint16_t send_mode)
    : out_(out), terminal_(terminal), clock_(clock), send_mode_(send_mode) {}

bool ConsoleMainView::is_checked(ImageBox box) {
    const bool boot = (send_mode_ & SEND_BOOT) != 0;
    switch (box) {
        case ImageBox::boot:
            return boot;
        case ImageBox::firmware:
            return !boot && (send_mode_ & SEND_FW);
        case ImageBox::cg:
            return !boot && (send_mode_ & SEND_CG);
        case ImageBox::fpga:
            return !boot && (send_mode_ & SEND_FPGA);
        case ImageBox::keep_settings:
            return !boot && (send_mode_ & KEEP_SETTINGS);
    }
    return false;
}

bool ConsoleMainView::transferring() const {
    return started_ && total_bytes() > 0 && shown_done_ < total_bytes();
}

void ConsoleMainView::status(const char* label, const char* text, bool live) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string value = text != nullptr ? text : "";
    while (!value.empty() && (value.back() == ' ' || value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    if (live && transferring()) {
        if (!value.empty())
            live_text_ = value;
        draw_progress(false);
        std::fflush(out_);
        return;
    }
    // Each label keeps its last text: only changes are written, and blanks never.
    std::string& last = last_status_[label];
    if (value.empty() || last == value)
        return;
    last = value;
    if (terminal_ && progress_shown_ && !transferring()) {
        // The finished transfer keeps its last progress line.
        std::fputc('\n', out_);
        progress_shown_ = false;
    }
    clear_progress();
    std::fprintf(out_, "%-10s %s\n", label, value.c_str());
    if (terminal_ && transferring())
        draw_progress(true);
    std::fflush(out_);
}

void ConsoleMainView::bank_label(const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    bank_text_ = text != nullptr ? text : "";
}

void ConsoleMainView::page_range(const char* first, const char* last) {
    std::string text =
        std::string(first != nullptr ? first : "") + ", " + (last != nullptr ? last : "");
    status("Pages", text.c_str(), false);
}

void ConsoleMainView::procedure_ended(int result) {
    finish();
    if (on_ended)
        on_ended(result);
}

void ConsoleMainView::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (progress_shown_ && terminal_) {
        std::fputc('\n', out_);
    }
    progress_shown_ = false;
    std::fflush(out_);
}

void ConsoleMainView::Bar::set_range(int, int h) {
    {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        if (this == &owner_.pages_) {
            // A new transfer: its own bar, its own rate.
            owner_.started_ = false;
            owner_.complete_written_ = false;
            owner_.shown_done_ = 0;
            owner_.live_text_.clear();
        }
        high = h;
        pos = 0;
    }
    owner_.progress_changed();
}

void ConsoleMainView::Bar::set_step(int s) {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    step_size = s;
}

void ConsoleMainView::Bar::step() {
    {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        pos += step_size;
        if (high > 0 && pos > high)
            pos = high;
    }
    owner_.progress_changed();
}

void ConsoleMainView::Bar::set_position(int p) {
    {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        pos = p;
    }
    owner_.progress_changed();
}

// The pages bar counts whole pages; the bank bar the part of the bank on its way.
uint64_t ConsoleMainView::done_bytes() const {
    uint64_t done = static_cast<uint64_t>(pages_.pos > 0 ? pages_.pos : 0) * PAGE_SIZE;
    if (bank_.high > 0 && bank_.pos > 0) {
        done += BANK_BYTES * static_cast<uint64_t>(bank_.pos) / static_cast<uint64_t>(bank_.high);
    }
    const uint64_t total = total_bytes();
    return done > total ? total : done;
}

uint64_t ConsoleMainView::total_bytes() const {
    return static_cast<uint64_t>(pages_.high > 0 ? pages_.high : 0) * PAGE_SIZE;
}

void ConsoleMainView::progress_changed() {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t done = done_bytes();
    if (!started_ && done > 0) {
        started_ = true;
        start_ms_ = clock_.now_ms();
    }
    if (done > shown_done_)
        shown_done_ = done;
    draw_progress(false);
    std::fflush(out_);
}

void ConsoleMainView::clear_progress() {
    if (terminal_ && progress_shown_) {
        std::fputs("\r\033[K", out_);
        progress_shown_ = false;
    }
}

void ConsoleMainView::draw_progress(bool force) {
    if (total_bytes() == 0 || !started_)
        return;
    const uint64_t now = clock_.now_ms();
    ProgressFigures figures;
    figures.done_bytes = shown_done_;
    figures.total_bytes = total_bytes();
    figures.elapsed_ms = now - start_ms_;
    std::string status = bank_text_;
    if (!live_text_.empty() && figures.done_bytes < figures.total_bytes)
        status += (status.empty() ? "" : ": ") + live_text_;
    // Only a line redrawn in place must fit; a file keeps it whole.
    const int columns = terminal_ && terminal_columns ? terminal_columns() : 0;
    const std::string line = fitted_progress_line(figures, status, columns);
    const bool complete = figures.done_bytes == figures.total_bytes;
    if (terminal_) {
        // A finished transfer's line stays as it was left.
        if (complete && complete_written_ && !progress_shown_)
            return;
        std::fputs("\r\033[K", out_);
        std::fputs(line.c_str(), out_);
        progress_shown_ = true;
        complete_written_ = complete;
        return;
    }
    // Plain output: a line now and then, and one when the transfer is complete.
    if (complete ? !complete_written_ : (force || now - last_plain_ms_ >= PLAIN_INTERVAL_MS)) {
        std::fprintf(out_, "%s\n", line.c_str());
        last_plain_ms_ = now;
        complete_written_ = complete;
    }
}

}  // namespace vx
