#include "app/cls_flash.h"

#include <new>

namespace vx {

Cls_flash::Cls_flash(Platform& p, MessageCatalogue& c) : platform(p), catalogue(c) {
    try {
        sent_bank.assign(TX_BUFFER_SIZE, 0);
    } catch (const std::bad_alloc&) {
        // The run goes on; sent_bank then stays empty and its users must check its size.
        flash_last_error_msg("VirtualAlloc FAILED !");
    }
}

Cls_flash::~Cls_flash() {
    if (trace_file != nullptr)
        std::fclose(trace_file);
}

}  // namespace vx
