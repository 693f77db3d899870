// The property sheet as start-up sees it. Each front-end (the Win32 sheet, the console page)
// implements it over the pages of app/ and flash/; tests record the requests.
#pragma once

namespace vx {

class FlashRun;

// Results of SheetRunner::run: the sheet (or one of its pages) could not be made, with the
// system's error set; it returned without showing a page (no display); it ran until it was
// closed.
constexpr int SHEET_FAILED = -1;
constexpr int SHEET_NOT_SHOWN = 0;
constexpr int SHEET_SHOWN = 1;

// What start-up asks of the property sheet. The texts come from the catalogue and stay valid
// for the life of the process.
struct SheetRequest {
    const char* caption = nullptr;      // sheet caption (text 31)
    const char* main_title = nullptr;   // main page (text 28), always shown
    bool setup_page = false;            // port setup page present (interactive, no toolkit launch)
    const char* setup_title = nullptr;  // text 35; null when the setup page is left out
    const char* about_title = nullptr;  // text 37; null outside interactive mode
    int flash_mode = 0;                 // 0 interactive: three pages; else the main page alone
    void* instance = nullptr;           // program instance (an OS handle), for the page templates
    FlashRun* flash = nullptr;          // what the pages work on
};

class SheetRunner {
public:
    virtual ~SheetRunner() = default;
    // Runs the sheet modally; returns when it closes (in unattended mode the main page may
    // end the process before that) with one of the SHEET_* results.
    virtual int run(const SheetRequest& request) = 0;
};

}  // namespace vx
