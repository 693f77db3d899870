// Runs the flash procedure on the native platform without any window, for runs that start-up
// would hand to the main page (the free-pages run always does). Reads flash.ini and flash.mes
// from the current directory as start-up does, then calls send_thread and exits with its result.
//
// --runs K runs the procedure K times with the same flash context, as the main page does when
// the user starts again, and counts the open descriptors (Windows: the process's handles)
// around each run: a procedure that leaks a port, a file or a buffer's handle shows as growth. The
// first run may open the trace file for good, so the count after it is the baseline. Exit code 3
// when the count grew, otherwise the last run's result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "flash/send_thread.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
// Every valid handle value of the process, found by asking about each: Wine's
// GetProcessHandleCount always says 0.
int open_descriptors() {
    int n = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++n;
    }
    return n;
}
#else
int open_descriptors() {
    std::error_code ec;
    int n = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
         it.increment(ec))
        ++n;
    return ec ? -1 : n;
}
#endif

// 0 when the arguments are wrong.
int parse_runs(int argc, char** argv) {
    if (argc == 1)
        return 1;
    if (argc != 3 || std::strcmp(argv[1], "--runs") != 0)
        return 0;
    char* end = nullptr;
    const long k = std::strtol(argv[2], &end, 10);
    return end != argv[2] && *end == '\0' && k >= 1 && k <= 1000 ? static_cast<int>(k) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = parse_runs(argc, argv);
    if (runs == 0) {
        std::fprintf(stderr, "usage: procedure_driver [--runs K]  (K from 1 to 1000)\n");
        return 2;
    }
    vx::Platform& p = vx::native_platform();
    vx::MessageCatalogue catalogue(p);
    vx::FlashRun flash(p, catalogue);
    const std::string dir = std::filesystem::current_path().string();
    const std::string ini = dir + "/flash.ini";
    if (!std::filesystem::exists(ini)) {
        std::fprintf(stderr, "procedure_driver: no flash.ini in %s\n", dir.c_str());
        return 2;
    }
    catalogue.load_catalogue((dir + "/flash.mes").c_str());
    std::snprintf(flash.config.ini_path, sizeof flash.config.ini_path, "%s", ini.c_str());
    flash.read_config();
    flash.read_port_settings();
    std::fprintf(stderr, "procedure_driver: flash_mode=%d send_mode=0x%04x\n", flash.report.mode(),
                 flash.config.send_mode);
    vx::send_thread_args args;
    args.flash = &flash;

    int result = 0;
    int baseline = -1;
    bool grew = false;
    for (int run = 1; run <= runs; ++run) {
        const int before = open_descriptors();
        result = vx::send_thread(args);
        const int after = open_descriptors();
        if (runs > 1) {
            std::fprintf(stderr, "procedure_driver: run %d result=%d open before=%d after=%d\n",
                         run, result, before, after);
        }
        if (run == 1)
            baseline = after;
        else if (after > baseline || after < 0)
            grew = true;
    }
    if (grew) {
        std::fprintf(stderr,
                     "procedure_driver: open descriptors or handles grew after run 1 (%d)\n",
                     baseline);
        return 3;
    }
    return result;
}
