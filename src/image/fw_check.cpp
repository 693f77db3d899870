// CheckFwFile: is the firmware image valid for the detected model, and where do its
// sections lie in flash.
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

// Checksum test shared by models 3 to 6: the trailer is the last 8 bytes.
int check_final_trailer(Cls_flash& flash, const uint8_t* data, size_t size, CheckOutcome* outcome) {
    if (!trailer_has_crc_text(data + size - layout::TRAILER_SIZE)) {
        flash.trace_line("[FLASH][CheckFwFile] Invalid file CRC str !\n");
        return refuse(outcome, ImageFault::crc_text);
    }
    const uint16_t computed = file_checksum(data, size - 2);
    const uint16_t stored = read_be16(data + size - 2);
    if (computed != stored) {
        flash.trace_line("[FLASH][CheckFwFile] Invalid CRC (%d %d)\n", int(computed), int(stored));
        if (outcome) {
            outcome->computed = computed;
            outcome->stored = stored;
        }
        return refuse(outcome, ImageFault::crc_value);
    }
    return 1;
}

int check_tagged(Cls_flash& flash, const uint8_t* data, uint32_t pages, CheckOutcome* outcome) {
    // Every checked size is a whole page, far more than the 94-byte header; say so anyway.
    static_assert(layout::FW_HEADER_SIZE <= PAGE_SIZE);
    const char* tag = layout::fw_tag(flash.printer_model);
    // The tag with its terminating zero: "FW_VX3PLUS" must not match "FW_VX3PLUS_SC".
    if (std::memcmp(data, tag, std::strlen(tag) + 1) != 0) {
        flash.trace_line("[FLASH][CheckFwFile] Invalid fw TAG !\n");
        return refuse(outcome, ImageFault::tag);
    }
    if (!text_at(data, layout::FW_TABLE_OFFSET, layout::TABLE_TEXT, layout::TABLE_TEXT_SIZE)) {
        flash.trace_line("[FLASH][CheckFwFile] Invalid table !\n");
        return refuse(outcome, ImageFault::table);
    }
    if (!text_at(data, layout::FW_INI_TEXT_OFFSET, layout::FW_INI_TEXT,
                 layout::SECTION_TEXT_SIZE) ||
        !text_at(data, layout::FW_END_TEXT_OFFSET, layout::FW_END_TEXT,
                 layout::SECTION_TEXT_SIZE)) {
        flash.trace_line("[FLASH][CheckFwFile] Invalid Inifw str !\n");
        return refuse(outcome, ImageFault::section_strings);
    }
    flash._4ByteToPage(data + layout::FW_INI_ADDR_OFFSET, flash.start_fw);
    flash._4ByteToPage(data + layout::FW_END_ADDR_OFFSET, flash.end_fw);
    flash.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d offset=%d\n", int(flash.start_fw),
                     int(flash.end_fw), int(flash.offset_page));
    if (!text_at(data, layout::GC_INI_TEXT_OFFSET, layout::GC_INI_TEXT,
                 layout::SECTION_TEXT_SIZE)) {
        flash.trace_line("[FLASH][CheckFwFile] Invalid gc ini str !\n");
        return refuse(outcome, ImageFault::gc_string);
    }
    flash._4ByteToPage(data + layout::GC_INI_ADDR_OFFSET, flash.start_cg);
    flash.end_cg = uint16_t(pages + 3);
    flash.max_page = pages + 4;
    flash.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(flash.start_cg),
                     int(flash.end_cg));
    return 1;
}

int check_untagged(Cls_flash& flash, uint32_t pages) {
    if (flash.send_mode == SEND_FREE) {
        flash.start_fw = uint16_t(flash.begin_page);
        flash.end_fw = uint16_t(flash.end_page);
    } else {
        flash.start_fw = layout::FW5_START_FW;
        flash.end_fw = layout::FW5_END_FW;
    }
    flash.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d offset=%d\n", int(flash.start_fw),
                     int(flash.end_fw), int(flash.offset_page));
    flash.max_page = pages + 4;
    flash.start_cg = layout::FW5_START_CG;
    flash.end_cg = layout::FW5_END_CG;
    flash.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(flash.start_cg),
                     int(flash.end_cg));
    return 1;
}

int check_three_sections(Cls_flash& flash, const uint8_t* data, size_t size, uint32_t pages,
                         CheckOutcome* outcome) {
    const uint32_t trailers = count_crc_trailers(data, size);
    if (trailers != layout::FW6_TRAILERS) {
        flash.trace_line("[FLASH][CheckFwFile] Invalid number of CRC \n");
        if (outcome)
            outcome->count = trailers;
        return refuse(outcome, ImageFault::trailer_count);
    }
    flash.start_fw = 4;
    const uint32_t o1 = find_crc_trailer(data, size, 1);
    flash.trace_line("[FLASH][CheckFwFile] FW CRC OFFSET=%d\n", int(o1));
    flash.end_fw = uint16_t(page_of(o1) + 3);
    flash.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d\n", int(flash.start_fw),
                     int(flash.end_fw));

    flash.start_FPGA = uint16_t(flash.end_fw + 1);
    const uint32_t o2 = find_crc_trailer(data, size, 2);
    flash.trace_line("[FLASH][CheckFwFile] FPGA CRC OFFSET=%d\n", int(o2));
    flash.end_FPGA = uint16_t(page_of(o2) + 3);
    flash.trace_line("[FLASH][CheckFwFile] start_FPGA=%d end_FPGA=%d\n", int(flash.start_FPGA),
                     int(flash.end_FPGA));

    flash.start_cg = uint16_t(flash.end_FPGA + 1);
    const uint32_t o3 = find_crc_trailer(data, size, 3);
    flash.trace_line("[FLASH][CheckFwFile] CH CRC OFFSET=%d\n", int(o3));
    flash.end_cg = uint16_t(page_of(o3) + 3);
    flash.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(flash.start_cg),
                     int(flash.end_cg));
    flash.max_page = pages + 3;
    return 1;
}

}  // namespace

int Cls_flash::_4ByteToPage(const uint8_t* bytes, uint16_t& page) {
    page = uint16_t(page_of(read_be32(bytes)));
    trace_line("[FLASH][_4ByteToPage] Array[%02x %02x %02x %02x] -> Page=%d \n", bytes[0], bytes[1],
               bytes[2], bytes[3], int(page));
    return 1;
}

int check_fw_image(Cls_flash& flash, const uint8_t* data, size_t size, CheckOutcome* outcome) {
    if (outcome)
        *outcome = {};
    if (size == 0) {
        flash.trace_line("[FLASH][CheckFwFile] Error dw_file_size = %d\n", 0);
        return refuse(outcome, ImageFault::empty_file);
    }
    if (size % PAGE_SIZE != 0) {
        flash.trace_line("[FLASH][CheckFwFile] Invalid FileSize !\n");
        return refuse(outcome, ImageFault::size_not_pages);
    }
    const uint32_t pages = uint32_t(size / PAGE_SIZE);
    flash.max_page = pages;

    switch (flash.printer_model) {
        case VX3E_MODE:
            if (!text_at(data, layout::FW1_TAG_OFFSET, layout::FW1_TAG, layout::FW1_TAG_SIZE)) {
                return refuse(outcome, ImageFault::missing_tag);
            }
            return 1;
        case VX3PLUS_MODEL:
            // The tag lies in page 16; a shorter file cannot hold it.
            if (size < layout::FW2_TAG_OFFSET + layout::FW2_TAG_SIZE) {
                flash.trace_line("[FLASH][CheckFwFile] File too short for fw TAG ! pages=%d\n",
                                 int(pages));
                if (outcome)
                    outcome->count = layout::FW2_TAG_OFFSET + layout::FW2_TAG_SIZE;
                return refuse(outcome, ImageFault::too_short);
            }
            if (!text_at(data, layout::FW2_TAG_OFFSET, layout::FW2_TAG, layout::FW2_TAG_SIZE)) {
                return refuse(outcome, ImageFault::missing_tag);
            }
            flash.end_cg = uint16_t(pages - 1);
            return 1;
        case VX3PLUS_CR_MODEL:
        case VX3PLUS_SC_MODEL:
            if (!check_final_trailer(flash, data, size, outcome))
                return 0;
            return check_tagged(flash, data, pages, outcome);
        case KD5_ADF_L1_MODEL:
            if (!check_final_trailer(flash, data, size, outcome))
                return 0;
            return check_untagged(flash, pages);
        case KD5_ADF_L2_MODEL:
            if (!check_final_trailer(flash, data, size, outcome))
                return 0;
            return check_three_sections(flash, data, size, pages, outcome);
        default:
            flash.trace_line("[FLASH][CheckFwFile] UNKNOWN PR MODEL !\n");
            return refuse(outcome, ImageFault::unknown_model);
    }
}

FileReadResult read_image_file(Cls_flash& flash, const char* operation, const std::string& name,
                               std::vector<uint8_t>& image) {
    const FileReadResult read = flash.platform.files.read_whole(name, image);
    switch (read.failed_at) {
        case FileStage::ok:
        case FileStage::open:
            break;
        case FileStage::size:
            flash.trace_line("[FLASH][%s] Error GetFileSize = %s\n", operation, name.c_str());
            break;
        case FileStage::alloc:
            flash.trace_line("[FLASH][%s] VirtualAlloc Error !\n", operation);
            break;
        case FileStage::read:
            flash.trace_line("[FLASH][%s] ReadFile Error !\n", operation);
            break;
    }
    return read;
}

int Cls_flash::CheckFwFile() {
    const std::string name = bounded_text(fw_filename, sizeof fw_filename);
    trace_line("[FLASH][CheckFwFile] Firmware FileName = %s\n", name.c_str());
    std::vector<uint8_t> image;
    const FileReadResult read = read_image_file(*this, "CheckFwFile", name, image);
    if (read.failed_at == FileStage::open) {
        ko_report("[Error 6] Cannot open firmware file = %s .\n", name.c_str());
        trace_line("[FLASH][CheckFwFile] Cannot open file = %s error=%d\n", name.c_str(),
                   int(read.error));
    }
    if (read.failed_at != FileStage::ok) {
        return 0;
    }
    return check_fw_image(*this, image.data(), image.size());
}

}  // namespace vx
