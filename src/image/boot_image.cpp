// Boot image layout: is the image valid for the model, its identification texts and, for
// models 3 to 6, the range it is sent to.
#include <cstring>

#include "image/constants.h"
#include "image/image_check.h"
#include "image/image_format.h"

namespace vx {

namespace {

BootLayout& refuse(BootLayout& r, ImageFault fault) {
    r.outcome.fault = fault;
    return r;
}

bool text_at(const uint8_t* data, uint32_t offset, const char* text, size_t length) {
    return std::memcmp(data + offset, text, length) == 0;
}

// A header text of models 3 to 6: up to its zero byte, cut to 7 characters when the 8 bytes
// hold none, so the field keeps a terminator.
void copy_header_text(char (&field)[9], const uint8_t* source) {
    std::memset(field, 0, sizeof field);
    for (uint32_t i = 0; i < layout::BOOT_TEXT_SIZE - 1 && source[i] != 0; ++i)
        field[i] = char(source[i]);
}

BootLayout& header_boot(const uint8_t* data, size_t size, int model, BootLayout& r) {
    const bool adf = model == KD5_ADF_L1_MODEL || model == KD5_ADF_L2_MODEL;
    const size_t trailer = adf ? layout::BOOT56_TRAILER_OFFSET : size - layout::TRAILER_SIZE;
    const size_t covered = trailer + layout::TRAILER_SIZE - 2;

    if (!trailer_has_crc_text(data + trailer))
        return refuse(r, ImageFault::crc_text);
    const uint16_t computed = file_checksum(data, covered);
    const uint16_t stored = read_be16(data + covered);
    if (computed != stored) {
        r.outcome.computed = computed;
        r.outcome.stored = stored;
        return refuse(r, ImageFault::crc_value);
    }
    const char* tag = layout::boot_tag(model);
    if (std::memcmp(data + layout::BOOT_HEADER_OFFSET, tag, std::strlen(tag) + 1) != 0)
        return refuse(r, ImageFault::tag);
    if (!text_at(data, layout::BOOT_TABLE_OFFSET, layout::TABLE_TEXT, layout::TABLE_TEXT_SIZE))
        return refuse(r, ImageFault::table);
    if (!text_at(data, layout::BOOT_INI_TEXT_OFFSET, layout::BOOT_INI_TEXT,
                 layout::BOOT_SECTION_TEXT_SIZE) ||
        !text_at(data, layout::BOOT_END_TEXT_OFFSET, layout::BOOT_END_TEXT,
                 layout::BOOT_SECTION_TEXT_SIZE)) {
        return refuse(r, ImageFault::section_strings);
    }
    copy_header_text(r.text_a, data + layout::BOOT_TEXT_A_OFFSET);
    copy_header_text(r.text_b, data + layout::BOOT_TEXT_B_OFFSET);

    r.start_address = read_be32(data + layout::BOOT_INI_ADDR_OFFSET);
    r.end_address = read_be32(data + layout::BOOT_END_ADDR_OFFSET);
    if (adf) {
        // These models address their boot loader with 16 bits.
        r.start_address &= 0xFFFFu;
        r.end_address &= 0xFFFFu;
    }
    r.start_page = uint16_t(page_of(r.start_address));
    r.end_page = uint16_t(page_of(r.end_address));
    r.gives_range = true;
    r.begin_page = r.start_page;
    r.offset_page = r.start_page;
    if (model == KD5_ADF_L2_MODEL) {
        // Sent up to the image's last page, whatever the end address says; the size check
        // keeps pages >= 4.
        r.last_page = r.pages - 1;
        r.gives_fw = true;
        r.start_fw = r.start_page;
        r.end_fw = uint16_t(r.last_page);
        return r;
    }
    r.last_page = r.end_page;
    r.max_page = r.pages + 4;
    return r;
}

}  // namespace

BootLayout check_boot_image(const uint8_t* data, size_t size, int model) {
    BootLayout r;
    if (size == 0)
        return refuse(r, ImageFault::empty_file);
    r.pages = uint32_t(pages_rounded_up(size));
    r.max_page = r.pages;

    const uint32_t need = layout::boot_min_size(model);
    if (need == 0)
        return refuse(r, ImageFault::unknown_model);
    if (size < need) {
        r.outcome.count = need;
        return refuse(r, ImageFault::too_short);
    }
    if (model != VX3PLUS_MODEL)
        return header_boot(data, size, model, r);

    if (!text_at(data, layout::BOOT_HEADER_OFFSET, layout::BOOT2_TAG, layout::BOOT2_TAG_SIZE))
        return refuse(r, ImageFault::missing_tag);
    // Copied as they are; the ninth byte of each field stays 0.
    std::memcpy(r.text_a, data + layout::BOOT2_TEXT_A_OFFSET, layout::BOOT_TEXT_SIZE);
    std::memcpy(r.text_b, data + layout::BOOT2_TEXT_B_OFFSET, layout::BOOT_TEXT_SIZE);
    return r;
}

}  // namespace vx
