// The POSIX implementations of the platform services, bundled by native_platform().
#pragma once
#include "platform/platform.h"

namespace vx {

Clock& posix_clock();
SystemErrors& posix_errors();
FileSystem& posix_files();
ProfileFile& posix_profile();
Ui& posix_ui();
Services& posix_services();
PrinterQueues& posix_printers();
ToolkitRegistry& posix_registry();
UsbPrinters& posix_usb();
ParallelPorts& posix_parallel();

}  // namespace vx
