// Values shared from the image layer up: send-mode bits, printer models, page and buffer
// sizes, port kinds.
#pragma once
#include <cstdint>

#include "report/run_mode.h"

namespace vx {

// send_mode bits
constexpr uint16_t SEND_BOOT = 0x0001;
constexpr uint16_t SEND_FW = 0x0002;
constexpr uint16_t SEND_CG = 0x0004;
constexpr uint16_t KEEP_SETTINGS = 0x0008;
constexpr uint16_t SEND_FPGA = 0x0010;
constexpr uint16_t SEND_FW_1STPAGE = 0x4000;
constexpr uint16_t SEND_FREE = 0x8000;

// printer_model
constexpr int VX3E_MODEL = 1;
constexpr int VX3PLUS_MODEL = 2;
constexpr int VX3PLUS_CR_MODEL = 3;
constexpr int VX3PLUS_SC_MODEL = 4;
constexpr int KD5_ADF_L1_MODEL = 5;
constexpr int KD5_ADF_L2_MODEL = 6;

// port_type
constexpr uint16_t COM_PORT = 1;
constexpr uint16_t LPT_PORT = 2;
constexpr uint16_t USB_PORT = 3;

constexpr uint32_t PAGE_SIZE = 16384;
constexpr uint32_t TX_BUFFER_SIZE = 65538;
constexpr uint32_t REPLY_BUFFER_SIZE = 2049;
constexpr uint32_t PATH_CHARS = 260;

}  // namespace vx
