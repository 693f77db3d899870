// libFuzzer target: arbitrary bytes as firmware and boot image for every printer model,
// then the page range of every send mode. Any read past the data, any undefined behaviour,
// or an image offset beyond the range's first page is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/catalogue.h"
#include "app/cls_flash.h"
#include "image/image_check.h"
#include "image/image_format.h"
#include "platform/platform.h"

namespace {

// Random bytes almost never carry a matching checksum; a copy with the checksum put right
// lets the fuzzer reach the header checks behind it.
void seal(std::vector<uint8_t>& bytes, size_t trailer) {
    if (trailer + vx::layout::TRAILER_SIZE > bytes.size())
        return;
    const size_t covered = trailer + vx::layout::TRAILER_SIZE - 2;
    const uint16_t sum = vx::file_checksum(bytes.data(), covered);
    bytes[covered] = uint8_t(sum >> 8);
    bytes[covered + 1] = uint8_t(sum);
}

void check_every_model(vx::Cls_flash& flash, const uint8_t* data, size_t size, uint16_t flags) {
    for (int model = 0; model <= 7; ++model) {
        flash.printer_model = model;
        vx::check_fw_image(flash, data, size);
        flash.set_BeginEndPage(flags);
        if (flash.offset_page > flash.begin_page)
            __builtin_trap();
        vx::check_boot_image(flash, data, size);
        flash.set_BeginEndPage(flags);
        if (flash.offset_page > flash.begin_page)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static vx::MessageCatalogue catalogue(vx::native_platform());
    static vx::Cls_flash flash(vx::native_platform(), catalogue);
    const uint16_t flags = size >= 2 ? uint16_t(data[0] | (data[1] << 8)) : 0;
    flash.send_mode = flags & 1 ? vx::SEND_FREE : flags;
    flash.begin_page = flash.end_page = flash.offset_page = 0;

    // Exactly sized copies, so a read one byte too far is caught.
    std::vector<uint8_t> raw(data, data + size);
    check_every_model(flash, raw.data(), raw.size(), flags);

    std::vector<uint8_t> sealed(data, data + size);
    if (sealed.size() >= vx::layout::TRAILER_SIZE) {
        seal(sealed, sealed.size() - vx::layout::TRAILER_SIZE);
    }
    check_every_model(flash, sealed.data(), sealed.size(), flags);
    seal(sealed, vx::layout::BOOT56_TRAILER_OFFSET);
    check_every_model(flash, sealed.data(), sealed.size(), flags);
    return 0;
}
