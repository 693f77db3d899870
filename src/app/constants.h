// Values shared across the program: send-mode bits, printer models, port kinds, control ids.
#pragma once
#include <cstdint>

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
constexpr int VX3E_MODE = 1;
constexpr int VX3PLUS_MODEL = 2;
constexpr int VX3PLUS_CR_MODEL = 3;
constexpr int VX3PLUS_SC_MODEL = 4;
constexpr int KD5_ADF_L1_MODEL = 5;
constexpr int KD5_ADF_L2_MODEL = 6;

// port_type
constexpr uint16_t COM_PORT = 1;
constexpr uint16_t LPT_PORT = 2;
constexpr uint16_t USB_PORT = 3;

// flash_mode
constexpr int INTERACTIVE_MODE = 0;
constexpr int SILENT_MODE = 2;

constexpr uint32_t PAGE_SIZE = 16384;
constexpr uint32_t TX_BUFFER_SIZE = 65538;
constexpr uint32_t REPLY_BUFFER_SIZE = 2049;
constexpr uint32_t PATH_CHARS = 260;

// Main page (dialog 102) controls written by the procedure.
constexpr int IDC_BANK_BAR = 1002;
constexpr int IDC_PRINTER_REPLY = 1004;
constexpr int IDC_BANK_LABEL = 1006;
constexpr int IDC_PC_STATUS = 1007;
constexpr int IDC_PRINTER_STATUS = 1008;
constexpr int IDC_PAGES_BAR = 1009;
constexpr int IDC_FIRST_PAGE = 1010;
constexpr int IDC_LAST_PAGE = 1011;
constexpr int IDC_CONNECTION = 1012;
constexpr int IDC_CHK_FIRMWARE = 1013;
constexpr int IDC_CHK_CG = 1014;
constexpr int IDC_CHK_BOOT = 1015;
constexpr int IDC_CHK_FPGA = 1016;
constexpr int IDC_CHK_KEEP = 1018;
constexpr int IDC_TRANSFER = 1019;
constexpr int IDC_PRINTER_GROUP = 1023;
constexpr int IDC_MODEL_LABEL = 1026;

}  // namespace vx
