// The traced halves of the firmware and boot file checks: they run the checks over bytes
// already read, write the trace lines and fill the session in from the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "session/download_session.h"

namespace vx {

// Checks `size` bytes of a firmware image for the session's model; 1 when valid.
int apply_fw_image(DownloadSession& s, Reporter& report, const uint8_t* data, size_t size,
                   uint16_t send_mode);
// Checks `size` bytes of a boot image for the session's model; 1 when valid.
int apply_boot_image(DownloadSession& s, Reporter& report, const uint8_t* data, size_t size);

// The flash page of a 4-byte big-endian address of an image header, traced.
uint16_t address_to_page(Reporter& report, const uint8_t bytes[4]);
// The same for an address already read.
void trace_page(Reporter& report, uint32_t address);

// Reads a whole image file for a check (`operation` names the check in the trace). A failure
// after the open is traced here; a failed open is left to the caller, whose reports differ.
// Returns the stage that failed.
FileReadResult read_image_file(const DownloadSession& s, Reporter& report, FileSystem& files,
                               const char* operation, const std::string& name,
                               std::vector<uint8_t>& image);

// Remembers the bytes a check accepted, for the transfer to compare against.
void remember_checked_image(DownloadSession& s, const std::string& name,
                            const std::vector<uint8_t>& bytes);

}  // namespace vx
