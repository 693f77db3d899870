// The in-memory halves of CheckFwFile and CheckBootFile. They write the same trace lines and
// fields as the file checks and also say, as a value, why an image was refused, so tools and
// tests need not parse the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace vx {

class Cls_flash;

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

struct CheckOutcome {
    ImageFault fault = ImageFault::none;
    uint32_t computed = 0;  // crc_value: computed checksum
    uint32_t stored = 0;    // crc_value: stored checksum
    uint32_t count = 0;     // trailer_count: trailers found; too_short: bytes needed
};

// Checks `size` bytes of a firmware image for flash.printer_model; 1 when valid.
int check_fw_image(Cls_flash& flash, const uint8_t* data, size_t size,
                   CheckOutcome* outcome = nullptr);
// Checks `size` bytes of a boot image for flash.printer_model; 1 when valid.
int check_boot_image(Cls_flash& flash, const uint8_t* data, size_t size,
                     CheckOutcome* outcome = nullptr);

// Reads a whole image file for CheckFwFile / CheckBootFile (`operation` names the check in the
// trace). A failure after the open is traced here; a failed open is left to the caller, whose
// reports differ. Returns the stage that failed.
FileReadResult read_image_file(Cls_flash& flash, const char* operation, const std::string& name,
                               std::vector<uint8_t>& image);

}  // namespace vx
