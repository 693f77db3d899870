// TEMPORARY link baseline; replaced file by file as each subsystem is built.
#include "app/cls_flash.h"

namespace vx {
int Cls_flash::check_wire() { return 0; }
int Cls_flash::DetectPrinterModel() { return 0; }
int Cls_flash::send_download_cmd(WindowHandle) { return 0; }
int Cls_flash::disable_4722_emulation() { return 0; }
int Cls_flash::send_header(WindowHandle) { return 0; }
int Cls_flash::download_image(WindowHandle, WindowHandle, WindowHandle, const char*) { return 0; }
int Cls_flash::download_com(WindowHandle, WindowHandle, WindowHandle, const char*) { return 0; }
int Cls_flash::download_virtual_com(WindowHandle, WindowHandle, WindowHandle, const char*) { return 0; }
int Cls_flash::check_reply(WindowHandle, const uint8_t*, uint32_t) { return 5; }
void Cls_flash::show_download_start(WindowHandle, WindowHandle, WindowHandle, uint32_t, uint32_t, uint32_t, const char*) {}
void Cls_flash::show_download_end(WindowHandle, WindowHandle) {}
}  // namespace vx
