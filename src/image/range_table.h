// Which flash pages one transfer step sends, and from which image page: a row per
// combination of send-mode bits, a cell per printer model. Pure: set_BeginEndPage applies
// the result to the flash context and traces it.
#pragma once

#include <cstdint>

#include "image/image_check.h"

namespace vx {

// The rows in the order they are tried; the first whose bits are all set applies.
enum class RangeRow : uint8_t {
    boot,
    fw_fpga_cg,
    fw_fpga,
    fpga_cg,
    fw_cg,
    fw,
    fw_first_page,
    cg,
    fpga,
    none,  // the flags select no row
};

enum class RangeStatus : uint8_t {
    range,       // begin, end and offset below
    boot_check,  // the range the boot check set stays in force
    no_range,    // the row has no range for this model: nothing must be sent
    no_row,      // the flags select nothing to send
};

// Section fields a row sets to 0.
enum : uint8_t { CLEARS_FW = 0x01, CLEARS_FPGA = 0x02, CLEARS_CG = 0x04 };

struct PageRange {
    RangeRow row = RangeRow::none;
    RangeStatus status = RangeStatus::no_row;
    uint32_t begin_page = 0, end_page = 0, offset_page = 0;
    uint8_t clears = 0;  // CLEARS_* bits
    // The section claimed to start below the image's first flash page: the range starts at
    // that page instead, from image page 0.
    bool start_moved = false;
    uint16_t claimed_start = 0;
};

// `flags`: send-mode bits of the step; `sections`: the pages the image checks found.
PageRange select_page_range(int model, uint16_t flags, const SectionPages& sections);

}  // namespace vx
