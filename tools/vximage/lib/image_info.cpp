#include "image_info.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "image/image_check.h"
#include "image/image_format.h"

namespace vximage {

namespace L = vx::layout;

namespace {

const char* model_name(int model) {
    static const char* names[] = {"?",
                                  "VX3E_MODE",
                                  "VX3PLUS_MODEL",
                                  "VX3PLUS_CR_MODEL",
                                  "VX3PLUS_SC_MODEL",
                                  "KD5_ADF_L1_MODEL",
                                  "KD5_ADF_L2_MODEL"};
    return model >= 1 && model <= 6 ? names[model] : names[0];
}

// Every format here takes only %lld conversions, at most two.
std::string format(const char* fmt, long long a = 0, long long b = 0) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

std::string range(const char* name, long long first, long long last) {
    return std::string(name) + format(" pages %lld-%lld", first, last);
}

std::string fw_sections(const vx::FwLayout& f, int model) {
    const vx::SectionPages& s = f.sections;
    switch (model) {
        case 1:
            return format("whole flash image, flash pages 0-%lld (FW 0-31, CG 32-63)",
                          f.pages - 1LL);
        case 2:
            return format("whole flash image, flash pages 0-%lld (FW 16-55, CG 64-%lld)",
                          f.pages - 1LL, s.end_cg);
        case 3:
        case 4:
            return range("FW", s.start_fw, s.end_fw) + ", " + range("CG", s.start_cg, s.end_cg) +
                   format(", highest end page %lld", f.max_page);
        case 5:
            return format(
                "image holds flash pages 4-%lld; fixed ranges FW 4-155, CG 160-36; "
                "highest end page %lld",
                f.pages + 3LL, f.max_page);
        default:
            return range("FW", s.start_fw, s.end_fw) + ", " +
                   range("FPGA", s.start_FPGA, s.end_FPGA) + ", " +
                   range("CG", s.start_cg, s.end_cg) +
                   format(", highest end page %lld", f.max_page);
    }
}

std::string boot_sections(const vx::BootLayout& b, int model) {
    std::string texts = std::string("texts \"") + vx::bounded_text(b.text_a, 8) + "\" \"" +
                        vx::bounded_text(b.text_b, 8) + "\"";
    if (model == 2)
        return "boot pages 0-15 (fixed), " + texts;
    return range("boot", b.begin_page, b.last_page) +
           format(" from image page %lld, highest end page %lld, ", b.offset_page, b.max_page) +
           texts;
}

std::string reason(const ModelResult& r, size_t size) {
    const vx::CheckOutcome& o = r.outcome;
    const bool adf = r.model >= 5;
    switch (o.fault) {
        case vx::ImageFault::none:
            return "valid";
        case vx::ImageFault::empty_file:
            return "the file is empty";
        case vx::ImageFault::size_not_pages:
            return format("its size, %lld bytes, is not a whole number of 16384-byte pages",
                          (long long)size);
        case vx::ImageFault::unknown_model:
            return r.boot ? "there are no boot images for this model" : "unknown printer model";
        case vx::ImageFault::too_short:
            if (!r.boot) {
                return format(
                    "the file has %lld pages; the tag lies in page 16, so at least 17 "
                    "pages are needed",
                    (long long)(size / 16384));
            }
            return format("the file has %lld bytes; the boot header needs at least %lld",
                          (long long)size, o.count) +
                   format(" (0x%llX)", o.count);
        case vx::ImageFault::missing_tag:
            if (r.boot)
                return "bytes 0xFF00-0xFF0C do not hold \"BOOT_VX3EPLUS\"";
            return r.model == 1 ? "bytes 0x70-0x74 do not hold \"FLASH\""
                                : "bytes 0x40000-0x4000A do not hold \"FW_VX3EPLUS\"";
        case vx::ImageFault::crc_text:
            return r.boot && adf ? "no checksum trailer: bytes 0xFFC8-0xFFCF hold no \"CRC:\""
                                 : "no checksum trailer: the last 8 bytes hold no \"CRC:\"";
        case vx::ImageFault::crc_value:
            return format("checksum mismatch: computed 0x%04llX, stored 0x%04llX", o.computed,
                          o.stored);
        case vx::ImageFault::tag:
            if (r.boot) {
                return std::string("the boot header at 0xFF00 does not start with \"") +
                       L::boot_tag(r.model) + "\" and a zero byte";
            }
            return std::string("the file does not start with the tag \"") + L::fw_tag(r.model) +
                   "\" and a zero byte";
        case vx::ImageFault::table:
            return r.boot ? "\"SECTION TBL:\" is missing at byte 0xFF30"
                          : "\"SECTION TBL:\" is missing at byte 40";
        case vx::ImageFault::section_strings:
            return r.boot ? "\"Boot i: \" at 0xFF40 or \"Boot e: \" at 0xFF4C is missing"
                          : "\"FW i: \" at byte 56 or \"FW e: \" at byte 66 is missing";
        case vx::ImageFault::gc_string:
            return "\"GC i: \" is missing at byte 76";
        case vx::ImageFault::trailer_count:
            return format("it holds %lld \"  CRC:\" trailers; a model-6 image has exactly 3",
                          o.count);
    }
    return "not valid";
}

void checksum_line(std::ostream& out, const std::vector<uint8_t>& bytes, size_t trailer,
                   const char* where) {
    out << "checksum " << where << ": ";
    if (!vx::trailer_has_crc_text(bytes.data() + trailer)) {
        out << "no \"CRC:\" trailer\n";
        return;
    }
    const size_t covered = trailer + L::TRAILER_SIZE - 2;
    const unsigned stored = vx::read_be16(bytes.data() + covered);
    const unsigned computed = vx::file_checksum(bytes.data(), covered);
    char text[96];
    std::snprintf(text, sizeof text, "stored 0x%04X, computed 0x%04X (%s)\n", stored, computed,
                  stored == computed ? "match" : "MISMATCH");
    out << text;
}

}  // namespace

std::vector<ModelResult> check_all(const std::vector<uint8_t>& bytes, int model) {
    std::vector<ModelResult> results;
    for (int boot = 0; boot <= 1; ++boot) {
        for (int m = 1; m <= 6; ++m) {
            if (model != 0 && m != model)
                continue;
            ModelResult r;
            r.model = m;
            r.boot = boot != 0;
            if (boot) {
                const vx::BootLayout layout = vx::check_boot_image(bytes.data(), bytes.size(), m);
                r.outcome = layout.outcome;
                r.valid = r.outcome.fault == vx::ImageFault::none;
                r.detail = r.valid ? boot_sections(layout, m) : reason(r, bytes.size());
            } else {
                const vx::FwLayout layout = vx::check_fw_image(bytes.data(), bytes.size(), m);
                r.outcome = layout.outcome;
                r.valid = r.outcome.fault == vx::ImageFault::none;
                r.detail = r.valid ? fw_sections(layout, m) : reason(r, bytes.size());
            }
            results.push_back(std::move(r));
        }
    }
    return results;
}

int run_info(const std::string& path, int model, std::ostream& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        out << "vximage: cannot open " << path << "\n";
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) {
        out << "vximage: cannot read " << path << "\n";
        return 1;
    }
    out << path << ": " << bytes.size() << " bytes, " << bytes.size() / 16384 << " whole pages";
    if (bytes.size() % 16384)
        out << " and " << bytes.size() % 16384 << " bytes";
    out << "\n";
    if (bytes.size() >= L::TRAILER_SIZE) {
        checksum_line(out, bytes, bytes.size() - L::TRAILER_SIZE, "(last 8 bytes)");
    }
    if (bytes.size() >= L::BOOT56_MIN_SIZE) {
        checksum_line(out, bytes, L::BOOT56_TRAILER_OFFSET, "(boot trailer at 0xFFC8)");
    }
    out << "\"  CRC:\" trailers: " << vx::count_crc_trailers(bytes.data(), bytes.size()) << "\n";

    std::vector<ModelResult> results = check_all(bytes, model);
    std::string fw_models, boot_models;
    for (const ModelResult& r : results) {
        out << (r.boot ? "boot" : "firmware") << " model " << r.model << " (" << model_name(r.model)
            << "): " << (r.valid ? "valid; " : "NOT valid: ") << r.detail << "\n";
        if (r.valid) {
            std::string& list = r.boot ? boot_models : fw_models;
            list += (list.empty() ? "" : ", ") + std::to_string(r.model);
        }
    }
    out << "valid firmware for models: " << (fw_models.empty() ? "none" : fw_models) << "\n";
    out << "valid boot image for models: " << (boot_models.empty() ? "none" : boot_models) << "\n";
    return fw_models.empty() && boot_models.empty() ? 1 : 0;
}

}  // namespace vximage
