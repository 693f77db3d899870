// One run of the program: the configuration, the reporter and the download session it owns
// for the process, and the state the procedure and its pages share.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/port_reports.h"
#include "app/port_troubles.h"
#include "image/constants.h"
#include "platform/main_view.h"
#include "platform/platform.h"
#include "port/port_backend.h"
#include "protocol/printer_protocol.h"
#include "report/reporter.h"
#include "session/download_session.h"
#include "session/run_config.h"

namespace vx {

class MessageCatalogue;
class FlashRun;

// Start record of the flash procedure thread; without a view (silent mode) nothing is shown.
struct send_thread_args {
    MainPageView* view = nullptr;
    FlashRun* flash = nullptr;
};

class FlashRun {
public:
    FlashRun(Platform& platform, MessageCatalogue& catalogue);
    ~FlashRun();
    FlashRun(const FlashRun&) = delete;
    FlashRun& operator=(const FlashRun&) = delete;

    Platform& platform;
    MessageCatalogue& catalogue;
    Reporter report;
    PortTroubleReport port_troubles{report};
    RunConfig config;
    DownloadSession session;

    // ---- configuration (app/config.cpp) ----
    void read_config();
    int read_port_settings();
    void set_port_settings(const char* name, int baud, uint8_t bits, int parity_code, uint8_t stop,
                           int extra);
    void write_port_settings();
    void write_port_name(const char* name);

    int user_message(const MainPageView& view, const char* caption, const char* text,
                     uint32_t type) {
        return report.user_message(view.box_owner(), caption, text, type);
    }
    // Set by start-up when it stopped the print spooler for this run (see restart_spooler).
    std::atomic<bool> spooler_stopped{false};

    // What opening the port reports through.
    PortOpening port_opening() { return PortOpening{report, platform, catalogue}; }

    // What the printer protocol's steps work on, for this run.
    ProtocolRun protocol() {
        return ProtocolRun{platform, report,    port_troubles, config,
                           session,  sent_bank, stop_requested};
    }

    // The bank on its way to the printer, kept whole for a resend (TX_BUFFER_SIZE bytes).
    std::vector<uint8_t> sent_bank;

    // ---- flash procedure (flash/) ----
    // The wait cursor while a procedure runs, and the cursor it replaced.
    struct WaitCursor {
        uint32_t busy = 0;
        CursorHandle wait = nullptr;
        CursorHandle saved = nullptr;
    };
    WaitCursor cursor;
    uint32_t set_wait_cursor(uint32_t on);
    // Set by the main page to stop a running procedure; the transfer looks at it between
    // bytes and banks, the procedure between its steps.
    std::atomic<bool> stop_requested{false};
    // A signal that asked the whole process to end (0: none): every procedure, also one that
    // starts later, stops and takes its failure ending.
    std::atomic<int> end_signal{0};
};

}  // namespace vx
