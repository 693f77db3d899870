// The width of the terminal the progress line is drawn on: read once, and again after the
// terminal was resized (SIGWINCH).
#pragma once
#include <signal.h>

namespace vx {

class TerminalWidth {
public:
    // Watches `fd` when it is a terminal; otherwise columns() is 0 (no limit).
    explicit TerminalWidth(int fd);
    // Gives the previous SIGWINCH handler back.
    ~TerminalWidth();
    TerminalWidth(const TerminalWidth&) = delete;
    TerminalWidth& operator=(const TerminalWidth&) = delete;

    // The current width; 80 when the terminal does not say.
    int columns();

private:
    int read_columns() const;

    int fd_;
    bool watching_ = false;
    int columns_ = 0;
    struct sigaction old_ {};
};

}  // namespace vx
