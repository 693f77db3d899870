// What a run sends for a printer model: the selections a model refuses, the FPGA the
// second-level ADF always takes with a full update, and the send-mode bits of each page-range
// choice. Shared by the flash procedure and the preflight check, so both plan alike.
#pragma once
#include <cstdint>
#include <vector>

#include "image/constants.h"

namespace vx {

// Trace line of a selection the model cannot take, null when it can. `after_boxes`: the
// refusals made once the main page's boxes may have replaced the selection.
const char* refused_selection(int model, uint16_t flags, bool after_boxes);

// The second-level ADF takes its FPGA with every full firmware update.
uint16_t with_implied_sections(int model, uint16_t flags);

// Model 1 keeping its settings: the firmware with a blank tag, the CG, then the first pages.
constexpr uint16_t THREE_STEP_FLAGS[3] = {SEND_FW | KEEP_SETTINGS, SEND_CG, SEND_FW_1STPAGE};

// The send-mode bits of each page-range choice of a run, in order, for flags that passed
// refused_selection and with_implied_sections. Empty when nothing is selected; a free-pages
// run makes no choice (its range is flash.ini's) and gives {SEND_FREE}.
std::vector<uint16_t> range_steps(int model, uint16_t flags);

}  // namespace vx
