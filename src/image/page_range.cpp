// set_BeginEndPage: which flash pages one transfer step sends, and from which image page;
// load_file2send: the whole image in memory for the transfer.
#include <cstdio>
#include <string>

#include "app/cls_flash.h"
#include "image/image_format.h"

namespace vx {

namespace {

bool has_all(uint16_t flags, uint16_t bits) {
    return (flags & bits) == bits;
}

void clear_fw(Cls_flash& f) {
    f.start_fw = f.end_fw = 0;
}
void clear_fpga(Cls_flash& f) {
    f.start_FPGA = f.end_FPGA = 0;
}
void clear_cg(Cls_flash& f) {
    f.start_cg = f.end_cg = 0;
}

// Images of models 3 to 6 hold flash page 4 upward, so a section is read from image page
// start - 4. A section claimed to start below page 4 has nothing in the image for those
// pages: send from page 4 (image page 0) rather than index before the image.
void from_section(Cls_flash& f, uint16_t start) {
    if (start >= layout::IMAGE_FIRST_FLASH_PAGE) {
        f.begin_page = start;
        f.offset_page = start - layout::IMAGE_FIRST_FLASH_PAGE;
        return;
    }
    f.trace_line(
        "[FLASH][set_BeginEndPage] Section start page=%d is before the image, begin page "
        "moved to %d\n",
        int(start), int(layout::IMAGE_FIRST_FLASH_PAGE));
    f.begin_page = layout::IMAGE_FIRST_FLASH_PAGE;
    f.offset_page = 0;
}

// Whole-flash images (models 1 and 2): image page n is flash page n.
void fixed(Cls_flash& f, uint32_t begin, uint32_t end) {
    f.begin_page = begin;
    f.end_page = end;
    f.offset_page = begin;
}

}  // namespace

static void apply_range_rows_impl(Cls_flash& self, uint16_t flags);
static void apply_range_rows(Cls_flash& self, uint16_t flags) { apply_range_rows_impl(self, flags); }

int Cls_flash::set_BeginEndPage(uint16_t flags) {
    apply_range_rows(*this, flags);
    return 1;
}

static void apply_range_rows_impl(Cls_flash& self, uint16_t flags) {
    self.set_BeginEndPage_old(flags);
}

void Cls_flash::set_BeginEndPage_old(uint16_t flags) {
    const int model = printer_model;
    const char* line = nullptr;

    if (flags & SEND_BOOT) {
        if (model == VX3PLUS_MODEL) {
            fixed(*this, 0, 15);
        } else if (model == KD5_ADF_L2_MODEL) {
            begin_page = 0;
            end_page = end_fw;
            offset_page = 0;
            clear_fpga(*this);
            clear_cg(*this);
        }
        line =
            "[FLASH][set_BeginEndPage] SEND_BOOT file begin page=%d file end page=%d file "
            "offset page=%d\n";
    } else if (has_all(flags, SEND_FW | SEND_FPGA | SEND_CG)) {
        begin_page = start_fw;
        end_page = end_cg;
        offset_page = 0;
        line =
            "[FLASH][set_BeginEndPage] SEND FW+FPGA+CG file begin page=%d file end page=%d "
            "file offset page=%d\n";
    } else if (has_all(flags, SEND_FW | SEND_FPGA)) {
        begin_page = start_fw;
        end_page = end_FPGA;
        offset_page = 0;
        clear_cg(*this);
        line =
            "[FLASH][set_BeginEndPage] SEND FW+FPGA - file begin page=%d file end page=%d "
            "file offset page=%d\n";
    } else if (has_all(flags, SEND_FPGA | SEND_CG)) {
        from_section(*this, start_FPGA);
        end_page = end_cg;
        clear_fw(*this);
        line =
            "[FLASH][set_BeginEndPage] SEND FPGA+CG - file begin page=%d file end page=%d "
            "file offset page=%d\n";
    } else if (has_all(flags, SEND_FW | SEND_CG)) {
        switch (model) {
            case VX3E_MODE:
                fixed(*this, 0, 63);
                break;
            case VX3PLUS_MODEL:
                // No check sets start_fw for this model; its firmware starts at page 16 (as
                // for SEND_FW) and the whole-flash image runs on to the end of the CG.
                fixed(*this, 16, end_cg);
                break;
            case VX3PLUS_CR_MODEL:
            case VX3PLUS_SC_MODEL:
                from_section(*this, start_fw);
                end_page = end_cg;
                break;
            case KD5_ADF_L2_MODEL:
                begin_page = start_fw;
                end_page = end_cg;
                offset_page = 0;
                break;
            default:
                break;
        }
        line =
            "[FLASH][set_BeginEndPage] SEND_FW+CG - file begin page=%d file end page=%d file "
            "offset page=%d\n";
    } else if (flags & SEND_FW) {
        switch (model) {
            case VX3E_MODE:
                fixed(*this, 0, (flags & KEEP_SETTINGS) ? 25 : 31);
                break;
            case VX3PLUS_MODEL:
                fixed(*this, 16, 55);
                break;
            case VX3PLUS_CR_MODEL:
            case VX3PLUS_SC_MODEL:
            case KD5_ADF_L1_MODEL:
                from_section(*this, start_fw);
                end_page = end_fw;
                break;
            case KD5_ADF_L2_MODEL:
                begin_page = start_fw;
                end_page = end_fw;
                offset_page = 0;
                clear_fpga(*this);
                clear_cg(*this);
                break;
            default:
                break;
        }
        line =
            "[FLASH][set_BeginEndPage] SEND_FW - file begin page=%d file end page=%d file "
            "offset page=%d\n";
    } else if (flags & SEND_FW_1STPAGE) {
        begin_page = 0;
        end_page = 1;
        offset_page = 0;
        line =
            "[FLASH][set_BeginEndPage] SEND_FW_1STPAGE beginpage=%d endpage=%d "
            "fileoffsetpage=%d\n";
    } else if (flags & SEND_CG) {
        switch (model) {
            case VX3E_MODE:
                fixed(*this, 32, 63);
                break;
            case VX3PLUS_MODEL:
                fixed(*this, 64, end_cg);
                break;
            case VX3PLUS_CR_MODEL:
            case VX3PLUS_SC_MODEL:
            case KD5_ADF_L1_MODEL:
                from_section(*this, start_cg);
                end_page = end_cg;
                break;
            case KD5_ADF_L2_MODEL:
                from_section(*this, start_cg);
                end_page = end_cg;
                clear_fw(*this);
                clear_fpga(*this);
                break;
            default:
                break;
        }
        line =
            "[FLASH][set_BeginEndPage] SEND CG - file begin page=%d file end page=%d file "
            "offset page=%d\n";
    } else if (flags & SEND_FPGA) {
        from_section(*this, start_FPGA);
        end_page = end_FPGA;
        clear_fw(*this);
        clear_cg(*this);
        line =
            "[FLASH][set_BeginEndPage] SEND FPGA - file begin page=%d file end page=%d file "
            "offset page=%d\n";
    }
    if (line)
        trace_line(line, int(begin_page), int(end_page), int(offset_page));
}

uint32_t Cls_flash::load_file2send(const char* file_name, std::vector<uint8_t>& image) {
    image.clear();
    const std::string name = bounded_text(file_name ? file_name : "", PATH_CHARS);
    trace_line("[FLASH][load_file2send] Firmware FileName = %s\n", name.c_str());
    const FileReadResult read = platform.files.read_whole(name, image);
    // A file too large for a 32-bit size cannot be sent; report it as a size failure.
    const bool too_large = read.failed_at == FileStage::ok && image.size() > UINT32_MAX;
    if (read.failed_at == FileStage::ok && !too_large)
        return uint32_t(image.size());

    image.clear();
    image.shrink_to_fit();
    char text[PATH_CHARS + 32];
    switch (too_large ? FileStage::size : read.failed_at) {
        case FileStage::open:
            std::snprintf(text, sizeof text, "CreateFile : %s", name.c_str());
            break;
        case FileStage::size:
            std::snprintf(text, sizeof text, "GetFileSize : %s", name.c_str());
            break;
        case FileStage::alloc:
            std::snprintf(text, sizeof text, "VirtualAlloc FAILED !");
            break;
        default:
            std::snprintf(text, sizeof text, "ReadFile : %s", name.c_str());
            break;
    }
    if (!too_large)
        platform.errors.set_last_error(read.error);
    flash_last_error_msg(text);
    return 0;
}

}  // namespace vx
