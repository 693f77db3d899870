#include <windows.h>

#include "app/catalogue.h"
#include "app/cls_flash.h"
#include "app/startup.h"
#include "platform/win32/win32_services.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    vx::restrict_dll_search();  // before anything can load a DLL
    vx::Platform& p = vx::native_platform();
    static vx::MessageCatalogue catalogue(p);
    static vx::Cls_flash flash(p, catalogue);
    vx::restart_spooler_at_session_end(flash);
    return vx::run_startup(flash, catalogue, GetCommandLineA(), instance);
}
