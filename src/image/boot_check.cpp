// CheckBootFile: is the boot image valid for the detected model; its identification texts
// and, for models 3 to 6, the range it is sent to.
#include <cstring>
#include <string>
#include <vector>

#include "app/cls_flash.h"
#include "image/image_check.h"
#include "image/image_format.h"

namespace vx {

namespace {

int refuse(CheckOutcome* outcome, ImageFault fault) {
    if (outcome)
        outcome->fault = fault;
    return 0;
}

bool text_at(const uint8_t* data, uint32_t offset, const char* text, size_t length) {
    return std::memcmp(data + offset, text, length) == 0;
}

// A header text of models 3 to 6: up to its zero byte, cut to 7 characters when the 8 bytes
// hold none, so the field keeps a terminator.
void copy_header_text(char (&field)[9], const uint8_t* source) {
    std::memset(field, 0, sizeof field);
    for (uint32_t i = 0; i < layout::BOOT_TEXT_SIZE - 1 && source[i] != 0; ++i) {
        field[i] = char(source[i]);
    }
}

int check_header_boot(Cls_flash& flash, const uint8_t* data, size_t size, CheckOutcome* outcome) {
    const int model = flash.printer_model;
    const bool adf = model == KD5_ADF_L1_MODEL || model == KD5_ADF_L2_MODEL;
    const size_t trailer = adf ? layout::BOOT56_TRAILER_OFFSET : size - layout::TRAILER_SIZE;
    const size_t covered = trailer + layout::TRAILER_SIZE - 2;

    if (!trailer_has_crc_text(data + trailer)) {
        flash.trace_line("[FLASH][CheckBootFile] Invalid file CRC str !\n");
        return refuse(outcome, ImageFault::crc_text);
    }
    const uint16_t computed = file_checksum(data, covered);
    const uint16_t stored = read_be16(data + covered);
    if (computed != stored) {
        flash.trace_line("[FLASH][CheckBootFile] Invalid CRC (%d %d)\n", int(computed),
                         int(stored));
        if (outcome) {
            outcome->computed = computed;
            outcome->stored = stored;
        }
        return refuse(outcome, ImageFault::crc_value);
    }
    const char* tag = layout::boot_tag(model);
    if (std::memcmp(data + layout::BOOT_HEADER_OFFSET, tag, std::strlen(tag) + 1) != 0) {
        flash.trace_line("[FLASH][CheckBootFile] Invalid boot TAG \n");
        return refuse(outcome, ImageFault::tag);
    }
    if (!text_at(data, layout::BOOT_TABLE_OFFSET, layout::TABLE_TEXT, layout::TABLE_TEXT_SIZE)) {
        flash.trace_line("[FLASH][CheckBootFile] Invalid Table \n");
        return refuse(outcome, ImageFault::table);
    }
    if (!text_at(data, layout::BOOT_INI_TEXT_OFFSET, layout::BOOT_INI_TEXT,
                 layout::BOOT_SECTION_TEXT_SIZE) ||
        !text_at(data, layout::BOOT_END_TEXT_OFFSET, layout::BOOT_END_TEXT,
                 layout::BOOT_SECTION_TEXT_SIZE)) {
        flash.trace_line("[FLASH][CheckBootFile] Invalid boot str \n");
        return refuse(outcome, ImageFault::section_strings);
    }
    copy_header_text(flash.boot_text_a, data + layout::BOOT_TEXT_A_OFFSET);
    copy_header_text(flash.boot_text_b, data + layout::BOOT_TEXT_B_OFFSET);

    uint8_t start_address[4];
    uint8_t end_address[4];
    std::memcpy(start_address, data + layout::BOOT_INI_ADDR_OFFSET, 4);
    std::memcpy(end_address, data + layout::BOOT_END_ADDR_OFFSET, 4);
    if (adf) {
        // These models address their boot loader with 16 bits.
        start_address[0] = start_address[1] = 0;
        end_address[0] = end_address[1] = 0;
    }
    uint16_t start_page = 0;
    uint16_t end_page = 0;
    flash._4ByteToPage(start_address, start_page);
    flash._4ByteToPage(end_address, end_page);

    if (model == KD5_ADF_L2_MODEL) {
        const uint32_t last = flash.max_page - 1;  // the size check keeps max_page >= 3
        flash.start_fw = start_page;
        flash.end_fw = uint16_t(last);
        flash.trace_line("[FLASH][CheckBootFile] begin_page=%d endpage=%d \n", int(start_page),
                         int(last));
        flash.begin_page = start_page;
        flash.offset_page = start_page;
        flash.end_page = last;
        return 1;
    }
    flash.max_page += 4;
    flash.trace_line("[FLASH][CheckBootFile] begin_page=%d endpage=%d offsetpage=%d\n",
                     int(start_page), int(end_page), int(start_page));
    flash.begin_page = start_page;
    flash.offset_page = start_page;
    flash.end_page = end_page;
    return 1;
}

}  // namespace

int check_boot_image(Cls_flash& flash, const uint8_t* data, size_t size, CheckOutcome* outcome) {
    if (outcome)
        *outcome = {};
    if (size == 0) {
        flash.trace_line("[FLASH][CheckBootFile] Error dw_file_size = %d\n", 0);
        return refuse(outcome, ImageFault::empty_file);
    }
    flash.max_page = uint32_t(size / PAGE_SIZE);
    std::memset(flash.boot_text_a, 0, sizeof flash.boot_text_a);
    std::memset(flash.boot_text_b, 0, sizeof flash.boot_text_b);

    const int model = flash.printer_model;
    const uint32_t need = layout::boot_min_size(model);
    if (need == 0) {
        flash.trace_line("[FLASH][CheckBootFile] UNKNOWN Printer model \n");
        return refuse(outcome, ImageFault::unknown_model);
    }
    if (size < need) {
        flash.trace_line(
            "[FLASH][CheckBootFile] File too short for boot header ! size=%d need=%d\n", int(size),
            int(need));
        if (outcome)
            outcome->count = need;
        return refuse(outcome, ImageFault::too_short);
    }
    if (model != VX3PLUS_MODEL)
        return check_header_boot(flash, data, size, outcome);

    if (!text_at(data, layout::BOOT_HEADER_OFFSET, layout::BOOT2_TAG, layout::BOOT2_TAG_SIZE)) {
        return refuse(outcome, ImageFault::missing_tag);
    }
    // Copied as they are; the ninth byte of each field stays 0.
    std::memcpy(flash.boot_text_a, data + layout::BOOT2_TEXT_A_OFFSET, layout::BOOT_TEXT_SIZE);
    std::memcpy(flash.boot_text_b, data + layout::BOOT2_TEXT_B_OFFSET, layout::BOOT_TEXT_SIZE);
    return 1;
}

int Cls_flash::CheckBootFile() {
    const std::string name = bounded_text(fw_filename, sizeof fw_filename);
    trace_line("[FLASH][CheckBootFile] Boot FileName = %s\n", name.c_str());
    std::vector<uint8_t> image;
    const FileReadResult read = read_image_file(*this, "CheckBootFile", name, image);
    if (read.failed_at == FileStage::open) {
        trace_line("[FLASH][CheckBootFile] Cannot open file = %s\n", name.c_str());
    }
    if (read.failed_at != FileStage::ok) {
        return 0;
    }
    return check_boot_image(*this, image.data(), image.size());
}

}  // namespace vx
