// What a run tells the world: the trace log, the KO/OK result files and message boxes. It
// knows the run mode, so a box never waits for a user who is not there, and it is safe to
// call from the page thread and the worker at once.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "report/run_mode.h"

#if defined(__GNUC__)
#define VX_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VX_PRINTF(fmt_index, first_arg)
#endif

namespace vx {

class Reporter {
public:
    explicit Reporter(Platform& platform) : platform_(platform) {}
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    // Set while the run is configured, before a second thread exists.
    void set_mode(int mode) { mode_ = mode; }
    int mode() const { return mode_; }
    bool interactive() const { return mode_ == INTERACTIVE_MODE; }
    void set_trace(bool on);
    bool tracing() const { return trace_on_.load(std::memory_order_relaxed); }
    bool has_trace_file() const { return trace_file_ != nullptr; }

    void trace_line(const char* format, ...) VX_PRINTF(2, 3);
    void ko_report(const char* format, ...) VX_PRINTF(2, 3);
    void ok_report(const char* format, ...) VX_PRINTF(2, 3);
    // A box in interactive mode; otherwise the box's default answer at once.
    int user_message(WindowHandle owner, const char* caption, const char* text, uint32_t type);
    // The system's text of the last error: a box in interactive mode, a trace line otherwise.
    int flash_last_error_msg(const char* name);
    // The same for an error code a failed call returned.
    int error_msg(const char* name, uint32_t error);
    // The same with the system's text already in hand (captured where the call failed).
    int system_error_msg(const char* name, const std::string& text);

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    void vtrace(const char* format, va_list args);
    // Appends a line to a result file; a refused file is reported on the console and traced.
    void report_result(const char* file_name, const std::string& message);

    Platform& platform_;
    int mode_ = INTERACTIVE_MODE;
    std::atomic<bool> trace_on_{false};
    std::mutex mutex_;
    std::unique_ptr<std::FILE, FileCloser> trace_file_;
};

// Bytes from the printer made safe for a log line: control bytes (C0, DEL, C1) and the
// backslash become "\xNN", so what a printer sends can neither end a line of ours nor start
// one that looks like ours.
std::string escape_control_bytes(std::string_view bytes);

// The error box of flash_last_error_msg, shown in every run mode and never traced; for
// callers without a reporter at hand. Returns 1.
int system_error_box(Platform& platform, const char* name);

}  // namespace vx
