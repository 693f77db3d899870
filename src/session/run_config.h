// What flash.ini (and the setup page) say about a run: read once at start; the setup page
// edits a copy and writes it back.
#pragma once

#include <cstdint>

#include "image/constants.h"
#include "port/port_backend.h"

namespace vx {

struct RunConfig {
    char ini_path[PATH_CHARS] = {};
    char fw_filename[PATH_CHARS] = {};
    uint16_t send_mode = 0;  // SEND_* bits
    int keep_settings = 0;
    int ibm_emulation = 0;
    bool conditional_table = false;
    char port_name[PATH_CHARS] = {};
    uint16_t port_type = COM_PORT;
    bool virtual_com = false;
    // The serial line: flash.ini's [PORT SETTING] until a header switches it to the download
    // line for the rest of the run.
    LineSettings line;
    uint32_t config_baud = 0;  // BAUD as the header reads it (its own default)
    uint32_t send_baud = 0;    // BAUD_SEND: the download speed the header asks for
    int saved_parity = 0;      // PARITY as read and written back, unchecked
};

}  // namespace vx
