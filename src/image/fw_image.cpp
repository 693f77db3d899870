// Firmware image layout: is the image valid for the model, and where do its sections lie
// in flash.
#include <cstring>

#include "image/constants.h"
#include "image/image_check.h"
#include "image/image_format.h"

namespace vx {

namespace {

FwLayout& refuse(FwLayout& r, ImageFault fault) {
    r.outcome.fault = fault;
    return r;
}

bool text_at(const uint8_t* data, uint32_t offset, const char* text, size_t length) {
    return std::memcmp(data + offset, text, length) == 0;
}

// Checksum test shared by models 3 to 6: the trailer is the last 8 bytes.
bool final_trailer_ok(const uint8_t* data, size_t size, FwLayout& r) {
    if (!trailer_has_crc_text(data + size - layout::TRAILER_SIZE)) {
        refuse(r, ImageFault::crc_text);
        return false;
    }
    const uint16_t computed = file_checksum(data, size - 2);
    const uint16_t stored = read_be16(data + size - 2);
    if (computed != stored) {
        r.outcome.computed = computed;
        r.outcome.stored = stored;
        refuse(r, ImageFault::crc_value);
        return false;
    }
    return true;
}

FwLayout& tagged(const uint8_t* data, int model, FwLayout& r) {
    // Every accepted size is a whole page, far more than the 94-byte header.
    static_assert(layout::FW_HEADER_SIZE <= PAGE_SIZE);
    const char* tag = layout::fw_tag(model);
    // The tag with its terminating zero: "FW_VX3PLUS" must not match "FW_VX3PLUS_SC".
    if (std::memcmp(data, tag, std::strlen(tag) + 1) != 0)
        return refuse(r, ImageFault::tag);
    if (!text_at(data, layout::FW_TABLE_OFFSET, layout::TABLE_TEXT, layout::TABLE_TEXT_SIZE))
        return refuse(r, ImageFault::table);
    if (!text_at(data, layout::FW_INI_TEXT_OFFSET, layout::FW_INI_TEXT,
                 layout::SECTION_TEXT_SIZE) ||
        !text_at(data, layout::FW_END_TEXT_OFFSET, layout::FW_END_TEXT,
                 layout::SECTION_TEXT_SIZE)) {
        return refuse(r, ImageFault::section_strings);
    }
    r.fw_start_address = read_be32(data + layout::FW_INI_ADDR_OFFSET);
    r.fw_end_address = read_be32(data + layout::FW_END_ADDR_OFFSET);
    r.sections.start_fw = uint16_t(page_of(r.fw_start_address));
    r.sections.end_fw = uint16_t(page_of(r.fw_end_address));
    r.gives = GIVES_START_FW | GIVES_END_FW;
    if (!text_at(data, layout::GC_INI_TEXT_OFFSET, layout::GC_INI_TEXT, layout::SECTION_TEXT_SIZE))
        return refuse(r, ImageFault::gc_string);
    r.cg_start_address = read_be32(data + layout::GC_INI_ADDR_OFFSET);
    r.sections.start_cg = uint16_t(page_of(r.cg_start_address));
    r.sections.end_cg = uint16_t(r.pages + 3);
    r.gives |= GIVES_START_CG | GIVES_END_CG;
    r.max_page = r.pages + 4;
    return r;
}

FwLayout& untagged(FwLayout& r) {
    r.sections.start_fw = layout::FW5_START_FW;
    r.sections.end_fw = layout::FW5_END_FW;
    r.sections.start_cg = layout::FW5_START_CG;
    r.sections.end_cg = layout::FW5_END_CG;
    r.gives = GIVES_START_FW | GIVES_END_FW | GIVES_START_CG | GIVES_END_CG;
    r.max_page = r.pages + 4;
    return r;
}

FwLayout& three_sections(const uint8_t* data, size_t size, FwLayout& r) {
    const uint32_t trailers = count_crc_trailers(data, size);
    if (trailers != layout::FW6_TRAILERS) {
        r.outcome.count = trailers;
        return refuse(r, ImageFault::trailer_count);
    }
    for (uint32_t n = 0; n < layout::FW6_TRAILERS; ++n)
        r.trailer_end[n] = find_crc_trailer(data, size, n + 1);
    SectionPages& s = r.sections;
    s.start_fw = uint16_t(layout::IMAGE_FIRST_FLASH_PAGE);
    s.end_fw = uint16_t(page_of(r.trailer_end[0]) + 3);
    s.start_FPGA = uint16_t(s.end_fw + 1);
    s.end_FPGA = uint16_t(page_of(r.trailer_end[1]) + 3);
    s.start_cg = uint16_t(s.end_FPGA + 1);
    s.end_cg = uint16_t(page_of(r.trailer_end[2]) + 3);
    r.gives = GIVES_START_FW | GIVES_END_FW | GIVES_START_FPGA | GIVES_END_FPGA | GIVES_START_CG |
              GIVES_END_CG;
    r.max_page = r.pages + 3;
    return r;
}

}  // namespace

FwLayout check_fw_image(const uint8_t* data, size_t size, int model) {
    FwLayout r;
    if (size == 0)
        return refuse(r, ImageFault::empty_file);
    if (size % PAGE_SIZE != 0)
        return refuse(r, ImageFault::size_not_pages);
    r.pages = uint32_t(size / PAGE_SIZE);
    r.max_page = r.pages;

    switch (model) {
        case VX3E_MODEL:
            if (!text_at(data, layout::FW1_TAG_OFFSET, layout::FW1_TAG, layout::FW1_TAG_SIZE))
                return refuse(r, ImageFault::missing_tag);
            return r;
        case VX3PLUS_MODEL:
            // The tag lies in page 16; a shorter file cannot hold it.
            if (size < layout::FW2_TAG_OFFSET + layout::FW2_TAG_SIZE) {
                r.outcome.count = layout::FW2_TAG_OFFSET + layout::FW2_TAG_SIZE;
                return refuse(r, ImageFault::too_short);
            }
            if (!text_at(data, layout::FW2_TAG_OFFSET, layout::FW2_TAG, layout::FW2_TAG_SIZE))
                return refuse(r, ImageFault::missing_tag);
            r.sections.end_cg = uint16_t(r.pages - 1);
            r.gives = GIVES_END_CG;
            return r;
        case VX3PLUS_CR_MODEL:
        case VX3PLUS_SC_MODEL:
            if (!final_trailer_ok(data, size, r))
                return r;
            return tagged(data, model, r);
        case KD5_ADF_L1_MODEL:
            if (!final_trailer_ok(data, size, r))
                return r;
            return untagged(r);
        case KD5_ADF_L2_MODEL:
            if (!final_trailer_ok(data, size, r))
                return r;
            return three_sections(data, size, r);
        default:
            return refuse(r, ImageFault::unknown_model);
    }
}

}  // namespace vx
