// set_BeginEndPage: which flash pages one transfer step sends, and from which image page;
// load_file2send: the whole image in memory for the transfer.
#include <cstdio>
#include <string>

#include "app/cls_flash.h"
#include "image/image_format.h"
#include "image/range_table.h"

namespace vx {

namespace {

const char* row_line(RangeRow row) {
    switch (row) {
        case RangeRow::boot:
            return "[FLASH][set_BeginEndPage] SEND_BOOT file begin page=%d file end page=%d file "
                   "offset page=%d\n";
        case RangeRow::fw_fpga_cg:
            return "[FLASH][set_BeginEndPage] SEND FW+FPGA+CG file begin page=%d file end page=%d "
                   "file offset page=%d\n";
        case RangeRow::fw_fpga:
            return "[FLASH][set_BeginEndPage] SEND FW+FPGA - file begin page=%d file end page=%d "
                   "file offset page=%d\n";
        case RangeRow::fpga_cg:
            return "[FLASH][set_BeginEndPage] SEND FPGA+CG - file begin page=%d file end page=%d "
                   "file offset page=%d\n";
        case RangeRow::fw_cg:
            return "[FLASH][set_BeginEndPage] SEND_FW+CG - file begin page=%d file end page=%d "
                   "file "
                   "offset page=%d\n";
        case RangeRow::fw:
            return "[FLASH][set_BeginEndPage] SEND_FW - file begin page=%d file end page=%d file "
                   "offset page=%d\n";
        case RangeRow::fw_first_page:
            return "[FLASH][set_BeginEndPage] SEND_FW_1STPAGE beginpage=%d endpage=%d "
                   "fileoffsetpage=%d\n";
        case RangeRow::cg:
            return "[FLASH][set_BeginEndPage] SEND CG - file begin page=%d file end page=%d file "
                   "offset page=%d\n";
        case RangeRow::fpga:
            return "[FLASH][set_BeginEndPage] SEND FPGA - file begin page=%d file end page=%d file "
                   "offset page=%d\n";
        case RangeRow::none:
            break;
    }
    return "";
}

}  // namespace

int Cls_flash::set_BeginEndPage(uint16_t flags) {
    const SectionPages sections{start_fw, end_fw, start_FPGA, end_FPGA, start_cg, end_cg};
    const PageRange r = select_page_range(printer_model, flags, sections);
    switch (r.status) {
        case RangeStatus::no_row:
            return 0;  // nothing selected: nothing to trace
        case RangeStatus::no_range:
            trace_line(
                "[FLASH][set_BeginEndPage] No page range for model %d and send mode 0x%x !\n",
                printer_model, unsigned(flags));
            return 0;
        case RangeStatus::boot_check:
            break;
        case RangeStatus::range:
            if (r.start_moved) {
                trace_line(
                    "[FLASH][set_BeginEndPage] Section start page=%d is before the image, begin "
                    "page moved to %d\n",
                    int(r.claimed_start), int(r.begin_page));
            }
            begin_page = r.begin_page;
            end_page = r.end_page;
            offset_page = r.offset_page;
            if (r.clears & CLEARS_FW)
                start_fw = end_fw = 0;
            if (r.clears & CLEARS_FPGA)
                start_FPGA = end_FPGA = 0;
            if (r.clears & CLEARS_CG)
                start_cg = end_cg = 0;
            break;
    }
    trace_line(row_line(r.row), int(begin_page), int(end_page), int(offset_page));
    return 1;
}

void Cls_flash::remember_checked_image(const std::string& name, const std::vector<uint8_t>& bytes) {
    checked_image.valid = true;
    checked_image.name = name;
    checked_image.size = bytes.size();
    checked_image.digest = image_digest(bytes.data(), bytes.size());
}

uint32_t Cls_flash::load_file2send(const char* file_name, std::vector<uint8_t>& image) {
    image.clear();
    const std::string name = bounded_text(file_name ? file_name : "", PATH_CHARS);
    trace_line("[FLASH][load_file2send] Firmware FileName = %s\n", name.c_str());
    const FileReadResult read =
        platform.files.read_whole(name, image, layout::max_image_size(printer_model));
    if (read.failed_at == FileStage::ok && checked_image.valid) {
        const uint64_t digest = image_digest(image.data(), image.size());
        if (name != checked_image.name || image.size() != checked_image.size ||
            digest != checked_image.digest) {
            trace_line(
                "[FLASH][load_file2send] %s changed since it was checked (%llu bytes, was %llu): "
                "not sent\n",
                name.c_str(), static_cast<unsigned long long>(image.size()),
                static_cast<unsigned long long>(checked_image.size));
            image.clear();
            image.shrink_to_fit();
            return 0;
        }
    }
    // Pages are sent whole: a partial last page (a boot image may end anywhere) is filled up
    // as erased flash, so its bytes are sent and not silently left out.
    // (The size bound of the read keeps this far below 4 GiB.)
    const uint64_t whole = pages_rounded_up(image.size()) * PAGE_SIZE;
    if (read.failed_at == FileStage::ok) {
        image.resize(size_t(whole), layout::ERASED_BYTE);
        return uint32_t(image.size());
    }

    image.clear();
    image.shrink_to_fit();
    char text[PATH_CHARS + 32];
    switch (read.failed_at) {
        case FileStage::too_large:  // grew past any valid image since its check
        case FileStage::size:
            std::snprintf(text, sizeof text, "GetFileSize : %s", name.c_str());
            break;
        case FileStage::open:
            std::snprintf(text, sizeof text, "CreateFile : %s", name.c_str());
            break;
        case FileStage::alloc:
            std::snprintf(text, sizeof text, "VirtualAlloc FAILED !");
            break;
        default:
            std::snprintf(text, sizeof text, "ReadFile : %s", name.c_str());
            break;
    }
    platform.errors.set_last_error(read.error);
    flash_last_error_msg(text);
    return 0;
}

}  // namespace vx
