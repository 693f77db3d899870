#include "app/flash_run.h"

#include <new>

#include "app/catalogue.h"

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

}  // namespace vx
