// What flash.ini (and the setup page) say about a run: read once at start; the setup page
// edits a copy and writes it back.
#pragma once

#include <cstdint>

#include "app/constants.h"

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
};

}  // namespace vx
