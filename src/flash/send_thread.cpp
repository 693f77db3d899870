// The flash procedure: open the port, identify the printer, choose the transfers from the
// send mode and the model, run them, and end with a result.
#include "flash/send_thread.h"

#include <cstring>
#include <exception>
#include <string>

#include "app/flash_run.h"
#include "app/message_ids.h"
#include "app/port_reports.h"
#include "flash/transfer_texts.h"
#include "protocol/run_timing.h"
#include "session/transfer_plan.h"

namespace vx {

namespace {

constexpr int PAGES_BAR_STEP = 4;
// Tag that blanks the image's own tag text in the first step of the three-step sequence.
constexpr const char NULL_TAG[6] = "     ";

constexpr const char* KO_OPEN = "[Error 3] Error opening printer port.\n";
constexpr const char* KO_FORMAT = "[Error 7] Invalid firmware file format.\n";
constexpr const char* KO_DOWNLOAD = "[Error 8] Download firmware Error.\n";
constexpr const char* KO_INIT = "[Error 10] Init Download Error.\n";

// What the transfers of one selection are, by the three section bits (firmware, FPGA,
// tables and fonts).
enum class Sequence { none, one_transfer, cg_only, fw_and_cg };

struct SequenceRow {
    const char* trace;  // after "[FLASH][send_thread] "; null when the sequence traces itself
    Sequence sequence;
    uint16_t text;  // transfer line
};

// Indexed by fw * 4 + fpga * 2 + cg.
constexpr SequenceRow kSequences[8] = {
    {nullptr, Sequence::none, 0},
    {"SEND_CG \n", Sequence::cg_only, msg::SENDING_CG},
    {"SEND_FPGA \n", Sequence::one_transfer, msg::SENDING_FIRMWARE},
    {"SEND_FPGA + SEND_CG\n", Sequence::one_transfer, msg::SENDING_FIRMWARE},
    {"SEND_FW \n", Sequence::one_transfer, msg::SENDING_FIRMWARE},
    {nullptr, Sequence::fw_and_cg, msg::SENDING_FIRMWARE},
    {"SEND_FW + SEND_FPGA\n", Sequence::one_transfer, msg::SENDING_FIRMWARE},
    {"SEND_FW + SEND_FPGA + SEND_CG \n", Sequence::one_transfer, msg::SENDING_FIRMWARE},
};

// Where an ending writes its text on the main page.
enum class Line { none, connection, transfer };

class Procedure {
public:
    explicit Procedure(const send_thread_args& args)
        : f_(*args.flash), view_(args.view != nullptr ? *args.view : null_view_) {}

    int run();
    // Something the procedure did not expect (out of memory, a library's exception): the
    // failure ending all the same, so the port is closed and the page ends the run.
    int unexpected(const char* what) {
        f_.report.trace_line("[FLASH][send_thread] Unexpected failure: %s\n", what);
        return download_failed();
    }

private:
    // Every ending: the KO line, the port closed, the cursor back, a text on the page, and
    // (outside interactive mode) the page told the result.
    int end_run(int result, const char* ko_line, Line line, uint16_t text_id) {
        if (ko_line != nullptr) {
            f_.report.ko_report("%s", ko_line);
        }
        if (port_ != nullptr) {
            port_->close();
        }
        f_.set_wait_cursor(0);
        const char* text = f_.catalogue.get_message(text_id);
        if (line == Line::connection) {
            view_.connection_line(text);
        } else if (line == Line::transfer) {
            view_.transfer_line(text);
        }
        if (f_.report.mode() != INTERACTIVE_MODE) {
            view_.procedure_ended(result);
        }
        return result;
    }
    int succeeded() { return end_run(1, nullptr, Line::none, 0); }
    int refused() { return end_run(0, nullptr, Line::connection, msg::NOT_FOR_MODEL); }
    int image_check_failed(const char* ko_line) {
        end_run(0, ko_line, Line::transfer, msg::IMAGE_INVALID);
        if (f_.report.mode() == INTERACTIVE_MODE) {
            f_.user_message(view_, f_.catalogue.get_message(msg::ERROR_CAPTION),
                            f_.catalogue.get_message(msg::IMAGE_INVALID), BOX_ICONEXCLAMATION);
        }
        return 0;
    }
    int download_failed() { return end_run(0, KO_DOWNLOAD, Line::transfer, msg::ERROR_CAPTION); }
    int stopped() {
        if (const int signal = f_.end_signal.load())
            f_.report.trace_line(
                "[FLASH][send_thread] Stopped: signal %d asks the process to end\n", signal);
        else
            f_.report.trace_line("[FLASH][send_thread] Stopped by the user\n");
        return download_failed();
    }
    bool stop_asked() const { return f_.stop_requested.load(); }

    // ---- pieces of a transfer ----
    void pages_bar_setup() {
        // The bar's range is 16 bits wide: a larger page count wraps, as the control would.
        const uint16_t pages =
            static_cast<uint16_t>(f_.session.end_page - f_.session.begin_page + 1);
        view_.pages_bar().set_range(0, pages);
        view_.pages_bar().set_step(PAGES_BAR_STEP);
    }
    // Status text, pages bar, header and block transfer; 1 when all went through.
    int send_range(const char* text, bool header_error_10, const char* tag) {
        if (stop_asked()) {
            return stopped();
        }
        view_.transfer_line(text);
        pages_bar_setup();
        if (send_header(protocol_, transfer_report_, *port_) != HeaderOutcome::sent) {
            return end_run(0, header_error_10 ? KO_INIT : nullptr, Line::transfer,
                           msg::ERROR_CAPTION);
        }
        if (!download_image(protocol_, transfer_report_, *port_, tag).ok()) {
            return stop_asked() ? stopped() : download_failed();
        }
        return 1;
    }
    int download_cmd() {
        if (send_download_cmd(protocol_, transfer_report_, *port_) ==
            EntryOutcome::in_download_mode) {
            return 1;
        }
        return download_failed();
    }
    // The range of the selection for this model, or the refused ending when it has none:
    // a stale range would write image pages over the wrong part of the flash.
    bool choose_range(uint16_t flags) {
        return set_transfer_range(f_.session, f_.report, flags) != 0;
    }

    // One firmware-image transfer with set_BeginEndPage before send_download_cmd.
    int one_transfer(uint16_t flags, uint16_t text_id) {
        if (!check_firmware_file(f_.session, f_.report, f_.platform.files, f_.config.fw_filename,
                                 f_.config.send_mode)) {
            return image_check_failed(KO_FORMAT);
        }
        if (!choose_range(flags)) {
            return refused();
        }
        if (!download_cmd()) {
            return 0;
        }
        return send_range(f_.catalogue.get_message(text_id), false, nullptr) ? succeeded() : 0;
    }
    int boot_transfer();
    int fw_and_cg();
    int three_steps();
    int reopen();
    int free_pages_run();

    void read_check_boxes(int model);

    FlashRun& f_;
    // The port of this run, opened and closed by the procedure.
    std::unique_ptr<PortBackend> port_;
    NullMainView null_view_;
    MainPageView& view_;
    PageTransferReport transfer_report_{f_.catalogue, f_.report, f_.platform.clock, view_};
    ProtocolRun protocol_ = f_.protocol();
    uint16_t step_flags_ = 0;
};

int Procedure::boot_transfer() {
    f_.report.trace_line("[FLASH][send_thread] SEND_BOOT \n");
    if (!check_boot_file(f_.session, f_.report, f_.platform.files, f_.config.fw_filename)) {
        return image_check_failed(nullptr);
    }
    if (!download_cmd()) {
        return 0;
    }
    if (!choose_range(SEND_BOOT)) {
        return refused();
    }
    std::string text = f_.catalogue.get_message(msg::SENDING_BOOT);
    if (f_.session.boot_text_a[0] != 0) {
        text += " ";
        text += f_.session.boot_text_a;
        text += "_";
        text += f_.session.boot_text_b;
    }
    if (text.size() >= PATH_CHARS) {
        text.resize(PATH_CHARS - 1);  // the status line holds 260 bytes
    }
    return send_range(text.c_str(), true, nullptr) ? succeeded() : 0;
}

int Procedure::fw_and_cg() {
    f_.report.trace_line("[FLASH][send_thread] SEND_FW + SEND_CG \n");
    if (!check_firmware_file(f_.session, f_.report, f_.platform.files, f_.config.fw_filename,
                             f_.config.send_mode)) {
        return image_check_failed(KO_FORMAT);
    }
    if (!download_cmd()) {
        return 0;
    }
    if (f_.session.printer_model == VX3E_MODEL && (step_flags_ & KEEP_SETTINGS)) {
        return three_steps();
    }
    f_.report.trace_line("[FLASH][send_thread] SEND_FW + SEND_CG FULL MODE \n");
    if (!choose_range(step_flags_)) {
        return refused();
    }
    return send_range(f_.catalogue.get_message(msg::SENDING_FIRMWARE), false, nullptr) ? succeeded()
                                                                                       : 0;
}

// Every block transfer closes the port when it ends; the next step opens it again and looks
// for a printer that announces itself.
int Procedure::reopen() {
    if (stop_asked()) {
        return stopped();
    }
    if (!open_port(f_.port_opening(), *port_, true)) {
        f_.report.trace_line("[FLASH][send_thread] open_port Error !\n");
        return end_run(0, nullptr, Line::none, 0);
    }
    purge_port(f_.port_troubles, *port_);
    uint8_t receive[REPLY_BUFFER_SIZE] = {};
    if (read_port_block(f_.port_troubles, *port_, receive, 1, wait_ms::RESYNC_PROBE) != 0) {
        f_.session.in_download_mode = true;
    }
    return 1;
}

int Procedure::three_steps() {
    struct Step {
        const char* trace;
        uint16_t flags;
        uint16_t text;
        bool error_10;
        const char* tag;
    };
    static constexpr Step kSteps[] = {
        {"[FLASH][send_thread] Step 1 : SEND_FW with tag null\n", THREE_STEP_FLAGS[0],
         msg::SENDING_FIRMWARE, true, NULL_TAG},
        {"[FLASH][send_thread] Step 2 : SEND_CG \n", THREE_STEP_FLAGS[1], msg::SENDING_CG, false,
         nullptr},
        {"[FLASH][send_thread] Step 3 : SEND_FW 1st page\n", THREE_STEP_FLAGS[2],
         msg::SENDING_FIRMWARE, false, nullptr},
    };
    bool first = true;
    for (const Step& step : kSteps) {
        if (!first) {
            f_.session.in_download_mode = false;
            f_.platform.clock.sleep_ms(wait_ms::STEP_PAUSE);
        }
        f_.report.trace_line("%s", step.trace);
        // The first step follows the download command already sent; the others reconnect.
        if (!first && (!reopen() || !download_cmd())) {
            return 0;
        }
        first = false;
        if (!choose_range(step.flags)) {
            return refused();
        }
        if (!send_range(f_.catalogue.get_message(step.text), step.error_10, step.tag)) {
            return 0;
        }
    }
    return succeeded();
}

// The page range comes from flash.ini as it stands: no page selection, no download command.
int Procedure::free_pages_run() {
    f_.report.trace_line("[FLASH][send_thread] SEND_FREE \n");
    if (!check_firmware_file(f_.session, f_.report, f_.platform.files, f_.config.fw_filename,
                             f_.config.send_mode)) {
        return image_check_failed(KO_FORMAT);
    }
    if (send_header(protocol_, transfer_report_, *port_) != HeaderOutcome::sent) {
        return end_run(0, KO_INIT, Line::transfer, msg::ERROR_CAPTION);
    }
    if (!download_image(protocol_, transfer_report_, *port_, nullptr).ok()) {
        if (stop_asked()) {
            return stopped();
        }
        return end_run(0, KO_DOWNLOAD, Line::none, 0);
    }
    return end_run(1, nullptr, Line::transfer, msg::ERROR_CAPTION);
}

void Procedure::read_check_boxes(int model) {
    if (model != VX3E_MODEL) {
        view_.disable(ImageBox::keep_settings);
    }
    if (view_.is_checked(ImageBox::boot)) {
        step_flags_ = SEND_BOOT;
        return;
    }
    step_flags_ = 0;
    if (view_.is_checked(ImageBox::firmware))
        step_flags_ |= SEND_FW;
    if (view_.is_checked(ImageBox::cg))
        step_flags_ |= SEND_CG;
    if (view_.is_checked(ImageBox::keep_settings))
        step_flags_ |= KEEP_SETTINGS;
    if (view_.is_checked(ImageBox::fpga))
        step_flags_ |= SEND_FPGA;
}

int Procedure::run() {
    f_.report.trace_line("[FLASH][send_thread] Send Thread Start !\n");
    port_ = make_configured_port(f_.platform, f_.config);
    f_.set_wait_cursor(1);

    f_.report.trace_line("[FLASH][send_thread] open_port \n");
    if (!open_port(f_.port_opening(), *port_, true)) {
        f_.report.ko_report("%s", KO_OPEN);
        f_.report.trace_line("[FLASH][send_thread] open_port Error !\n");
        return end_run(0, nullptr, Line::connection, msg::NO_ANSWER);
    }
    f_.report.trace_line("[FLASH][send_thread] open_port OK \n");

    if (f_.report.mode() != INTERACTIVE_MODE && f_.config.conditional_table) {
        // Its KO line says why not; the process ends right after.
        const UpdateDecision decision = decide_update(protocol_, *port_);
        report_update_decision(f_.report, decision);
        if (!decision.needed()) {
            return end_run(0, nullptr, Line::none, 0);
        }
    }
    if (stop_asked()) {
        return stopped();
    }

    const Detection detection = detect_printer_model(protocol_, *port_);
    report_detection(f_.report, detection);
    if (!detection.ok()) {
        f_.report.trace_line("[FLASH][send_thread]CheckPrinterModel Error !\n");
        return end_run(0, nullptr, Line::connection, msg::MODEL_UNKNOWN);
    }

    step_flags_ = f_.config.send_mode;
    const int model = f_.session.printer_model;
    if (const char* refusal = refused_selection(model, step_flags_, false)) {
        f_.report.trace_line("%s", refusal);
        return refused();
    }
    if (step_flags_ & SEND_FREE) {
        return free_pages_run();
    }
    if (f_.report.mode() == INTERACTIVE_MODE && view_.visible()) {
        read_check_boxes(model);
    }
    step_flags_ = with_implied_sections(model, step_flags_);
    if (const char* refusal = refused_selection(model, step_flags_, true)) {
        f_.report.trace_line("%s", refusal);
        return refused();
    }

    if (step_flags_ & SEND_BOOT) {
        return boot_transfer();
    }
    const int index = ((step_flags_ & SEND_FW) ? 4 : 0) + ((step_flags_ & SEND_FPGA) ? 2 : 0) +
                      ((step_flags_ & SEND_CG) ? 1 : 0);
    const SequenceRow& row = kSequences[index];
    if (row.trace != nullptr) {
        f_.report.trace_line("[FLASH][send_thread] %s", row.trace);
    }
    switch (row.sequence) {
        case Sequence::one_transfer:
            return one_transfer(step_flags_, row.text);
        case Sequence::cg_only:
            return one_transfer(SEND_CG, row.text);
        case Sequence::fw_and_cg:
            return fw_and_cg();
        case Sequence::none:
            break;
    }
    return succeeded();  // nothing selected: nothing to send
}

}  // namespace

int send_thread(const send_thread_args& args) {
    if (args.flash == nullptr) {
        return 0;
    }
    args.flash->stop_requested = args.flash->end_signal.load() != 0;
    args.flash->session.checked_image = {};  // every transfer of this run follows its own check
    Procedure procedure(args);
    try {
        return procedure.run();
    } catch (const std::exception& e) {
        return procedure.unexpected(e.what());
    } catch (...) {
        return procedure.unexpected("unknown exception");
    }
}

}  // namespace vx
