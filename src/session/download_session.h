// What one download learns and decides on its way: the printer's model, the image's
// sections and the flash pages a step sends, and the image file as its check saw it. The
// procedure owns it; the checks fill it in and the transfer reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "report/reporter.h"

namespace vx {

// The file as the last successful check saw it. The transfer reads the file again and sends
// it only when it still holds those bytes: a file replaced after its check is never sent
// unchecked.
struct CheckedImage {
    bool valid = false;
    std::string name;
    uint64_t size = 0;
    uint64_t digest = 0;
};

struct DownloadSession {
    int printer_model = 0;
    // The printer answered the download command or announced itself.
    bool in_download_mode = false;
    // It announced itself before the command was sent.
    bool printer_announced = false;
    // First and last flash page of each section, as the image check found them.
    uint16_t start_fw = 0, end_fw = 0, start_FPGA = 0, end_FPGA = 0, start_cg = 0, end_cg = 0;
    // The step being sent: flash pages begin_page to end_page, from image page offset_page;
    // max_page is the highest end page the header may announce.
    uint32_t begin_page = 0, end_page = 0, offset_page = 0, max_page = 0;
    // Identification texts of a boot image; byte 8 always stays 0 so they print safely.
    char boot_text_a[9] = {};
    char boot_text_b[9] = {};
    CheckedImage checked_image;
};

// Reads and checks the firmware image for the session's model; true when valid. A
// free-pages run (`send_mode` SEND_FREE) keeps its own range for model 5.
bool check_firmware_file(DownloadSession& s, Reporter& report, FileSystem& files,
                         const char* file_name, uint16_t send_mode);
// Reads and checks a boot image for the session's model; true when valid.
bool check_boot_file(DownloadSession& s, Reporter& report, FileSystem& files,
                     const char* file_name);

// Sets the pages of one transfer step from the section flags (SEND_* bits); false when the
// flags give no range for this model (nothing to send).
bool set_transfer_range(DownloadSession& s, Reporter& report, uint16_t flags);

// Reads the whole image, a partial last page filled up with 0xFF; returns the size handed
// over (whole pages), 0 on failure (reported here). The file must still be the one checked.
uint32_t load_image_for_transfer(const DownloadSession& s, Reporter& report, FileSystem& files,
                                 const char* file_name, std::vector<uint8_t>& image);

}  // namespace vx
