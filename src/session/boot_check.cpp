// CheckBootFile: reads the boot image, checks it for the detected model and keeps its
// identification texts and, for models 3 to 6, the range it is sent to.
#include <cstring>
#include <string>
#include <vector>

#include "image/constants.h"
#include "image/image_check.h"
#include "image/image_format.h"
#include "session/traced_checks.h"

namespace vx {

namespace {

const char* refusal_line(ImageFault fault) {
    switch (fault) {
        case ImageFault::unknown_model:
            return "[FLASH][CheckBootFile] UNKNOWN Printer model \n";
        case ImageFault::crc_text:
            return "[FLASH][CheckBootFile] Invalid file CRC str !\n";
        case ImageFault::tag:
            return "[FLASH][CheckBootFile] Invalid boot TAG \n";
        case ImageFault::table:
            return "[FLASH][CheckBootFile] Invalid Table \n";
        case ImageFault::section_strings:
            return "[FLASH][CheckBootFile] Invalid boot str \n";
        default:
            return nullptr;
    }
}

}  // namespace

int apply_boot_image(DownloadSession& s, Reporter& report, const uint8_t* data, size_t size) {
    const BootLayout r = check_boot_image(data, size, s.printer_model);
    const ImageFault fault = r.outcome.fault;
    if (fault == ImageFault::empty_file) {
        report.trace_line("[FLASH][CheckBootFile] Error dw_file_size = %d\n", 0);
        return 0;
    }
    s.max_page = r.pages;
    std::memset(s.boot_text_a, 0, sizeof s.boot_text_a);
    std::memset(s.boot_text_b, 0, sizeof s.boot_text_b);
    if (const char* line = refusal_line(fault)) {
        report.trace_line("%s", line);
        return 0;
    }
    switch (fault) {
        case ImageFault::too_short:
            report.trace_line(
                "[FLASH][CheckBootFile] File too short for boot header ! size=%d need=%d\n",
                int(size), int(r.outcome.count));
            return 0;
        case ImageFault::crc_value:
            report.trace_line("[FLASH][CheckBootFile] Invalid CRC (%d %d)\n",
                              int(r.outcome.computed), int(r.outcome.stored));
            return 0;
        case ImageFault::missing_tag:
            return 0;
        default:
            break;
    }
    static_assert(sizeof s.boot_text_a == sizeof r.text_a);
    std::memcpy(s.boot_text_a, r.text_a, sizeof s.boot_text_a);
    std::memcpy(s.boot_text_b, r.text_b, sizeof s.boot_text_b);
    if (!r.gives_range)
        return 1;  // model 2: the page range rows fix its range

    trace_page(report, r.start_address);  // the pages come from the layout
    trace_page(report, r.end_address);
    if (r.gives_fw) {
        s.start_fw = r.start_fw;
        s.end_fw = r.end_fw;
        report.trace_line("[FLASH][CheckBootFile] begin_page=%d endpage=%d \n", int(r.begin_page),
                          int(r.last_page));
    } else {
        s.max_page = r.max_page;
        report.trace_line("[FLASH][CheckBootFile] begin_page=%d endpage=%d offsetpage=%d\n",
                          int(r.begin_page), int(r.last_page), int(r.offset_page));
    }
    s.begin_page = r.begin_page;
    s.offset_page = r.offset_page;
    s.end_page = r.last_page;
    return 1;
}

bool check_boot_file(DownloadSession& s, Reporter& report, FileSystem& files,
                     const char* file_name) {
    const std::string name = bounded_text(file_name, PATH_CHARS);
    report.trace_line("[FLASH][CheckBootFile] Boot FileName = %s\n", name.c_str());
    s.checked_image = {};
    std::vector<uint8_t> image;
    const FileReadResult read = read_image_file(s, report, files, "CheckBootFile", name, image);
    if (read.failed_at == FileStage::open) {
        report.trace_line("[FLASH][CheckBootFile] Cannot open file = %s\n", name.c_str());
    }
    if (read.failed_at != FileStage::ok) {
        return false;
    }
    const bool ok = apply_boot_image(s, report, image.data(), image.size()) != 0;
    if (ok)
        remember_checked_image(s, name, image);
    return ok;
}

}  // namespace vx
