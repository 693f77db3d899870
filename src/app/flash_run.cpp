#include "app/flash_run.h"

#include <new>

#include "app/catalogue.h"
#include "app/message_format.h"

namespace vx {

FlashRun::FlashRun(Platform& p, MessageCatalogue& c) : platform(p), catalogue(c), report(p) {
    try {
        sent_bank.assign(TX_BUFFER_SIZE, 0);
    } catch (const std::bad_alloc&) {
        // The run goes on; sent_bank then stays empty and its users must check its size.
        report.flash_last_error_msg("VirtualAlloc FAILED !");
    }
}

FlashRun::~FlashRun() = default;

const char* FlashRun::get_message(uint16_t id) const {
    return catalogue.get_message(id);
}

std::string FlashRun::message_int(uint16_t id, long long value) const {
    return format_catalogue(get_message(id), {value});
}

std::string FlashRun::message_str(uint16_t id, const char* value) const {
    return format_catalogue(get_message(id), {value});
}

}  // namespace vx
