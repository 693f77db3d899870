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

// `vxflash --list-ports`: one line per port PORT may name, with whether it is free. Returns
// the process exit code.
int list_ports(Platform& platform);

class Cls_flash;
// From now on SIGTERM, SIGHUP and SIGINT end the run through its failure ending.
void end_runs_on_signals(Cls_flash& flash);

}  // namespace vx
