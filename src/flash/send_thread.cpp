// The flash procedure: open the port, identify the printer, choose the transfers from the
// send mode and the model, run them, and end with a result.
#include <cstring>
#include <string>

#include "app/cls_flash.h"
#include "platform/main_view.h"

namespace vx {

namespace {

constexpr uint32_t STEP_PAUSE_MS = 1000;
constexpr uint32_t RESYNC_WAIT_MS = 500;
constexpr int PAGES_BAR_STEP = 4;
// Tag that blanks the image's own tag text in the first step of the three-step sequence.
constexpr const char NULL_TAG[6] = "     ";

class Procedure {
public:
    // The transfers still take window handles: they reach the page through the view's window
    // and leave the bars alone.
    explicit Procedure(const send_thread_args& args)
        : f_(*args.flash), view_(args.view), page_(args.view ? args.view->box_owner() : nullptr) {}

    int run();

private:
    // ---- endings ----
    void post(int result) {
        // Only the main page of a non-interactive run is told; silent mode has no page.
        if (f_.flash_mode != INTERACTIVE_MODE && page_ != nullptr) {
            f_.platform.ui.post_close(page_, result);
        }
    }
    int refused() {
        f_.close_port();
        f_.set_wait_cursor(0, page_);
        f_.page_text(page_, IDC_CONNECTION, f_.get_message(44));
        post(0);
        return 0;
    }
    int succeeded() {
        f_.set_wait_cursor(0, page_);
        f_.close_port();
        post(1);
        return 1;
    }
    int image_check_failed() {
        f_.set_wait_cursor(0, page_);
        f_.page_text(page_, IDC_TRANSFER, f_.get_message(45));
        f_.close_port();
        if (f_.flash_mode != INTERACTIVE_MODE) {
            post(0);
        } else {
            f_.user_message(page_, f_.get_message(2), f_.get_message(45), BOX_ICONEXCLAMATION);
        }
        return 0;
    }
    int fw_check_failed() {
        f_.ko_report("[Error 7] Invalid firmware file format.\n");
        return image_check_failed();
    }
    int download_cmd_failed() {
        f_.ko_report("[Error 8] Download firmware Error.\n");
        f_.set_wait_cursor(0, page_);
        f_.page_text(page_, IDC_TRANSFER, f_.get_message(2));
        f_.close_port();
        post(0);
        return 0;
    }
    int header_failed(bool report_error_10) {
        if (report_error_10) {
            f_.ko_report("[Error 10] Init Download Error.\n");
        }
        f_.set_wait_cursor(0, page_);
        f_.page_text(page_, IDC_TRANSFER, f_.get_message(2));
        f_.close_port();
        post(0);
        return 0;
    }
    int download_failed() {
        f_.ko_report("[Error 8] Download firmware Error.\n");
        f_.close_port();
        f_.set_wait_cursor(0, page_);
        f_.page_text(page_, IDC_TRANSFER, f_.get_message(2));
        post(0);
        return 0;
    }

    // ---- pieces of a transfer ----
    void pages_bar_setup() {
        // The bar's range is 16 bits wide: a larger page count wraps, as the control would.
        const uint16_t pages = static_cast<uint16_t>(f_.end_page - f_.begin_page + 1);
        if (view_ != nullptr) {
            view_->pages_bar().set_range(0, pages);
            view_->pages_bar().set_step(PAGES_BAR_STEP);
        }
    }
    // Status text, pages bar, header and block transfer; 1 when all went through.
    int send_range(const char* text, bool header_error_10, const char* tag) {
        f_.page_text(page_, IDC_TRANSFER, text);
        pages_bar_setup();
        if (!f_.send_header(page_)) {
            return header_failed(header_error_10);
        }
        if (!f_.download_image(page_, bank_bar_, pages_bar_, tag)) {
            return download_failed();
        }
        return 1;
    }
    // One firmware-image transfer with set_BeginEndPage before send_download_cmd.
    int one_transfer(uint16_t flags, uint16_t text_id) {
        if (!f_.CheckFwFile()) {
            return fw_check_failed();
        }
        f_.set_BeginEndPage(flags);
        if (!f_.send_download_cmd(page_)) {
            return download_cmd_failed();
        }
        return send_range(f_.get_message(text_id), false, nullptr) ? succeeded() : 0;
    }
    int boot_transfer();
    int fw_and_cg();
    int three_steps();
    int reopen();
    int free_pages_run();

    void read_check_boxes(int model);

    Cls_flash& f_;
    MainPageView* view_;
    WindowHandle page_;
    WindowHandle bank_bar_ = nullptr;
    WindowHandle pages_bar_ = nullptr;
    uint16_t step_flags_ = 0;
};

int Procedure::boot_transfer() {
    f_.trace_line("[FLASH][send_thread] SEND_BOOT \n");
    if (!f_.CheckBootFile()) {
        return image_check_failed();
    }
    if (!f_.send_download_cmd(page_)) {
        return download_cmd_failed();
    }
    f_.set_BeginEndPage(SEND_BOOT);
    std::string text = f_.get_message(46);
    if (f_.boot_text_a[0] != 0) {
        text += " ";
        text += f_.boot_text_a;
        text += "_";
        text += f_.boot_text_b;
    }
    if (text.size() >= PATH_CHARS) {
        text.resize(PATH_CHARS - 1);  // the status line holds 260 bytes
    }
    return send_range(text.c_str(), true, nullptr) ? succeeded() : 0;
}

int Procedure::fw_and_cg() {
    f_.trace_line("[FLASH][send_thread] SEND_FW + SEND_CG \n");
    if (!f_.CheckFwFile()) {
        return fw_check_failed();
    }
    if (!f_.send_download_cmd(page_)) {
        return download_cmd_failed();
    }
    if (f_.printer_model == VX3E_MODE && (step_flags_ & KEEP_SETTINGS)) {
        return three_steps();
    }
    f_.trace_line("[FLASH][send_thread] SEND_FW + SEND_CG FULL MODE \n");
    f_.set_BeginEndPage(step_flags_);
    return send_range(f_.get_message(42), false, nullptr) ? succeeded() : 0;
}

// Every block transfer closes the port when it ends; the next step opens it again and looks
// for a printer that announces itself.
int Procedure::reopen() {
    if (!f_.open_port(1)) {
        f_.trace_line("[FLASH][send_thread] open_port Error !\n");
        f_.set_wait_cursor(0, page_);
        f_.close_port();
        post(0);
        return 0;
    }
    f_.purge_port();
    uint8_t receive[REPLY_BUFFER_SIZE] = {};
    if (f_.read_port_block(receive, 1, RESYNC_WAIT_MS) != 0) {
        f_.sync_state = 2;
    }
    return 1;
}

int Procedure::three_steps() {
    f_.trace_line("[FLASH][send_thread] Step 1 : SEND_FW with tag null\n");
    f_.set_BeginEndPage(SEND_FW | KEEP_SETTINGS);
    if (!send_range(f_.get_message(42), true, NULL_TAG)) {
        return 0;
    }
    f_.sync_state = 1;
    f_.platform.clock.sleep_ms(STEP_PAUSE_MS);

    f_.trace_line("[FLASH][send_thread] Step 2 : SEND_CG \n");
    if (!reopen()) {
        return 0;
    }
    if (!f_.send_download_cmd(page_)) {
        return download_cmd_failed();
    }
    f_.set_BeginEndPage(SEND_CG);
    if (!send_range(f_.get_message(43), false, nullptr)) {
        return 0;
    }
    f_.sync_state = 1;
    f_.platform.clock.sleep_ms(STEP_PAUSE_MS);

    f_.trace_line("[FLASH][send_thread] Step 3 : SEND_FW 1st page\n");
    if (!reopen()) {
        return 0;
    }
    if (!f_.send_download_cmd(page_)) {
        return download_cmd_failed();
    }
    f_.set_BeginEndPage(SEND_FW_1STPAGE);
    if (!send_range(f_.get_message(42), false, nullptr)) {
        return 0;
    }
    return succeeded();
}

// The page range comes from flash.ini as it stands: no page selection, no download command.
int Procedure::free_pages_run() {
    f_.trace_line("[FLASH][send_thread] SEND_FREE \n");
    if (!f_.CheckFwFile()) {
        return fw_check_failed();
    }
    if (!f_.send_header(page_)) {
        return header_failed(true);
    }
    if (!f_.download_image(page_, bank_bar_, pages_bar_, nullptr)) {
        f_.ko_report("[Error 8] Download firmware Error.\n");
        f_.close_port();
        post(0);
        return 0;
    }
    f_.set_wait_cursor(0, page_);
    f_.page_text(page_, IDC_TRANSFER, f_.get_message(2));
    f_.close_port();
    post(1);
    return 1;
}

void Procedure::read_check_boxes(int model) {
    Ui& ui = f_.platform.ui;
    auto is_set = [&](int id) { return ui.get_check(page_, id) == 1; };  // BST_CHECKED only
    if (model != VX3E_MODE) {
        ui.enable_control(page_, IDC_CHK_KEEP, false);
    }
    if (is_set(IDC_CHK_BOOT)) {
        step_flags_ = SEND_BOOT;
        return;
    }
    step_flags_ = 0;
    if (is_set(IDC_CHK_FIRMWARE))
        step_flags_ |= SEND_FW;
    if (is_set(IDC_CHK_CG))
        step_flags_ |= SEND_CG;
    if (is_set(IDC_CHK_KEEP))
        step_flags_ |= KEEP_SETTINGS;
    if (is_set(IDC_CHK_FPGA))
        step_flags_ |= SEND_FPGA;
}

int Procedure::run() {
    f_.trace_line("[FLASH][send_thread] Send Thread Start !\n");
    f_.set_wait_cursor(1, page_);

    f_.trace_line("[FLASH][send_thread] open_port \n");
    if (!f_.open_port(1)) {
        f_.ko_report("[Error 3] Error opening printer port.\n");
        f_.trace_line("[FLASH][send_thread] open_port Error !\n");
        f_.close_port();
        f_.set_wait_cursor(0, page_);
        f_.page_text(page_, IDC_CONNECTION, f_.get_message(4));
        post(0);
        return 0;
    }
    f_.trace_line("[FLASH][send_thread] open_port OK \n");

    if (f_.flash_mode != INTERACTIVE_MODE && f_.conditional_table) {
        // The decision has reported its own reason; the process ends right after.
        if (!f_.UpdateMustBeDone()) {
            post(0);
            return 0;
        }
    }

    if (!f_.DetectPrinterModel()) {
        f_.trace_line("[FLASH][send_thread]CheckPrinterModel Error !\n");
        f_.close_port();
        f_.set_wait_cursor(0, page_);
        f_.page_text(page_, IDC_CONNECTION, f_.get_message(38));
        post(0);
        return 0;
    }

    step_flags_ = f_.send_mode;
    const int model = f_.printer_model;
    if ((model == VX3PLUS_CR_MODEL || model == VX3PLUS_SC_MODEL) && step_flags_ == SEND_FREE) {
        f_.trace_line("[FLASH][send_thread] SEND FREE PAGES Invalid operation !\n");
        return refused();
    }
    if (step_flags_ & SEND_FREE) {
        return free_pages_run();
    }
    if (f_.flash_mode == INTERACTIVE_MODE && page_ != nullptr) {
        read_check_boxes(model);
    }

    if (model == VX3E_MODE && step_flags_ == SEND_BOOT) {
        f_.trace_line("[FLASH][send_thread] SEND_BOOT Invalid operation !\n");
        return refused();
    }
    if (model == KD5_ADF_L2_MODEL) {
        if ((step_flags_ & SEND_FW) && (step_flags_ & SEND_CG)) {
            step_flags_ |= SEND_FPGA;
        }
    } else if (step_flags_ & SEND_FPGA) {
        f_.trace_line("[FLASH][send_thread] SEND_FPGA Invalid operation !\n");
        return refused();
    }

    const bool fw = step_flags_ & SEND_FW;
    const bool cg = step_flags_ & SEND_CG;
    const bool fpga = step_flags_ & SEND_FPGA;
    if (step_flags_ & SEND_BOOT) {
        return boot_transfer();
    }
    if (fw && fpga && cg) {
        f_.trace_line("[FLASH][send_thread] SEND_FW + SEND_FPGA + SEND_CG \n");
        return one_transfer(step_flags_, 42);
    }
    if (fw && fpga) {
        f_.trace_line("[FLASH][send_thread] SEND_FW + SEND_FPGA\n");
        return one_transfer(step_flags_, 42);
    }
    if (fpga && cg) {
        f_.trace_line("[FLASH][send_thread] SEND_FPGA + SEND_CG\n");
        return one_transfer(step_flags_, 42);
    }
    if (fw && cg) {
        return fw_and_cg();
    }
    if (fw) {
        f_.trace_line("[FLASH][send_thread] SEND_FW \n");
        return one_transfer(step_flags_, 42);
    }
    if (cg) {
        f_.trace_line("[FLASH][send_thread] SEND_CG \n");
        return one_transfer(SEND_CG, 43);
    }
    if (fpga) {
        f_.trace_line("[FLASH][send_thread] SEND_FPGA \n");
        return one_transfer(step_flags_, 42);
    }
    return succeeded();  // nothing selected: nothing to send
}

}  // namespace

int send_thread(const send_thread_args& args) {
    if (args.flash == nullptr) {
        return 0;
    }
    Procedure procedure(args);
    return procedure.run();
}

}  // namespace vx
