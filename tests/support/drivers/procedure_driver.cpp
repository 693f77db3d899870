// Runs the flash procedure on the native platform without any window, for runs that start-up
// would hand to the main page (the free-pages run always does). Reads flash.ini and flash.mes
// from the current directory as start-up does, then calls send_thread and exits with its result.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/catalogue.h"
#include "app/cls_flash.h"

int main() {
    vx::Platform& p = vx::native_platform();
    vx::MessageCatalogue catalogue(p);
    vx::Cls_flash flash(p, catalogue);
    const std::string dir = std::filesystem::current_path().string();
    const std::string ini = dir + "/flash.ini";
    if (!std::filesystem::exists(ini)) {
        std::fprintf(stderr, "procedure_driver: no flash.ini in %s\n", dir.c_str());
        return 2;
    }
    catalogue.load_catalogue((dir + "/flash.mes").c_str());
    std::snprintf(flash.ini_path, sizeof flash.ini_path, "%s", ini.c_str());
    flash.read_config();
    flash.read_port_settings();
    std::fprintf(stderr, "procedure_driver: flash_mode=%d send_mode=0x%04x\n", flash.flash_mode,
                 flash.send_mode);
    vx::send_thread_args args;
    args.flash = &flash;
    return vx::send_thread(args);
}
