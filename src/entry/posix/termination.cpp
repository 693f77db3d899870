// SIGTERM, SIGHUP and SIGINT end a run the way a failed download ends: the procedure is asked
// to stop and takes its own failure ending (port closed, a USB printer given back to its
// kernel driver, the KO line, the failure exit code). The console page installs its own
// SIGINT handler while it runs, to ask before stopping; it restores this one afterwards.
// Should the run not end by itself, an alarm ends the process with the failure code.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "app/flash_run.h"
#include "entry/posix/posix_entry.h"

namespace vx {
namespace {

// Every wait of a run is shorter than this, so the procedure's own ending comes first.
constexpr unsigned END_LIMIT_S = 10;

std::atomic<FlashRun*> watched{nullptr};
std::atomic<int> failure_code{1};

void on_alarm(int) {
    _exit(failure_code.load());
}

// Only lock-free atomics and async-signal-safe calls in here.
void on_end_signal(int signal) {
    FlashRun* flash = watched.load();
    if (flash == nullptr)
        _exit(failure_code.load());
    const bool first = flash->end_signal.exchange(signal) == 0;
    flash->stop_requested = true;
    if (first) {
        // Silent mode's failure is 0, the sheet modes' 1.
        failure_code = flash->report.mode() == SILENT_MODE ? 0 : 1;
        alarm(END_LIMIT_S);
    }
}

}  // namespace

void end_runs_on_signals(FlashRun& flash) {
    static_assert(std::atomic<FlashRun*>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free);
    watched = &flash;
    // Destruction of the context at exit must not race a late signal.
    std::atexit([] { watched = nullptr; });

    struct sigaction alarm_action {};
    alarm_action.sa_handler = on_alarm;
    sigemptyset(&alarm_action.sa_mask);
    sigaction(SIGALRM, &alarm_action, nullptr);

    struct sigaction action {};
    action.sa_handler = on_end_signal;
    sigemptyset(&action.sa_mask);
    // Interrupted calls return: a prompt waiting for input gives up instead of waiting on.
    action.sa_flags = 0;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal, &action, nullptr);
}

}  // namespace vx
