#include "report/reporter.h"

#include <cstdio>
#include <string>

namespace vx {
namespace {

// A message of any length: the text is grown to fit rather than cut at 511 characters, so
// a long path in a trace or result line is never lost.
std::string vformat(const char* format, va_list args) {
    if (format == nullptr)
        return {};
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string time_stamp(Platform& platform) {
    LocalTime t = platform.clock.local_time();
    char stamp[20];
    std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d]", t.hour % 100, t.minute % 100,
                  t.second % 100);
    return stamp;
}

// One line appended to a result file, opened and closed here so the file is complete
// whenever the process ends. Text mode: "\n" is written as CR LF on Windows. False when the
// file was refused (a link, or not a plain file of ours): it is left as it was.
bool append_line(FileSystem& files, const char* file_name, const std::string& stamp,
                 const std::string& message) {
    WriteOpen f = files.open_for_writing(file_name, true);
    if (!f.file)
        return !f.refused;  // otherwise the line is lost; there is nowhere else to report it
    std::fputs(stamp.c_str(), f.file.get());
    std::fwrite(message.data(), 1, message.size(), f.file.get());
    std::fflush(f.file.get());
    return true;
}

constexpr const char* TRACE_FILE = "FlashTrace.dbg";

std::string refusal_text(const char* file_name) {
    return std::string(file_name) +
           " is a link or not a plain file: left as it is and not written to";
}

std::string error_caption(const char* name) {
    return name ? std::string("Error : ") + name : std::string("Error");
}

}  // namespace

void Reporter::set_trace(bool on) {
    trace_on_.store(on, std::memory_order_relaxed);
}

void Reporter::vtrace(const char* format, va_list args) {
    // One lock for the check, the open and both writes: lines of the page thread and the
    // worker never mix inside a line.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!tracing())
        return;
    if (trace_file_ == nullptr) {
        // Not a plain file of ours (a link, a pipe, a device): the run goes on without a trace.
        WriteOpen f = platform_.files.open_for_writing(TRACE_FILE, false);
        if (!f.file) {
            set_trace(false);
            if (f.refused)
                platform_.ui.failure_line(refusal_text(TRACE_FILE).c_str());
            return;
        }
        trace_file_.reset(f.file.release());
    }
    std::string stamp = time_stamp(platform_);
    std::string message = vformat(format, args);
    std::fputs(stamp.c_str(), trace_file_.get());
    std::fwrite(message.data(), 1, message.size(), trace_file_.get());
    std::fflush(trace_file_.get());
}

void Reporter::trace_line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vtrace(format, args);
    va_end(args);
}

void Reporter::report_result(const char* file_name, const std::string& message) {
    bool written;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        written = append_line(platform_.files, file_name, time_stamp(platform_), message);
    }
    if (!written) {
        const std::string text = refusal_text(file_name);
        platform_.ui.failure_line(text.c_str());
        trace_line("[FLASH][report] %s\n", text.c_str());
    }
}

void Reporter::ko_report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = vformat(format, args);
    va_end(args);
    report_result("KO.txt", message);
    // Someone may be watching: tell them why the run failed. Silent callers read KO.txt.
    if (mode_ != SILENT_MODE)
        platform_.ui.failure_line(message.c_str());
}

void Reporter::ok_report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = vformat(format, args);
    va_end(args);
    report_result("OK.txt", message);
}

int Reporter::user_message(WindowHandle owner, const char* caption, const char* text,
                           uint32_t type) {
    if (mode_ != INTERACTIVE_MODE)
        return ANSWER_OK;
    return platform_.ui.message_box(owner, caption, text, type);
}

int Reporter::flash_last_error_msg(const char* name) {
    return error_msg(name, platform_.errors.last_error());
}

int Reporter::error_msg(const char* name, uint32_t error) {
    return system_error_msg(name, platform_.errors.error_text(error));
}

int Reporter::system_error_msg(const char* name, const std::string& text) {
    if (mode_ == INTERACTIVE_MODE) {
        platform_.ui.message_box(nullptr, error_caption(name).c_str(), text.c_str(),
                                 BOX_ICONINFORMATION);
    } else if (name != nullptr) {
        trace_line("[FLASH][flash_last_error_msg] Function %s Error %s!\n", name, text.c_str());
    } else {
        trace_line("[FLASH][flash_last_error_msg] Error %s!\n", text.c_str());
    }
    return 1;
}

int system_error_box(Platform& platform, const char* name) {
    std::string text = platform.errors.error_text(platform.errors.last_error());
    platform.ui.message_box(nullptr, error_caption(name).c_str(), text.c_str(),
                            BOX_ICONINFORMATION);
    return 1;
}

std::string escape_control_bytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || (b >= 0x7F && b < 0xA0) || b == '\\') {
            static constexpr char HEX[] = "0123456789abcdef";
            out += "\\x";
            out += HEX[b >> 4];
            out += HEX[b & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace vx
