// What the download-mode entry, the header and a bank transfer tell whoever shows them: the
// protocol names its steps, figures and refusals, the onlooker chooses the texts and boxes.
// Calls come from the procedure's thread, in protocol order.
#pragma once
#include <cstdint>

namespace vx {

class ProgressView;

// The computer's side of the transfer.
enum class TransferStep { ready, sending_data, waiting_confirm };

// The printer's answer to a bank, as the transfer reads it.
enum class BankReply { waiting, programming, accepted, retry, unrecoverable };

// Why the printer link was not made; the onlooker may tell the user.
enum class LinkRefusal {
    no_answer,          // the printer did not answer the download command
    speed_unreadable,   // the port's maximum speed could not be read
    speed_unsupported,  // the download speed has no header code
};

struct TransferStart {
    uint32_t first_page = 0;
    uint32_t last_page = 0;
    uint32_t baud = 0;
    bool shows_line_speed = false;  // USB has no line speed to show
    const char* file_name = "";
    const char* model_label = "";
};

class TransferReport {
public:
    virtual ~TransferReport() = default;
    // Both sides ready and the reply line empty: a command is about to go out.
    virtual void link_ready() = 0;
    // The speed the header announces; a port without a line speed shows none.
    virtual void line_speed(bool shows_line_speed, uint32_t baud) = 0;
    virtual void link_refused(LinkRefusal why) = 0;
    virtual void started(const TransferStart& start) = 0;
    virtual void step(TransferStep step) = 0;
    virtual void bank(uint32_t counter) = 0;
    virtual void reply(BankReply reply, uint32_t counter) = 0;
    // A bank the printer is still writing: said once more on the reply line.
    virtual void programming(uint32_t counter) = 0;
    virtual void reply_cleared() = 0;
    // The page range does not lie inside the image.
    virtual void too_few_pages() = 0;
    // All banks taken: the printer restarts (the report waits for it).
    virtual void ended(bool shows_line_speed) = 0;
    virtual ProgressView& bank_bar() = 0;
    virtual ProgressView& pages_bar() = 0;
};

}  // namespace vx
