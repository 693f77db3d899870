// The traced halves of CheckFwFile and CheckBootFile: they run the checks over bytes already
// read, write the trace lines and set the flash context's fields from the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace vx {

class Cls_flash;

// Checks `size` bytes of a firmware image for flash.printer_model; 1 when valid.
int apply_fw_image(Cls_flash& flash, const uint8_t* data, size_t size);
// Checks `size` bytes of a boot image for flash.printer_model; 1 when valid.
int apply_boot_image(Cls_flash& flash, const uint8_t* data, size_t size);

// The trace line of Cls_flash::_4ByteToPage for an address of an image header.
void trace_page(Cls_flash& flash, uint32_t address);

// Reads a whole image file for CheckFwFile / CheckBootFile (`operation` names the check in the
// trace). A failure after the open is traced here; a failed open is left to the caller, whose
// reports differ. Returns the stage that failed.
FileReadResult read_image_file(Cls_flash& flash, const char* operation, const std::string& name,
                               std::vector<uint8_t>& image);

}  // namespace vx
