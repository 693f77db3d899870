#include <windows.h>

#include <string>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app/preflight.h"
#include "app/startup.h"
#include "entry/win32/session_end.h"
#include "flash/send_thread.h"
#include "frontend/win32/win32_sheet.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"

namespace {

// A GUI program has no console of its own: the report goes to the standard output the caller
// handed over (a pipe or a file), else to the console it was started from, if any.
void show_report(const std::string& report) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    vx::UniqueFileHandle console;
    if (out == nullptr || out == INVALID_HANDLE_VALUE || GetFileType(out) == FILE_TYPE_UNKNOWN) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        console = vx::own_file_handle(CreateFileA("CONOUT$", GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
        if (!console)
            return;
        out = console.get();
    }
    std::string text;
    for (char c : report) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// "/check": the preflight check of the current folder, shown and kept in CHECK.txt. A report
// that cannot be kept fails the check, so a caller never reads an older one as this one.
int check_folder(vx::Platform& platform) {
    std::string report;
    int code = vx::preflight_check(platform, report);
    if (!vx::save_check_report(platform.files, report)) {
        report += "vxflash: CHECK.txt cannot be written in this folder\n";
        code = 1;
    }
    show_report(report);
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    vx::restrict_dll_search();  // before anything can load a DLL
    vx::Platform& p = vx::native_platform();
    if (vx::has_option(GetCommandLineA(), "/check"))
        return check_folder(p);
    static vx::MessageCatalogue catalogue(p);
    static vx::FlashRun flash(p, catalogue);
    vx::restart_spooler_at_session_end(flash);
    return vx::run_startup(flash, catalogue, GetCommandLineA(), instance,
                           vx::win32_property_sheet(), vx::send_thread);
}
