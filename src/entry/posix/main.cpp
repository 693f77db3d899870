// Console entry: the command line is rebuilt whole (program path included) from argv, as
// start-up expects it. The front-end's own options (--help, --list-ports, ...) do their job
// instead of a run; any other argument starting with '-' is refused before a file is touched,
// so a mistyped option never starts a download.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/about.h"
#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app/preflight.h"
#include "app/startup.h"
#include "entry/posix/posix_entry.h"
#include "flash/send_thread.h"
#include "frontend/console/console_sheet.h"
#include "platform/system_info.h"

namespace {

// An option the front-end does not know.
constexpr int USAGE_EXIT_CODE = 2;

// Touches no file: a user asking for help must not find a KO.txt afterwards.
void print_usage(std::FILE* out) {
    std::fputs(
        "Usage: vxflash [/tb]\n"
        "       vxflash --help | --version | --list-ports | --check\n"
        "\n"
        "Downloads a firmware, FPGA, character-generator or boot image into a VX3E, VX3plus or\n"
        "KD5 printer. Everything is read from flash.ini and flash.mes in the current\n"
        "directory; /tb marks a start by the printer toolkit.\n"
        "\n"
        "Run modes ([GENERAL] FLASHMODE in flash.ini):\n"
        "  0  interactive: shows the choice and the file, asks before it starts\n"
        "  1  unattended: starts at once and shows its progress\n"
        "  2  silent: prints nothing; read the exit code and OK.txt/KO.txt\n"
        "  An [INTERNAL] END_PAGE other than 0 always runs unattended.\n"
        "\n"
        "Files written in the current directory:\n"
        "  FlashTrace.dbg  the trace, when [GENERAL] TRACE=1\n"
        "  OK.txt          one line after a successful download\n"
        "  KO.txt          one line per numbered failure, e.g. [Error 9] Printer not answering.\n"
        "  OK.txt and KO.txt are deleted at every start.\n"
        "\n"
        "Exit codes:\n"
        "  silent      1 success, 0 failure\n"
        "  unattended  0 success, 1 failure\n"
        "  interactive 1\n"
        "  0 also when start-up fails (flash.ini or flash.mes missing, a parallel port).\n"
        "  2 an unknown option: nothing is read, written or sent.\n"
        "\n"
        "--check examines flash.ini, flash.mes, the images and the port without a printer\n"
        "and without writing anything; exit code 0 when a run could succeed for some model.\n"
        "\n"
        "PORT in [PORT SETTING] names the printer's port: COM1..COM10 (/dev/ttyS0..9), a\n"
        "device path such as /dev/ttyUSB0, or USB01. The README lists every flash.ini key.\n",
        out);
}

int show_help() {
    print_usage(stdout);
    return 0;
}

// The version line and the system report, as they open the trace. Touches no file.
int print_version() {
    vx::SystemInfo& system = vx::native_system_info();
    char product[260] = {};
    char special[10] = {};
    vx::get_product_version(system, product, sizeof product);
    vx::get_special_build(system, special, sizeof special);
    std::printf("vxflash ProductVersion %s    SpecialBuild %s\n", product, special);
    vx::OsVersion os;
    if (system.os_version(os)) {
        std::printf("[FLASH][system] OS Version=%s (Build %d)\n", os.name.c_str(),
                    static_cast<int>(os.build & 0xFFFF));
    }
    return 0;
}

int list_native_ports() {
    return vx::list_ports(vx::native_platform());
}

// The preflight check of the current folder, printed; writes nothing.
int check_folder() {
    std::string report;
    const int code = vx::preflight_check(vx::native_platform(), report);
    std::fputs(report.c_str(), stdout);
    return code;
}

struct FrontEndOption {
    const char* name;
    int (*run)();
};

// The first of these on the command line runs instead of a download.
constexpr FrontEndOption OPTIONS[] = {
    {"--help", show_help},        {"-h", show_help},
    {"--version", print_version}, {"--list-ports", list_native_ports},
    {"--check", check_folder},
};

const FrontEndOption* find_option(const char* arg) {
    for (const FrontEndOption& option : OPTIONS) {
        if (std::strcmp(arg, option.name) == 0)
            return &option;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const FrontEndOption* chosen = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-')
            continue;  // /tb and the like are start-up's
        const FrontEndOption* option = find_option(argv[i]);
        if (option == nullptr) {
            std::fprintf(stderr, "vxflash: unknown option %s\n\n", argv[i]);
            print_usage(stderr);
            return USAGE_EXIT_CODE;
        }
        if (chosen == nullptr)
            chosen = option;
    }
    if (chosen != nullptr)
        return chosen->run();
    std::string line;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (i > 0)
            line += ' ';
        line += arg.find_first_of(" \t") == std::string::npos ? arg : "\"" + arg + "\"";
    }
    vx::Platform& p = vx::native_platform();
    static vx::MessageCatalogue catalogue(p);
    static vx::FlashRun flash(p, catalogue);
    vx::end_runs_on_signals(flash);
    return vx::run_startup(flash, catalogue, line, nullptr, vx::console_property_sheet(),
                           vx::send_thread);
}
