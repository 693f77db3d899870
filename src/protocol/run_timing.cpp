#include "protocol/run_timing.h"

#include "image/constants.h"
#include "platform/serial.h"

namespace vx {

namespace {

struct SpeedCode {
    uint32_t baud;
    uint8_t code;
};

constexpr SpeedCode kSpeedCodes[] = {
    {9600, 0x90}, {19200, 0x80}, {38400, 0x70}, {57600, 0x66}, {115200, 0x56},
};

}  // namespace

bool speed_code(uint32_t baud, uint8_t& code) {
    for (const auto& s : kSpeedCodes) {
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    }
    return false;
}

bool keeps_download_speed(uint32_t max_baud_flag) {
    switch (max_baud_flag) {
        case MAXBAUD_19200:
        case MAXBAUD_38400:
        case MAXBAUD_56K:
        case MAXBAUD_128K:
        case MAXBAUD_USER:
            return true;
        default:
            return false;
    }
}

bool header_can_say(int model, uint32_t begin, uint32_t end) {
    switch (model) {
        case VX3E_MODEL:
            return begin <= 0xFF && end <= 0xFF;
        case KD5_ADF_L2_MODEL:
            return begin <= 0xFFFF && end <= 0xFFFF;
        default:
            return begin <= 0xFF && end <= 0xFFFF;
    }
}

}  // namespace vx
