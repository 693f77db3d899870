// CheckFwFile: reads the firmware image, checks it for the detected model and keeps its
// sections in the flash context, with the trace lines of every step.
#include <string>
#include <vector>

#include "image/constants.h"
#include "image/image_check.h"
#include "image/image_format.h"
#include "session/traced_checks.h"

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

int apply_tagged(DownloadSession& s, Reporter& report, const FwLayout& r) {
    trace_page(report, r.fw_start_address);  // the pages come from the layout
    trace_page(report, r.fw_end_address);
    s.start_fw = r.sections.start_fw;
    s.end_fw = r.sections.end_fw;
    report.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d offset=%d\n", int(s.start_fw),
                      int(s.end_fw), int(s.offset_page));
    if (r.outcome.fault == ImageFault::gc_string) {
        report.trace_line("[FLASH][CheckFwFile] Invalid gc ini str !\n");
        return 0;
    }
    trace_page(report, r.cg_start_address);
    s.start_cg = r.sections.start_cg;
    s.end_cg = r.sections.end_cg;
    s.max_page = r.max_page;
    report.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(s.start_cg),
                      int(s.end_cg));
    return 1;
}

int apply_untagged(DownloadSession& s, Reporter& report, const FwLayout& r, uint16_t send_mode) {
    if (send_mode == SEND_FREE) {
        // A free-pages run sends the flash.ini range instead of the fixed one.
        s.start_fw = uint16_t(s.begin_page);
        s.end_fw = uint16_t(s.end_page);
    } else {
        s.start_fw = r.sections.start_fw;
        s.end_fw = r.sections.end_fw;
    }
    report.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d offset=%d\n", int(s.start_fw),
                      int(s.end_fw), int(s.offset_page));
    s.max_page = r.max_page;
    s.start_cg = r.sections.start_cg;
    s.end_cg = r.sections.end_cg;
    report.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(s.start_cg),
                      int(s.end_cg));
    return 1;
}

int apply_three_sections(DownloadSession& s, Reporter& report, const FwLayout& r) {
    const SectionPages& from = r.sections;
    s.start_fw = from.start_fw;
    report.trace_line("[FLASH][CheckFwFile] FW CRC OFFSET=%d\n", int(r.trailer_end[0]));
    s.end_fw = from.end_fw;
    report.trace_line("[FLASH][CheckFwFile] start_fw=%d end_fw=%d\n", int(s.start_fw),
                      int(s.end_fw));
    s.start_FPGA = from.start_FPGA;
    report.trace_line("[FLASH][CheckFwFile] FPGA CRC OFFSET=%d\n", int(r.trailer_end[1]));
    s.end_FPGA = from.end_FPGA;
    report.trace_line("[FLASH][CheckFwFile] start_FPGA=%d end_FPGA=%d\n", int(s.start_FPGA),
                      int(s.end_FPGA));
    s.start_cg = from.start_cg;
    report.trace_line("[FLASH][CheckFwFile] CH CRC OFFSET=%d\n", int(r.trailer_end[2]));
    s.end_cg = from.end_cg;
    report.trace_line("[FLASH][CheckFwFile] start_cg=%d end_cg=%d\n", int(s.start_cg),
                      int(s.end_cg));
    s.max_page = r.max_page;
    return 1;
}

}  // namespace

uint16_t address_to_page(Reporter& report, const uint8_t bytes[4]) {
    const uint16_t page = uint16_t(page_of(read_be32(bytes)));
    report.trace_line("[FLASH][_4ByteToPage] Array[%02x %02x %02x %02x] -> Page=%d \n", bytes[0],
                      bytes[1], bytes[2], bytes[3], int(page));
    return page;
}

void trace_page(Reporter& report, uint32_t address) {
    const uint8_t bytes[4] = {uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8),
                              uint8_t(address)};
    address_to_page(report, bytes);
}

int apply_fw_image(DownloadSession& s, Reporter& report, const uint8_t* data, size_t size,
                   uint16_t send_mode) {
    const FwLayout r = check_fw_image(data, size, s.printer_model);
    const ImageFault fault = r.outcome.fault;
    if (fault == ImageFault::empty_file) {
        report.trace_line("[FLASH][CheckFwFile] Error dw_file_size = %d\n", 0);
        return 0;
    }
    if (fault == ImageFault::size_not_pages) {
        report.trace_line("[FLASH][CheckFwFile] Invalid FileSize !\n");
        return 0;
    }
    s.max_page = r.pages;
    if (const char* line = early_refusal_line(fault)) {
        report.trace_line("%s", line);
        return 0;
    }
    switch (fault) {
        case ImageFault::too_short:
            report.trace_line("[FLASH][CheckFwFile] File too short for fw TAG ! pages=%d\n",
                              int(r.pages));
            return 0;
        case ImageFault::crc_value:
            report.trace_line("[FLASH][CheckFwFile] Invalid CRC (%d %d)\n", int(r.outcome.computed),
                              int(r.outcome.stored));
            return 0;
        case ImageFault::missing_tag:
            return 0;
        default:
            break;
    }
    switch (s.printer_model) {
        case VX3PLUS_MODEL:
            s.end_cg = r.sections.end_cg;
            return 1;
        case VX3PLUS_CR_MODEL:
        case VX3PLUS_SC_MODEL:
            return apply_tagged(s, report, r);
        case KD5_ADF_L1_MODEL:
            return apply_untagged(s, report, r, send_mode);
        case KD5_ADF_L2_MODEL:
            return apply_three_sections(s, report, r);
        default:
            return 1;  // model 1: the tag is all there is
    }
}

FileReadResult read_image_file(const DownloadSession& s, Reporter& report, FileSystem& files,
                               const char* operation, const std::string& name,
                               std::vector<uint8_t>& image) {
    const FileReadResult read =
        files.read_whole(name, image, layout::max_image_size(s.printer_model));
    switch (read.failed_at) {
        case FileStage::ok:
        case FileStage::open:
            break;
        case FileStage::size:
            report.trace_line("[FLASH][%s] Error GetFileSize = %s\n", operation, name.c_str());
            break;
        case FileStage::alloc:
            report.trace_line("[FLASH][%s] VirtualAlloc Error !\n", operation);
            break;
        case FileStage::read:
            report.trace_line("[FLASH][%s] ReadFile Error !\n", operation);
            break;
        case FileStage::too_large:  // larger than any image the printer can take
            report.trace_line("[FLASH][%s] Invalid FileSize !\n", operation);
            break;
    }
    return read;
}

bool check_firmware_file(DownloadSession& s, Reporter& report, FileSystem& files,
                         const char* file_name, uint16_t send_mode) {
    const std::string name = bounded_text(file_name, PATH_CHARS);
    report.trace_line("[FLASH][CheckFwFile] Firmware FileName = %s\n", name.c_str());
    s.checked_image = {};
    std::vector<uint8_t> image;
    const FileReadResult read = read_image_file(s, report, files, "CheckFwFile", name, image);
    if (read.failed_at == FileStage::open) {
        report.ko_report("[Error 6] Cannot open firmware file = %s .\n", name.c_str());
        report.trace_line("[FLASH][CheckFwFile] Cannot open file = %s error=%d\n", name.c_str(),
                          int(read.error));
    }
    if (read.failed_at != FileStage::ok) {
        return false;
    }
    const bool ok = apply_fw_image(s, report, image.data(), image.size(), send_mode) != 0;
    if (ok)
        remember_checked_image(s, name, image);
    return ok;
}

}  // namespace vx
