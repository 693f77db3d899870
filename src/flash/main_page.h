// The main progress page: what it does on each event of its window. It starts the flash
// procedure, keeps the user from leaving while one runs unless the user agrees to stop it,
// and, outside interactive mode, ends the process with the procedure's result.
#pragma once
#include <cstdint>

#include "platform/pages.h"
#include "platform/system_info.h"

namespace vx {

class FlashRun;

// The toolbar's commands.
constexpr int OPEN_COMMAND = 1;
constexpr int START_COMMAND = 2;

// How long the page waits for a procedure the user stopped. Every wait of the procedure is
// bounded and the stop is looked at between them; the longest single one is a USB write that
// runs into its limit and is then cancelled (about 7 s).
constexpr uint32_t STOP_WAIT_MS = 10000;

class MainPage {
public:
    MainPage(FlashRun& flash, MainPageWindow& window, ProcedureThread& thread, SystemInfo& system);

    void on_init();
    void on_choose_file();  // toolbar command 1
    void on_start();        // toolbar command 2
    void on_boot_clicked();
    // Text of a toolbar button's tooltip; null for other ids.
    const char* tooltip(int command) const;
    void on_activate();
    // The sheet asks whether the page may be left (another page, OK/Close) or the sheet
    // cancelled: false refuses.
    bool may_leave();
    bool may_cancel();
    // True when the wait cursor was set (a procedure runs); false: the window's own handling.
    bool set_busy_cursor();
    // The procedure's result outside interactive mode: ends the process.
    void on_close(int result);
    // A close message that is not the procedure's result (any program can post one): a
    // request to close the sheet, which the leave guard answers.
    void on_close_request();
    // Turns the open button back on once the procedure has ended.
    void refresh_open();

private:
    bool interactive() const;
    void show_title();
    void start_procedure();
    bool stop_procedure();

    FlashRun& flash_;
    MainPageWindow& window_;
    ProcedureThread& thread_;
    SystemInfo& system_;
};

}  // namespace vx
