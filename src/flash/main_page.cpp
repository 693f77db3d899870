#include "flash/main_page.h"

#include <algorithm>
#include <string>

#include "app/about.h"
#include "app/flash_run.h"
#include "app/message_ids.h"
#include "app/spooler.h"
#include "flash/send_thread.h"
#include "protocol/bank_transfer.h"

namespace vx {
namespace {

constexpr int BANK_BAR_STEPS = 32;     // 2 KiB steps through a 64 KiB bank
constexpr int USB_BANK_BAR_STEPS = 4;  // one step per 16 KiB USB block
constexpr int PAGES_BAR_STEP = 4;      // one bank of four pages
constexpr size_t TITLE_CHARS = 259;    // the title is built in 260 bytes
constexpr size_t CAPTION_CHARS = 127;  // the printer caption in 128 bytes
constexpr uint32_t FAILURE_PAUSE_MS = 2000;

const ImageBox OTHER_BOXES[] = {ImageBox::firmware, ImageBox::cg, ImageBox::keep_settings,
                                ImageBox::fpga};

}  // namespace

MainPage::MainPage(FlashRun& flash, MainPageWindow& window, ProcedureThread& thread,
                   SystemInfo& system)
    : flash_(flash), window_(window), thread_(thread), system_(system) {}

bool MainPage::interactive() const {
    return flash_.report.mode() == INTERACTIVE_MODE;
}

void MainPage::on_init() {
    if (interactive())
        window_.cancel_to_close();
    show_title();

    char product[PATH_CHARS] = {};
    if (get_product_version(system_, product, sizeof product)) {
        char special[10] = {};
        get_special_build(system_, special, sizeof special);
        flash_.report.trace_line(
            "[FLASH][main_page] #### Flash ProductVersion %s # SpecialBuild %s #####\n", product,
            special);
    }
    trace_os_version(flash_, system_);

    if (interactive())
        window_.create_toolbar(flash_.catalogue.get_message(msg::OPEN_BUTTON),
                               flash_.catalogue.get_message(msg::START_BUTTON));
    window_.view().model_label(model_label(flash_.session.printer_model));

    const uint16_t mode = flash_.config.send_mode;
    for (ImageBox box : OTHER_BOXES)
        window_.set_check(box, false);
    window_.set_check(ImageBox::boot, false);
    if (mode & SEND_BOOT) {
        window_.set_check(ImageBox::boot, true);
    } else {
        window_.set_check(ImageBox::firmware, (mode & SEND_FW) != 0);
        window_.set_check(ImageBox::cg, (mode & SEND_CG) != 0);
        window_.set_check(ImageBox::keep_settings, (mode & KEEP_SETTINGS) != 0);
        window_.set_check(ImageBox::fpga, (mode & SEND_FPGA) != 0);
    }
    if (interactive()) {
        if (mode & SEND_BOOT) {
            for (ImageBox box : OTHER_BOXES)
                window_.enable(box, false);
        }
    } else {
        for (ImageBox box : OTHER_BOXES)
            window_.enable(box, false);
        window_.enable(ImageBox::boot, false);
    }
}

// The sheet's title becomes the image's file name when the formatted text holds a path.
void MainPage::show_title() {
    std::string title = flash_.catalogue.message_str(msg::SHEET_CAPTION, flash_.config.fw_filename);
    if (title.size() > TITLE_CHARS)
        title.resize(TITLE_CHARS);
    const size_t slash = title.rfind('\\');
    if (slash != std::string::npos)
        window_.set_sheet_title(title.c_str() + slash + 1);
}

void MainPage::on_choose_file() {
    // The running procedure reads the file name; its button is off, and a command sent
    // around it changes nothing either.
    if (thread_.state() == ProcedureThread::State::running)
        return;
    std::string dir;
    if (!window_.current_directory(dir)) {
        system_error_box(flash_.platform, "GetCurrentDirectory");
        dir.clear();
    }
    std::string path;
    if (window_.choose_file(dir, path)) {
        const size_t n = std::min<size_t>(path.size(), PATH_CHARS - 1);
        path.copy(flash_.config.fw_filename, n);
        flash_.config.fw_filename[n] = '\0';
    }
    show_title();
}

void MainPage::on_start() {
    switch (thread_.state()) {
        case ProcedureThread::State::running:
            return;
        case ProcedureThread::State::unknown:
            // Starting a second procedure next to one that may still run is worse than not
            // starting: the user can press the button again.
            flash_.report.flash_last_error_msg("GetExitCodeThread");
            return;
        case ProcedureThread::State::none:
        case ProcedureThread::State::ended:
            start_procedure();
            return;
    }
}

void MainPage::on_boot_clicked() {
    const bool boot = window_.view().is_checked(ImageBox::boot);
    for (ImageBox box : OTHER_BOXES)
        window_.enable(box, !boot);
}

const char* MainPage::tooltip(int command) const {
    if (command == OPEN_COMMAND)
        return flash_.catalogue.get_message(msg::OPEN_TOOLTIP);
    if (command == START_COMMAND)
        return flash_.catalogue.get_message(msg::START_TOOLTIP);
    return nullptr;
}

void MainPage::on_activate() {
    std::string caption = std::string("Printer connected to ") + flash_.config.port_name;
    if (caption.size() > CAPTION_CHARS)
        caption.resize(CAPTION_CHARS);
    window_.printer_caption(caption.c_str());
    // Outside interactive mode the page runs exactly one procedure.
    if (!interactive() && thread_.state() == ProcedureThread::State::none)
        start_procedure();
}

void MainPage::start_procedure() {
    MainPageView& view = window_.view();
    view.bank_bar().set_range(
        0, flash_.config.port_type == USB_PORT ? USB_BANK_BAR_STEPS : BANK_BAR_STEPS);
    view.bank_bar().set_step(1);
    // The bar's range is 16 bits wide: a larger page count wraps, as the control would.
    view.pages_bar().set_range(
        0, static_cast<uint16_t>(flash_.session.end_page - flash_.session.begin_page + 1));
    view.pages_bar().set_step(PAGES_BAR_STEP);

    send_thread_args args;
    args.view = &view;
    args.flash = &flash_;
    flash_.stop_requested = flash_.end_signal.load() != 0;
    flash_.report.trace_line("[FLASH][main_page] Create Send_Thread\n");
    if (interactive())
        window_.enable_open(false);
    if (!thread_.start(send_thread, args)) {
        if (interactive())
            window_.enable_open(true);
        flash_.report.flash_last_error_msg("CreateThread");
        // Nobody else would end an unattended run that never started.
        if (!interactive())
            on_close(0);
    }
}

bool MainPage::may_leave() {
    flash_.report.trace_line("[FLASH][main_page] PSN_KILLACTIVE !\n");
    if (!interactive())
        return false;
    switch (thread_.state()) {
        case ProcedureThread::State::none:
        case ProcedureThread::State::ended:
            return true;
        case ProcedureThread::State::unknown:
            // A procedure that may still run keeps the page.
            flash_.report.flash_last_error_msg("GetExitCodeThread");
            return false;
        case ProcedureThread::State::running:
            break;
    }
    const int answer = flash_.report.user_message(
        window_.view().box_owner(), flash_.catalogue.get_message(msg::LEAVE_CAPTION),
        flash_.catalogue.get_message(msg::LEAVE_QUESTION), BOX_YESNO | BOX_ICONEXCLAMATION);
    if (answer != ANSWER_YES)
        return false;
    return stop_procedure();
}

// Asks the procedure to stop and waits for it to take its own failure ending (port closed,
// cursor restored). The thread is never ended from outside: that could leave a lock held
// (the trace's, the heap's) and the port in the middle of a write. A procedure still inside
// one of its bounded waits keeps the page; the stop stands, and the user may ask again.
bool MainPage::stop_procedure() {
    flash_.report.trace_line(
        "[FLASH][main_page] Stop requested, waiting for the flash procedure\n");
    flash_.stop_requested = true;

    Ui& ui = flash_.platform.ui;
    CursorHandle wait = flash_.cursor.wait != nullptr ? flash_.cursor.wait : ui.load_wait_cursor();
    CursorHandle before = wait != nullptr ? ui.set_cursor(wait) : nullptr;
    const bool ended = thread_.wait(STOP_WAIT_MS);
    if (before != nullptr)
        ui.set_cursor(before);
    if (ended) {
        flash_.report.trace_line("[FLASH][main_page] Flash procedure stopped\n");
        return true;
    }
    flash_.report.trace_line(
        "[FLASH][main_page] Flash procedure still in a wait after %u ms: the page stays\n",
        static_cast<unsigned>(STOP_WAIT_MS));
    return false;
}

bool MainPage::may_cancel() {
    if (!interactive())
        return false;
    return may_leave();
}

bool MainPage::set_busy_cursor() {
    if (flash_.cursor.busy == 0 || flash_.cursor.wait == nullptr)
        return false;
    flash_.platform.ui.set_cursor(flash_.cursor.wait);
    return true;
}

void MainPage::on_close_request() {
    flash_.report.trace_line("[FLASH][main_page] WM_CLOSE without a result: close request\n");
    if (may_cancel())
        window_.close_sheet();
}

void MainPage::refresh_open() {
    if (thread_.state() != ProcedureThread::State::running)
        window_.enable_open(true);
}

void MainPage::on_close(int result) {
    flash_.report.trace_line("[FLASH][main_page] WM_CLOSE !\n");
    // Only a spooler start-up stopped (a serial port outside interactive mode) is started.
    restart_spooler(flash_, "[FLASH][main_page] ");

    if (result == 1) {
        flash_.report.ok_report(" OK - update firmware completed successfully ");
        flash_.report.trace_line("[FLASH][main_page] ExitProcess(0) \n");
        window_.exit_process(0);
        return;
    }
    if (!interactive()) {
        window_.beep();
        flash_.platform.clock.sleep_ms(FAILURE_PAUSE_MS);
    } else {
        flash_.platform.ui.message_box(nullptr, "ERROR", "Flash procedure FAILED !!!!!", BOX_OK);
    }
    flash_.report.trace_line("[FLASH][main_page] Flash procedure FAILED - ExitProcess(1) \n");
    window_.exit_process(1);
}

}  // namespace vx
