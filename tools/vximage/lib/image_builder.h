// Builds firmware and boot images for every printer model, valid or broken on purpose, from
// the same layout the program checks against.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vximage {

enum class Kind { fw, boot };

enum class Breakage {
    none,
    crc,            // stored checksum differs from the computed one
    tag,            // tag text altered (models 1-4 firmware, every boot image)
    size,           // firmware one byte longer than whole pages
    trailer,        // final trailer text removed (model 6: the firmware section's trailer)
    extra_trailer,  // model 6 firmware: a fourth "  CRC:"
    short_file,     // boot: one byte short of its header; model-2 firmware: 16 pages
    table,          // "SECTION TBL:" altered
    strings,        // "FW i: " / "Boot i: " altered
    gc,             // "GC i: " altered (models 3 and 4 firmware)
};

struct ImageRecipe {
    int model = 0;
    Kind kind = Kind::fw;
    uint32_t pages = 0;  // 0: the model's default
    // Flash byte addresses. Firmware of models 3 and 4: first and last firmware byte and the
    // first CG byte, as written in the section table. Firmware of model 6: the last byte of
    // the firmware and of the FPGA section (each section ends with its trailer). Boot images
    // of models 3 to 6: first and last boot byte.
    std::optional<uint32_t> fw_start, fw_end, cg_start, fpga_end, boot_start, boot_end;
    uint64_t seed = 1;
    Breakage breakage = Breakage::none;
    std::string text_a = "TEXT-A";  // boot identification texts, at most 8 characters
    std::string text_b = "TEXT-B";
};

// Builds the image into `out`; returns an empty string, or why the recipe cannot be built.
std::string build_image(const ImageRecipe& recipe, std::vector<uint8_t>& out);

uint32_t default_pages(int model, Kind kind);

// The bytes every image starts from: a pseudo-random stream fixed by the seed, so a test
// can compare pages received with pages of the file.
void fill_pseudo_random(std::vector<uint8_t>& bytes, uint64_t seed);

bool parse_breakage(const std::string& name, Breakage& out);
const char* breakage_name(Breakage value);
const char* breakage_names();  // for the help text

}  // namespace vximage
