#include "image/image_refusal.h"

#include <cstdio>

#include "image/image_format.h"

namespace vx {

const char* model_name(int model) {
    static const char* const names[] = {"?",
                                        "VX3E_MODE",
                                        "VX3PLUS_MODEL",
                                        "VX3PLUS_CR_MODEL",
                                        "VX3PLUS_SC_MODEL",
                                        "KD5_ADF_L1_MODEL",
                                        "KD5_ADF_L2_MODEL"};
    return model >= 1 && model <= 6 ? names[model] : names[0];
}

std::string format_numbers(const char* fmt, long long a, long long b) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

std::string describe_refusal(const CheckOutcome& o, int model, bool boot, size_t size) {
    const bool adf = model >= 5;
    switch (o.fault) {
        case ImageFault::none:
            return "valid";
        case ImageFault::empty_file:
            return "the file is empty";
        case ImageFault::size_not_pages:
            return format_numbers("its size, %lld bytes, is not a whole number of 16384-byte pages",
                                  (long long)size);
        case ImageFault::unknown_model:
            return boot ? "there are no boot images for this model" : "unknown printer model";
        case ImageFault::too_short:
            if (!boot) {
                return format_numbers(
                    "the file has %lld pages; the tag lies in page 16, so at least 17 "
                    "pages are needed",
                    (long long)(size / 16384));
            }
            return format_numbers("the file has %lld bytes; the boot header needs at least %lld",
                                  (long long)size, o.count) +
                   format_numbers(" (0x%llX)", o.count);
        case ImageFault::missing_tag:
            if (boot)
                return "bytes 0xFF00-0xFF0C do not hold \"BOOT_VX3EPLUS\"";
            return model == 1 ? "bytes 0x70-0x74 do not hold \"FLASH\""
                              : "bytes 0x40000-0x4000A do not hold \"FW_VX3EPLUS\"";
        case ImageFault::crc_text:
            return boot && adf ? "no checksum trailer: bytes 0xFFC8-0xFFCF hold no \"CRC:\""
                               : "no checksum trailer: the last 8 bytes hold no \"CRC:\"";
        case ImageFault::crc_value:
            return format_numbers("checksum mismatch: computed 0x%04llX, stored 0x%04llX",
                                  o.computed, o.stored);
        case ImageFault::tag:
            if (boot) {
                return std::string("the boot header at 0xFF00 does not start with \"") +
                       layout::boot_tag(model) + "\" and a zero byte";
            }
            return std::string("the file does not start with the tag \"") + layout::fw_tag(model) +
                   "\" and a zero byte";
        case ImageFault::table:
            return boot ? "\"SECTION TBL:\" is missing at byte 0xFF30"
                        : "\"SECTION TBL:\" is missing at byte 40";
        case ImageFault::section_strings:
            return boot ? "\"Boot i: \" at 0xFF40 or \"Boot e: \" at 0xFF4C is missing"
                        : "\"FW i: \" at byte 56 or \"FW e: \" at byte 66 is missing";
        case ImageFault::gc_string:
            return "\"GC i: \" is missing at byte 76";
        case ImageFault::trailer_count:
            return format_numbers(
                "it holds %lld \"  CRC:\" trailers; a model-6 image has exactly 3", o.count);
    }
    return "not valid";
}

}  // namespace vx
