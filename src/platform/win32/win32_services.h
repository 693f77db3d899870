// The Win32 implementations of the platform services, one per file; native.cpp bundles them.
#pragma once
#include <windows.h>

#include "platform/platform.h"

namespace vx {

Clock& win32_clock();
SystemErrors& win32_errors();
FileSystem& win32_files();
ProfileFile& win32_profile();
Ui& win32_ui();
Services& win32_services();
PrinterQueues& win32_printers();
ToolkitRegistry& win32_registry();
UsbPrinters& win32_usb();
ParallelPorts& win32_parallel();

// Limits where DLLs are looked for to the system folder; the entry point's first call.
void restrict_dll_search();
// A function of a DLL loaded from the system folder only; null (with the loader's error)
// when the DLL or the function is missing (system_dlls.cpp).
FARPROC system_proc(const char* dll, const char* name);

}  // namespace vx
