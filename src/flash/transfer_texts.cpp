#include "flash/transfer_texts.h"

#include "app/message_ids.h"
#include "platform/main_view.h"
#include "protocol/run_timing.h"

namespace vx {

void PageTransferReport::link_ready() {
    view_.printer_status(text(msg::READY));
    view_.computer_status(text(msg::READY));
    view_.reply_line("");
}

void PageTransferReport::line_speed(bool shows_line_speed, uint32_t baud) {
    view_.connection_line(shows_line_speed ? texts_.message_int(msg::LINE_SPEED, baud).c_str()
                                           : " ");
}

void PageTransferReport::link_refused(LinkRefusal why) {
    // The maximum-speed failure has always shown the caption as its text.
    static constexpr uint16_t kTexts[] = {msg::NO_ANSWER, msg::ERROR_CAPTION,
                                          msg::SPEED_UNSUPPORTED};
    report_.user_message(view_.box_owner(), text(msg::ERROR_CAPTION),
                         text(kTexts[static_cast<int>(why)]), BOX_ICONEXCLAMATION);
}

void PageTransferReport::started(const TransferStart& start) {
    view_.connection_line(
        start.shows_line_speed ? texts_.message_int(msg::DOWNLOAD_SPEED, start.baud).c_str() : " ");
    view_.computer_status(
        texts_.message_str(msg::SENDING_FILE, start.file_name ? start.file_name : "").c_str());
    view_.bank_bar().set_position(0);
    view_.model_label(start.model_label);
    view_.printer_status(text(msg::BANK_ACCEPTED));
    view_.page_range(texts_.message_int(msg::FIRST_PAGE, start.first_page).c_str(),
                     texts_.message_int(msg::LAST_PAGE, start.last_page).c_str());
    view_.pages_bar().set_position(0);
}

void PageTransferReport::step(TransferStep step) {
    static constexpr uint16_t kTexts[] = {msg::READY, msg::SENDING_DATA, msg::WAITING_CONFIRM};
    view_.computer_status(text(kTexts[static_cast<int>(step)]));
}

void PageTransferReport::bank(uint32_t counter) {
    view_.bank_label(texts_.message_int(msg::BANK_NUMBER, counter).c_str());
}

void PageTransferReport::reply(BankReply reply, uint32_t counter) {
    static constexpr uint16_t kTexts[] = {msg::BANK_WAITING, msg::BANK_PROGRAMMING,
                                          msg::BANK_ACCEPTED, msg::BANK_RETRY};
    if (reply == BankReply::unrecoverable)
        view_.printer_status(text(msg::UNRECOVERABLE));
    else
        view_.printer_status(texts_.message_int(kTexts[static_cast<int>(reply)], counter).c_str());
}

void PageTransferReport::programming(uint32_t counter) {
    view_.reply_line(texts_.message_int(msg::BANK_PROGRAMMING_REPLY, counter).c_str());
}

void PageTransferReport::reply_cleared() {
    view_.reply_line("");
}

void PageTransferReport::too_few_pages() {
    report_.user_message(view_.box_owner(), text(msg::ERROR_CAPTION), text(msg::TOO_FEW_PAGES),
                         BOX_ICONEXCLAMATION);
}

void PageTransferReport::ended(bool shows_line_speed) {
    view_.printer_status(text(msg::READY));
    view_.computer_status(text(msg::FILE_SENT));
    if (shows_line_speed)
        view_.connection_line(text(msg::DOWNLOAD_FINISHED));
    view_.pages_bar().set_position(0);
    view_.printer_status(text(msg::PRINTER_RESTARTS));
    clock_.sleep_ms(wait_ms::PRINTER_RESTART);
    view_.printer_status(text(msg::READY));
    view_.reply_line("");
}

ProgressView& PageTransferReport::bank_bar() {
    return view_.bank_bar();
}
ProgressView& PageTransferReport::pages_bar() {
    return view_.pages_bar();
}

void report_detection(Reporter& report, const Detection& detection) {
    if (detection.outcome == DetectOutcome::no_answer)
        report.ko_report("[Error 9] Printer not answering.\n");
}

void report_update_decision(Reporter& report, const UpdateDecision& decision) {
    switch (decision.outcome) {
        case UpdateOutcome::update:
            break;
        case UpdateOutcome::no_release:
            report.ko_report("[Error 12] FW Release request failure ! \n");
            break;
        case UpdateOutcome::no_table:
            report.ko_report("[Error 13] INI Section %s not present !\n", "CONDITIONAL_TABLE");
            break;
        case UpdateOutcome::not_listed:
            report.ko_report(
                "[Error 14] No firmware found as requested. Actual VX3 firmware is %s\n",
                decision.release_key.c_str());
            break;
    }
}

}  // namespace vx
