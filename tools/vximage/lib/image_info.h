// `vximage info`: runs the program's own image checks (over bytes; no flash context) on a
// file for every model and says, in plain words, what the file is.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "image/image_check.h"

namespace vximage {

struct ModelResult {
    int model = 0;
    bool boot = false;
    bool valid = false;
    vx::CheckOutcome outcome;
    std::string detail;  // the sections when valid, the reason otherwise
};

// Checks the bytes as firmware and as boot image for `model` (1..6), or every model for 0.
std::vector<ModelResult> check_all(const std::vector<uint8_t>& bytes, int model);

// Prints the report; returns the exit code: 0 when valid for `model` (for some model when 0).
int run_info(const std::string& path, int model, std::ostream& out);

}  // namespace vximage
