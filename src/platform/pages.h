// What the property sheet's page classes need from their windows and from the machine. The
// Win32 layer implements these over the sheet's dialogs; tests use fakes. Every call is made
// on the window's own thread, except the view, which the flash procedure uses from its thread.
#pragma once
#include <cstdint>
#include <string>

#include "platform/main_view.h"

namespace vx {

struct send_thread_args;
using ProcedureEntry = int (*)(const send_thread_args&);

// The main page's window, its sheet, and the few process-wide calls the page makes.
class MainPageWindow {
public:
    virtual ~MainPageWindow() = default;

    // The controls the flash procedure writes; the page puts this view into its start record.
    virtual MainPageView& view() = 0;

    // The sheet's Cancel button becomes Close (posted: the sheet is still being built).
    virtual void cancel_to_close() = 0;
    virtual void set_sheet_title(const char* title) = 0;
    // The two-button toolbar (open, start) with these texts.
    virtual void create_toolbar(const char* open_text, const char* start_text) = 0;

    virtual void set_check(ImageBox box, bool checked) = 0;
    virtual void enable(ImageBox box, bool enabled) = 0;
    // Caption of the printer group box.
    virtual void printer_caption(const char* text) = 0;

    // The current directory, where the file chooser starts; false (system error set) when it
    // cannot be read.
    virtual bool current_directory(std::string& dir) = 0;
    // The open-file dialog for image files, starting in `dir`; false when the user cancels.
    virtual bool choose_file(const std::string& dir, std::string& path) = 0;

    // The toolbar's open button: off while a procedure runs, which reads the file name it
    // sets; the window then asks MainPage::refresh_open now and then. Without a toolbar
    // there is nothing to do.
    virtual void enable_open(bool enabled) { (void)enabled; }
    // Closes the sheet as its Cancel button would.
    virtual void close_sheet() {}

    virtual void beep() = 0;
    // Ends the process at once with this exit code. Never returns on a real system; a fake
    // records the code and returns.
    virtual void exit_process(int code) = 0;
};

// Runs the flash procedure on a thread of its own, one at a time.
class ProcedureThread {
public:
    enum class State {
        none,     // no procedure was started yet
        running,  // the last procedure has not ended
        ended,    // the last procedure has ended
        unknown,  // its state could not be read (system error set)
    };
    virtual ~ProcedureThread() = default;
    // Starts entry(args) on a new thread; the record is copied first. False (system error set)
    // when no thread could be made.
    virtual bool start(ProcedureEntry entry, const send_thread_args& args) = 0;
    virtual State state() = 0;
    // Waits up to `ms` for the procedure to end, while the waiting window thread goes on
    // handling what the procedure sends it. True once it has ended.
    virtual bool wait(uint32_t ms) = 0;
};

// The about page's window.
class AboutWindow {
public:
    virtual ~AboutWindow() = default;
    virtual void set_version_text(const char* text) = 0;
};

}  // namespace vx
