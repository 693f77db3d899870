// Which flash pages one transfer step sends, and from which image page; the whole image in
// memory for the transfer. The trace keeps the tags it has always had.
#include <cstdio>
#include <string>

#include "image/constants.h"
#include "image/image_format.h"
#include "image/range_table.h"
#include "session/traced_checks.h"

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

bool set_transfer_range(DownloadSession& s, Reporter& report, uint16_t flags) {
    const SectionPages sections{s.start_fw, s.end_fw,   s.start_FPGA,
                                s.end_FPGA, s.start_cg, s.end_cg};
    const PageRange r = select_page_range(s.printer_model, flags, sections);
    switch (r.status) {
        case RangeStatus::no_row:
            return false;  // nothing selected: nothing to trace
        case RangeStatus::no_range:
            report.trace_line(
                "[FLASH][set_BeginEndPage] No page range for model %d and send mode 0x%x !\n",
                s.printer_model, unsigned(flags));
            return false;
        case RangeStatus::boot_check:
            break;
        case RangeStatus::range:
            if (r.start_moved) {
                report.trace_line(
                    "[FLASH][set_BeginEndPage] Section start page=%d is before the image, begin "
                    "page moved to %d\n",
                    int(r.claimed_start), int(r.begin_page));
            }
            s.begin_page = r.begin_page;
            s.end_page = r.end_page;
            s.offset_page = r.offset_page;
            if (r.clears & CLEARS_FW)
                s.start_fw = s.end_fw = 0;
            if (r.clears & CLEARS_FPGA)
                s.start_FPGA = s.end_FPGA = 0;
            if (r.clears & CLEARS_CG)
                s.start_cg = s.end_cg = 0;
            break;
    }
    report.trace_line(row_line(r.row), int(s.begin_page), int(s.end_page), int(s.offset_page));
    return true;
}

void remember_checked_image(DownloadSession& s, const std::string& name,
                            const std::vector<uint8_t>& bytes) {
    s.checked_image.valid = true;
    s.checked_image.name = name;
    s.checked_image.size = bytes.size();
    s.checked_image.digest = image_digest(bytes.data(), bytes.size());
}

uint32_t load_image_for_transfer(const DownloadSession& s, Reporter& report, FileSystem& files,
                                 const char* file_name, std::vector<uint8_t>& image) {
    const CheckedImage& checked_image = s.checked_image;
    image.clear();
    const std::string name = bounded_text(file_name ? file_name : "", PATH_CHARS);
    report.trace_line("[FLASH][load_file2send] Firmware FileName = %s\n", name.c_str());
    const FileReadResult read =
        files.read_whole(name, image, layout::max_image_size(s.printer_model));
    if (read.failed_at == FileStage::ok && checked_image.valid) {
        const uint64_t digest = image_digest(image.data(), image.size());
        if (name != checked_image.name || image.size() != checked_image.size ||
            digest != checked_image.digest) {
            report.trace_line(
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
    report.error_msg(text, read.error);
    return 0;
}

}  // namespace vx
