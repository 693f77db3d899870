// flash.ini: the keys of a run, their defaults and the port settings written back.
#include <cstring>
#include <string>

#include "app/flash_run.h"

namespace vx {
namespace {

constexpr const char* GENERAL = "GENERAL";
constexpr const char* INTERNAL = "INTERNAL";
constexpr const char* PORT_SETTING = "PORT SETTING";

uint8_t low8(uint32_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}

void copy_text(char (&dst)[PATH_CHARS], const char* src) {
    size_t n = src ? std::strlen(src) : 0;
    if (n > PATH_CHARS - 1)
        n = PATH_CHARS - 1;
    if (n)
        std::memcpy(dst, src, n);
    dst[n] = '\0';
}

std::string decimal(int value) {
    return std::to_string(value);
}

}  // namespace

void FlashRun::read_config() {
    ProfileFile& ini = platform.profile;
    RunConfig& c = config;
    const char* ini_path = c.ini_path;
    c.port_name[0] = '\0';
    c.fw_filename[0] = '\0';
    if (ini.get_string(ini_path, GENERAL, "FILENAME", "", c.fw_filename, PATH_CHARS) == 0)
        return;

    session.begin_page = ini.get_int(ini_path, INTERNAL, "BEGIN_PAGE", 0);
    session.end_page = ini.get_int(ini_path, INTERNAL, "END_PAGE", 0);
    session.offset_page = ini.get_int(ini_path, INTERNAL, "OFFSET_PAGE", 0);
    const int send_fw = static_cast<int>(ini.get_int(ini_path, GENERAL, "SEND_FW", 1));
    const int send_boot = static_cast<int>(ini.get_int(ini_path, GENERAL, "SEND_BOOT", 0));
    const int send_cg = static_cast<int>(ini.get_int(ini_path, GENERAL, "SEND_CG", 0));
    const int send_fpga = static_cast<int>(ini.get_int(ini_path, GENERAL, "SEND_FPGA", 0));
    report.set_mode(static_cast<int>(ini.get_int(ini_path, GENERAL, "FLASHMODE", 0)));
    c.ibm_emulation = static_cast<int>(ini.get_int(ini_path, GENERAL, "IBM_EMULATION", 0));
    c.keep_settings = static_cast<int>(ini.get_int(ini_path, GENERAL, "KEEP_SETTINGS", 0));
    config.config_baud = ini.get_int(ini_path, PORT_SETTING, "BAUD", 9800);

    if (ini.get_string(ini_path, PORT_SETTING, "PORT", "", c.port_name, PATH_CHARS) == 0) {
        ini.write_string(ini_path, PORT_SETTING, "PORT", "USB01");
        ini.get_string(ini_path, PORT_SETTING, "PORT", "", c.port_name, PATH_CHARS);
    }

    config.send_baud = ini.get_int(ini_path, PORT_SETTING, "BAUD_SEND", 115200);
    config.line.parity = low8(ini.get_int(ini_path, PORT_SETTING, "PARITY", 0));

    if (session.end_page != 0) {
        // An explicit page range never runs silently or interactively.
        c.send_mode = SEND_FREE;
        report.set_mode(1);
        c.keep_settings = 0;
    } else if (send_boot != 0) {
        c.send_mode = SEND_BOOT;
    } else {
        if (send_fw != 0)
            c.send_mode |= SEND_FW;
        if (send_cg != 0)
            c.send_mode |= SEND_CG;
        if (c.keep_settings != 0)
            c.send_mode |= KEEP_SETTINGS;
        if (send_fpga != 0)
            c.send_mode |= SEND_FPGA;
    }

    report.set_trace(low8(ini.get_int(ini_path, GENERAL, "TRACE", 0)) != 0);
    c.conditional_table = low8(ini.get_int(ini_path, GENERAL, "CONDITIONAL_TABLE", 0)) != 0;
    c.virtual_com = low8(ini.get_int(ini_path, PORT_SETTING, "VIRTUAL_COM", 0)) != 0;
}

int FlashRun::read_port_settings() {
    ProfileFile& ini = platform.profile;
    if (ini.get_string(config.ini_path, PORT_SETTING, "PORT", "", config.port_name, PATH_CHARS) ==
        0) {
        ini.write_string(config.ini_path, PORT_SETTING, "PORT", "COM1");
        ini.get_string(config.ini_path, PORT_SETTING, "PORT", "", config.port_name, PATH_CHARS);
    }
    // Case-sensitive on purpose: "usb01" or "lpt1" count as COM ports.
    if (std::strncmp(config.port_name, "COM", 3) == 0) {
        config.port_type = COM_PORT;
    } else if (std::strncmp(config.port_name, "USB", 3) == 0) {
        config.port_type = USB_PORT;
    } else if (std::strncmp(config.port_name, "LPT", 3) == 0) {
        config.port_type = LPT_PORT;
    } else {
        config.port_type = COM_PORT;
    }
    config.line.baud = ini.get_int(config.ini_path, PORT_SETTING, "BAUD", 9600);
    config.line.data_bits = low8(ini.get_int(config.ini_path, PORT_SETTING, "SIZE", 8));
    config.saved_parity = static_cast<int>(ini.get_int(config.ini_path, PORT_SETTING, "PARITY", 0));
    config.line.stop_bits = low8(ini.get_int(config.ini_path, PORT_SETTING, "STOP", 1));
    return 1;
}

void FlashRun::set_port_settings(const char* name, int baud, uint8_t bits, int parity_code,
                                 uint8_t stop, int extra) {
    copy_text(config.port_name, name);
    if (config.port_type != COM_PORT)
        return;
    config.line.baud = static_cast<uint32_t>(baud);
    config.line.data_bits = bits;
    config.saved_parity = parity_code;
    config.line.stop_bits = stop;
    (void)extra;  // the toolkit's own field: kept in its registry, not in the run
}

void FlashRun::write_port_settings() {
    ProfileFile& ini = platform.profile;
    if (!ini.write_string(config.ini_path, PORT_SETTING, "PORT", config.port_name)) {
        report.flash_last_error_msg(config.ini_path);
    }
    ini.write_string(config.ini_path, PORT_SETTING, "BAUD",
                     decimal(static_cast<int>(config.line.baud)).c_str());
    ini.write_string(config.ini_path, PORT_SETTING, "SIZE", decimal(config.line.data_bits).c_str());
    ini.write_string(config.ini_path, PORT_SETTING, "PARITY", decimal(config.saved_parity).c_str());
    ini.write_string(config.ini_path, PORT_SETTING, "STOP", decimal(config.line.stop_bits).c_str());
}

void FlashRun::write_port_name(const char* name) {
    if (!platform.profile.write_string(config.ini_path, PORT_SETTING, "PORT", name ? name : "")) {
        report.flash_last_error_msg(config.ini_path);
    }
}

}  // namespace vx
