// libFuzzer target: arbitrary bytes as firmware and boot image for every printer model, then
// the page range of every send mode over the sections found. Any read past the data, any
// undefined behaviour, an image offset beyond the range's first page, or a layout that
// contradicts itself is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image_check.h"
#include "image/image_format.h"
#include "image/range_table.h"

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

void check_range(int model, uint16_t flags, const vx::SectionPages& sections) {
    const vx::PageRange r = vx::select_page_range(model, flags, sections);
    if (r.status == vx::RangeStatus::range && r.offset_page > r.begin_page)
        __builtin_trap();
    if ((r.status == vx::RangeStatus::no_row) != (r.row == vx::RangeRow::none))
        __builtin_trap();
}

void check_every_model(const uint8_t* data, size_t size, uint16_t flags) {
    for (int model = 0; model <= 7; ++model) {
        const vx::FwLayout fw = vx::check_fw_image(data, size, model);
        if (fw.outcome.fault == vx::ImageFault::none && (size % 16384 != 0 || fw.pages == 0))
            __builtin_trap();
        check_range(model, flags, fw.sections);

        const vx::BootLayout boot = vx::check_boot_image(data, size, model);
        if (boot.outcome.fault == vx::ImageFault::none) {
            // Every byte of the file lies in a page that is sent whole.
            if (uint64_t(boot.pages) * 16384 < size)
                __builtin_trap();
            if (boot.text_a[8] != 0 || boot.text_b[8] != 0)
                __builtin_trap();
            if (boot.gives_fw && boot.last_page + 1 != boot.pages)
                __builtin_trap();
        }
        vx::SectionPages after_boot = fw.sections;
        after_boot.start_fw = boot.start_fw;
        after_boot.end_fw = boot.end_fw;
        check_range(model, flags, after_boot);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint16_t flags = size >= 2 ? uint16_t(data[0] | (data[1] << 8)) : 0;

    // Exactly sized copies, so a read one byte too far is caught.
    std::vector<uint8_t> raw(data, data + size);
    check_every_model(raw.data(), raw.size(), flags);

    std::vector<uint8_t> sealed(data, data + size);
    if (sealed.size() >= vx::layout::TRAILER_SIZE) {
        seal(sealed, sealed.size() - vx::layout::TRAILER_SIZE);
    }
    check_every_model(sealed.data(), sealed.size(), flags);
    seal(sealed, vx::layout::BOOT56_TRAILER_OFFSET);
    check_every_model(sealed.data(), sealed.size(), flags);
    return 0;
}
