// The services the core uses to reach the machine. Every concern has its own header with the
// contract of each call; a Win32 and a POSIX implementation live in win32/ and posix/.
#pragma once

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/parallel.h"
#include "platform/printers.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/services.h"
#include "platform/system_error.h"
#include "platform/ui.h"
#include "platform/usb.h"

namespace vx {

// A bundle of references, so a test can swap any one service for a fake.
struct Platform {
    Clock& clock;
    SystemErrors& errors;
    FileSystem& files;
    ProfileFile& profile;
    SerialPorts& serial;
    Ui& ui;
    Services& services;
    PrinterQueues& printers;
    ToolkitRegistry& registry;
    UsbPrinters& usb;
    ParallelPorts& parallel;
};

// The machine's own implementations (defined in win32/ or posix/).
Platform& native_platform();

}  // namespace vx
