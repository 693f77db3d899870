// Console entry: the command line is rebuilt whole (program path included) from argv, as
// start-up expects it. `--list-ports` alone lists the ports instead of running.
#include <string>

#include "app/catalogue.h"
#include "app/cls_flash.h"
#include "app/startup.h"
#include "platform/posix/posix_platform.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--list-ports")
        return vx::list_ports(vx::native_platform());
    std::string line;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (i > 0)
            line += ' ';
        line += arg.find_first_of(" \t") == std::string::npos ? arg : "\"" + arg + "\"";
    }
    vx::Platform& p = vx::native_platform();
    static vx::MessageCatalogue catalogue(p);
    static vx::Cls_flash flash(p, catalogue);
    return vx::run_startup(flash, catalogue, line, nullptr);
}
