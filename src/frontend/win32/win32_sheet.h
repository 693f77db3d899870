// The Win32 property sheet: the main page, the port setup page and the about page over the
// dialogs of vxflash.rc.
#pragma once
#include <windows.h>

#include "app/sheet.h"

namespace vx {

// The sheet start-up runs (sheet.cpp).
SheetRunner& win32_property_sheet();

// The port setup page's dialog procedure (dialog 103), and the flash context it works on,
// given before the sheet runs (setup_page_dialog.cpp).
void bind_setup_page(FlashRun* flash);
INT_PTR CALLBACK setup_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace vx
