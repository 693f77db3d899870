// The console front-end: message boxes become lines on stderr (a question is asked on the
// terminal when there is one); the pages have no console form yet.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

int wait_cursor_token;  // any non-null address will do: there is no pointer to change

class PosixUi final : public Ui {
public:
    int message_box(WindowHandle, const char* caption, const char* text, uint32_t type) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "vxflash: %s: %s\n", caption ? caption : "", text ? text : "");
        if ((type & 0xF) != BOX_YESNO)
            return ANSWER_OK;
        // A question needs a person: without a terminal the answer is OK, which a yes/no
        // caller takes as neither.
        if (!::isatty(STDIN_FILENO))
            return ANSWER_OK;
        for (;;) {
            std::fprintf(stderr, "[y/n] ");
            std::fflush(stderr);
            char line[64];
            if (std::fgets(line, sizeof line, stdin) == nullptr)
                return ANSWER_NO;
            if (line[0] == 'y' || line[0] == 'Y')
                return ANSWER_YES;
            if (line[0] == 'n' || line[0] == 'N')
                return ANSWER_NO;
        }
    }
    CursorHandle load_wait_cursor() override { return &wait_cursor_token; }
    CursorHandle set_cursor(CursorHandle cursor) override {
        CursorHandle previous = current_;
        current_ = cursor;
        return previous ? previous : &wait_cursor_token;
    }
    bool nudge_pointer() override { return true; }
    void failure_line(const char* line) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fputs(line, stderr);
        const size_t n = std::strlen(line);
        if (n == 0 || line[n - 1] != '\n')
            std::fputc('\n', stderr);
    }

private:
    std::mutex mutex_;
    CursorHandle current_ = nullptr;
};

}  // namespace

Ui& posix_ui() {
    static PosixUi ui;
    return ui;
}

}  // namespace vx
