// Why an image check refused a file, in plain words, for vximage and the preflight check.
#pragma once

#include <cstddef>
#include <string>

#include "image/image_check.h"

namespace vx {

// The refusal of a firmware (boot false) or boot image of `size` bytes for `model`.
std::string describe_refusal(const CheckOutcome& outcome, int model, bool boot, size_t size);

// The name of a printer model, 1 to 6 ("VX3PLUS_CR_MODEL"); "?" for any other value.
const char* model_name(int model);

// `fmt` takes only %lld conversions, at most two.
std::string format_numbers(const char* fmt, long long a = 0, long long b = 0);

}  // namespace vx
