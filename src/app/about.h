// The program's version and the system it runs on: the about page, the two version readers
// and the system report at the head of the trace.
#pragma once
#include <cstddef>

#include "platform/pages.h"
#include "platform/system_info.h"

namespace vx {

class FlashRun;

// Copy the version string into `buffer` only when it fits whole (terminator counted); the
// buffer is otherwise left as it was. 1 when the lookup could be made, 0 when the program's
// file or its version resource cannot be had.
int get_product_version(SystemInfo& system, char* buffer, size_t size);
int get_special_build(SystemInfo& system, char* buffer, size_t size);

// Writes the "[FLASH][system]" report to the trace; 0 when the system's version cannot be
// read, 1 otherwise (also with the trace off).
int trace_os_version(FlashRun& flash, SystemInfo& system);

class AboutPage {
public:
    AboutPage(SystemInfo& system, AboutWindow& window) : system_(system), window_(window) {}
    void on_init();

private:
    SystemInfo& system_;
    AboutWindow& window_;
};

}  // namespace vx
