// CheckFwFile: reads the firmware image, checks it for the detected model and keeps its
// sections in the flash context, with the trace lines of every step.
#include <string>
#include <vector>

#include "app/cls_flash.h"
#include "image/image_check.h"
#include "image/image_format.h"
#include "image/traced_checks.h"

namespace vx {

namespace {

// The fixed-text refusals found before any section field is written; null for the others.
const char* early_refusal_line(ImageFault fault) {
    switch (fault) {
        case ImageFault::unknown_model:
            return "[FLASH][CheckFwFile] UNKNOWN PR MODEL !\n";
        case ImageFault::crc_text:
            return "[FLASH][CheckFwFile] Invalid file CRC str !\n";
        case ImageFault::tag:
            return "[FLASH][CheckFwFile] Invalid fw TAG !\n";
        case ImageFault::table:
            return "[FLASH][CheckFwFile] Invalid table !\n";
        case ImageFault::section_strings:
            return "[FLASH][CheckFwFile] Invalid Inifw str !\n";
        case ImageFault::trailer_count:
            return "[FLASH][CheckFwFile] Invalid number of CRC \n";
        default:
            return nullptr;
    }
}

int apply_tagged(Cls_flash& f, const FwLayout& r) {
    trace_page(f, r.fw_start_address);  // the pages come from the layout
    trace_page(f, r.fw_end_address);
    f.start_fw = r.sections.start_fw;
    f.end_fw = r.sections.end_fw;
    f.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d offset=%d\n", int(f.start_fw),
                 int(f.end_fw), int(f.offset_page));
    if (r.outcome.fault == ImageFault::gc_string) {
        f.trace_line("[FLASH][CheckFwFile] Invalid gc ini str !\n");
        return 0;
    }
    trace_page(f, r.cg_start_address);
    f.start_cg = r.sections.start_cg;
    f.end_cg = r.sections.end_cg;
    f.max_page = r.max_page;
    f.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(f.start_cg), int(f.end_cg));
    return 1;
}

int apply_untagged(Cls_flash& f, const FwLayout& r) {
    if (f.send_mode == SEND_FREE) {
        // A free-pages run sends the flash.ini range instead of the fixed one.
        f.start_fw = uint16_t(f.begin_page);
        f.end_fw = uint16_t(f.end_page);
    } else {
        f.start_fw = r.sections.start_fw;
        f.end_fw = r.sections.end_fw;
    }
    f.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d offset=%d\n", int(f.start_fw),
                 int(f.end_fw), int(f.offset_page));
    f.max_page = r.max_page;
    f.start_cg = r.sections.start_cg;
    f.end_cg = r.sections.end_cg;
    f.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(f.start_cg), int(f.end_cg));
    return 1;
}

int apply_three_sections(Cls_flash& f, const FwLayout& r) {
    const SectionPages& s = r.sections;
    f.start_fw = s.start_fw;
    f.trace_line("[FLASH][CheckFwFile] FW CRC OFFSET=%d\n", int(r.trailer_end[0]));
    f.end_fw = s.end_fw;
    f.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d\n", int(f.start_fw), int(f.end_fw));
    f.start_FPGA = s.start_FPGA;
    f.trace_line("[FLASH][CheckFwFile] FPGA CRC OFFSET=%d\n", int(r.trailer_end[1]));
    f.end_FPGA = s.end_FPGA;
    f.trace_line("[FLASH][CheckFwFile] start_FPGA=%d end_FPGA=%d\n", int(f.start_FPGA),
                 int(f.end_FPGA));
    f.start_cg = s.start_cg;
    f.trace_line("[FLASH][CheckFwFile] CH CRC OFFSET=%d\n", int(r.trailer_end[2]));
    f.end_cg = s.end_cg;
    f.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(f.start_cg), int(f.end_cg));
    f.max_page = r.max_page;
    return 1;
}

}  // namespace

int Cls_flash::_4ByteToPage(const uint8_t* bytes, uint16_t& page) {
    page = uint16_t(page_of(read_be32(bytes)));
    trace_line("[FLASH][_4ByteToPage] Array[%02x %02x %02x %02x] -> Page=%d \n", bytes[0], bytes[1],
               bytes[2], bytes[3], int(page));
    return 1;
}

void trace_page(Cls_flash& flash, uint32_t address) {
    const uint8_t bytes[4] = {uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8),
                              uint8_t(address)};
    uint16_t page = 0;
    flash._4ByteToPage(bytes, page);
}

int apply_fw_image(Cls_flash& f, const uint8_t* data, size_t size) {
    const FwLayout r = check_fw_image(data, size, f.printer_model);
    const ImageFault fault = r.outcome.fault;
    if (fault == ImageFault::empty_file) {
        f.trace_line("[FLASH][CheckFwFile] Error dw_file_size = %d\n", 0);
        return 0;
    }
    if (fault == ImageFault::size_not_pages) {
        f.trace_line("[FLASH][CheckFwFile] Invalid FileSize !\n");
        return 0;
    }
    f.max_page = r.pages;
    if (const char* line = early_refusal_line(fault)) {
        f.trace_line("%s", line);
        return 0;
    }
    switch (fault) {
        case ImageFault::too_short:
            f.trace_line("[FLASH][CheckFwFile] File too short for fw TAG ! pages=%d\n",
                         int(r.pages));
            return 0;
        case ImageFault::crc_value:
            f.trace_line("[FLASH][CheckFwFile] Invalid CRC (%d %d)\n", int(r.outcome.computed),
                         int(r.outcome.stored));
            return 0;
        case ImageFault::missing_tag:
            return 0;
        default:
            break;
    }
    switch (f.printer_model) {
        case VX3PLUS_MODEL:
            f.end_cg = r.sections.end_cg;
            return 1;
        case VX3PLUS_CR_MODEL:
        case VX3PLUS_SC_MODEL:
            return apply_tagged(f, r);
        case KD5_ADF_L1_MODEL:
            return apply_untagged(f, r);
        case KD5_ADF_L2_MODEL:
            return apply_three_sections(f, r);
        default:
            return 1;  // model 1: the tag is all there is
    }
}

FileReadResult read_image_file(Cls_flash& flash, const char* operation, const std::string& name,
                               std::vector<uint8_t>& image) {
    const FileReadResult read =
        flash.platform.files.read_whole(name, image, layout::max_image_size(flash.printer_model));
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
        case FileStage::too_large:  // larger than any image the printer can take
            flash.trace_line("[FLASH][%s] Invalid FileSize !\n", operation);
            break;
    }
    return read;
}

int Cls_flash::CheckFwFile() {
    const std::string name = bounded_text(fw_filename, sizeof fw_filename);
    trace_line("[FLASH][CheckFwFile] Firmware FileName = %s\n", name.c_str());
    checked_image = {};
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
    const int ok = apply_fw_image(*this, image.data(), image.size());
    if (ok)
        remember_checked_image(name, image);
    return ok;
}

}  // namespace vx
