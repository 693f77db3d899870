#include "image_info.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "image/image_check.h"
#include "image/image_format.h"
#include "image/image_refusal.h"

namespace vximage {

namespace L = vx::layout;

namespace {

using vx::format_numbers;
using vx::model_name;

std::string range(const char* name, long long first, long long last) {
    return std::string(name) + format_numbers(" pages %lld-%lld", first, last);
}

std::string fw_sections(const vx::FwLayout& f, int model) {
    const vx::SectionPages& s = f.sections;
    switch (model) {
        case 1:
            return format_numbers("whole flash image, flash pages 0-%lld (FW 0-31, CG 32-63)",
                                  f.pages - 1LL);
        case 2:
            return format_numbers("whole flash image, flash pages 0-%lld (FW 16-55, CG 64-%lld)",
                                  f.pages - 1LL, s.end_cg);
        case 3:
        case 4:
            return range("FW", s.start_fw, s.end_fw) + ", " + range("CG", s.start_cg, s.end_cg) +
                   format_numbers(", highest end page %lld", f.max_page);
        case 5:
            return format_numbers(
                "image holds flash pages 4-%lld; fixed ranges FW 4-155, CG 160-36; "
                "highest end page %lld",
                f.pages + 3LL, f.max_page);
        default:
            return range("FW", s.start_fw, s.end_fw) + ", " +
                   range("FPGA", s.start_FPGA, s.end_FPGA) + ", " +
                   range("CG", s.start_cg, s.end_cg) +
                   format_numbers(", highest end page %lld", f.max_page);
    }
}

std::string boot_sections(const vx::BootLayout& b, int model) {
    std::string texts = std::string("texts \"") + vx::bounded_text(b.text_a, 8) + "\" \"" +
                        vx::bounded_text(b.text_b, 8) + "\"";
    if (model == 2)
        return "boot pages 0-15 (fixed), " + texts;
    return range("boot", b.begin_page, b.last_page) +
           format_numbers(" from image page %lld, highest end page %lld, ", b.offset_page,
                          b.max_page) +
           texts;
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
                r.detail = r.valid ? boot_sections(layout, m)
                                   : vx::describe_refusal(r.outcome, r.model, r.boot, bytes.size());
            } else {
                const vx::FwLayout layout = vx::check_fw_image(bytes.data(), bytes.size(), m);
                r.outcome = layout.outcome;
                r.valid = r.outcome.fault == vx::ImageFault::none;
                r.detail = r.valid ? fw_sections(layout, m)
                                   : vx::describe_refusal(r.outcome, r.model, r.boot, bytes.size());
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
