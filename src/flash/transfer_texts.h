// The main page's texts of the download: catalogue texts for the steps and replies the
// protocol reports, and the boxes of a link it could not make or a range the image cannot hold;
// the KO lines of a detection or update decision that ended the run.
#pragma once
#include <string>

#include "app/catalogue.h"
#include "protocol/printer_protocol.h"
#include "protocol/transfer_report.h"

namespace vx {

class MainPageView;

class PageTransferReport final : public TransferReport {
public:
    PageTransferReport(const MessageCatalogue& texts, Reporter& report, Clock& clock,
                       MainPageView& view)
        : texts_(texts), report_(report), clock_(clock), view_(view) {}

    void link_ready() override;
    void line_speed(bool shows_line_speed, uint32_t baud) override;
    void link_refused(LinkRefusal why) override;
    void started(const TransferStart& start) override;
    void step(TransferStep step) override;
    void bank(uint32_t counter) override;
    void reply(BankReply reply, uint32_t counter) override;
    void programming(uint32_t counter) override;
    void reply_cleared() override;
    void too_few_pages() override;
    void ended(bool shows_line_speed) override;
    ProgressView& bank_bar() override;
    ProgressView& pages_bar() override;

private:
    const char* text(uint16_t id) const { return texts_.get_message(id); }

    const MessageCatalogue& texts_;
    Reporter& report_;
    Clock& clock_;
    MainPageView& view_;
};

// The KO line of a detection or an update decision that ended the run, if it has one.
void report_detection(Reporter& report, const Detection& detection);
void report_update_decision(Reporter& report, const UpdateDecision& decision);

}  // namespace vx
