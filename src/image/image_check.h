// Firmware and boot image checks over bytes: the layout an image gives a printer model, or
// why the model refuses it. No context, no trace, no file: CheckFwFile and CheckBootFile
// read the file and write the trace around these, and vximage links nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx {

enum class ImageFault {
    none,
    empty_file,       // size 0
    size_not_pages,   // firmware size is not a multiple of 16384
    unknown_model,    // printer_model has no image of this kind
    too_short,        // the file ends before what the model's check reads
    missing_tag,      // models 1 and 2: the tag text is not where it belongs
    crc_text,         // no "CRC:" in the trailer
    crc_value,        // stored checksum differs from the computed one
    tag,              // tagged image: wrong tag or no zero byte after it
    table,            // "SECTION TBL:" missing
    section_strings,  // "FW i: "/"FW e: " or "Boot i: "/"Boot e: " missing
    gc_string,        // "GC i: " missing
    trailer_count,    // model 6: not exactly three trailers
};

// Why an image was refused, with the numbers its trace line needs.
struct CheckOutcome {
    ImageFault fault = ImageFault::none;
    uint16_t computed = 0;  // crc_value: computed checksum
    uint16_t stored = 0;    // crc_value: stored checksum
    uint32_t count = 0;     // trailer_count: trailers found; too_short: bytes needed
};

// First and last flash page of each section, 16 bits wide as the flash context keeps them.
struct SectionPages {
    uint16_t start_fw = 0, end_fw = 0;
    uint16_t start_FPGA = 0, end_FPGA = 0;
    uint16_t start_cg = 0, end_cg = 0;
};

// Section fields an image gives; the others keep whatever they held.
enum : uint8_t {
    GIVES_START_FW = 0x01,
    GIVES_END_FW = 0x02,
    GIVES_START_FPGA = 0x04,
    GIVES_END_FPGA = 0x08,
    GIVES_START_CG = 0x10,
    GIVES_END_CG = 0x20,
};

struct FwLayout {
    CheckOutcome outcome;
    // Set once the size is accepted (not for empty_file and size_not_pages).
    uint32_t pages = 0;     // the file's pages
    uint32_t max_page = 0;  // highest end page the header may announce
    SectionPages sections;
    uint8_t gives = 0;  // GIVES_* bits; a gc_string refusal still gives the firmware pages
    // Models 3 and 4: the section table's flash addresses.
    uint32_t fw_start_address = 0, fw_end_address = 0, cg_start_address = 0;
    // Model 6: offset just past each section's trailer.
    uint32_t trailer_end[3] = {};
};

struct BootLayout {
    CheckOutcome outcome;
    // Set unless the file is empty. A partial last page counts as a whole one: it is sent
    // filled up with erased bytes, so the header and trailer in it reach the printer.
    uint32_t pages = 0;
    uint32_t max_page = 0;
    // Set once the model's header is checked; byte 8 stays 0.
    char text_a[9] = {};
    char text_b[9] = {};
    // Models 3 to 6: the boot addresses (models 5 and 6: their low 16 bits), their pages and
    // the range the image is sent to: flash pages begin_page to last_page, from image page
    // offset_page.
    uint32_t start_address = 0, end_address = 0;
    uint16_t start_page = 0, end_page = 0;
    bool gives_range = false;
    uint32_t begin_page = 0, last_page = 0, offset_page = 0;
    // Model 6: the firmware section fields are the boot range too.
    bool gives_fw = false;
    uint16_t start_fw = 0, end_fw = 0;
};

// Firmware image of `size` bytes for printer model `model`. Model 5's firmware range is the
// fixed one; a free-pages run puts the flash.ini range in its place.
FwLayout check_fw_image(const uint8_t* data, size_t size, int model);

// Boot image of `size` bytes for printer model `model`. Model 2's range is fixed by the page
// range rows, not by the image.
BootLayout check_boot_image(const uint8_t* data, size_t size, int model);

}  // namespace vx
