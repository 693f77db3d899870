#include "frontend/console/terminal_width.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

namespace vx {
namespace {

std::atomic<bool> resized{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void on_sigwinch(int) {
    resized = true;
}

}  // namespace

TerminalWidth::TerminalWidth(int fd) : fd_(fd) {
    if (isatty(fd) != 1)
        return;
    struct sigaction sa {};
    sa.sa_handler = on_sigwinch;
    sigemptyset(&sa.sa_mask);
    // A resize must not break a read the user is answering, nor a wait for the printer.
    sa.sa_flags = SA_RESTART;
    resized = false;
    watching_ = sigaction(SIGWINCH, &sa, &old_) == 0;
    columns_ = read_columns();
}

TerminalWidth::~TerminalWidth() {
    if (watching_)
        sigaction(SIGWINCH, &old_, nullptr);
}

int TerminalWidth::columns() {
    if (watching_ && resized.exchange(false))
        columns_ = read_columns();
    return columns_;
}

int TerminalWidth::read_columns() const {
    struct winsize size {};
    if (ioctl(fd_, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return 80;
    return size.ws_col;
}

}  // namespace vx
