// TEMPORARY link baseline; replaced file by file as each subsystem is built.
#include "app/cls_flash.h"

namespace vx {
int Cls_parallel::open(const char*) { return 0; }
int Cls_parallel::Write_Read_timeout(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t) { return 0; }
int Cls_parallel::Read_timeout(uint8_t*, uint32_t, uint32_t) { return 0; }
void Cls_parallel::Close() {}
int usb_port::usb_open(const char*, const char*) { return 0; }
int usb_port::usb_write_read(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t) { return 0; }
int usb_port::usb_read(uint8_t*, uint32_t, uint32_t) { return 0; }
void usb_port::usb_close() {}
int Cls_flash::open_port(int) { return 0; }
void Cls_flash::close_port() {}
int Cls_flash::write_port(const uint8_t*, uint32_t, uint8_t*, uint32_t) { return 0; }
int Cls_flash::write_read_port(const uint8_t*, uint32_t, uint8_t*, uint32_t) { return 0; }
int Cls_flash::read_port(uint8_t*, uint32_t, uint32_t) { return 0; }
int Cls_flash::read_port_block(uint8_t*, uint32_t, uint32_t) { return 0; }
int Cls_flash::purge_port() { return 0; }
int Cls_flash::send_hex_command(const char*, uint32_t, uint8_t*, uint32_t, int) { return 0; }
int Cls_flash::set_comm_state(int) { return 0; }
int Cls_flash::open_com(int) { return 0; }
void Cls_flash::close_com() {}
int Cls_flash::write_com(const uint8_t*, uint32_t, uint8_t*, uint32_t) { return 0; }
int Cls_flash::write_read_com(const uint8_t*, uint32_t, uint8_t*, uint32_t) { return 0; }
int Cls_flash::read_com(uint8_t*, uint32_t, uint32_t) { return 0; }
int Cls_flash::read_com_block(uint8_t*, uint32_t, uint32_t) { return 0; }
int Cls_flash::port_used_by_printer(const char*, std::string&) { return 1; }
}  // namespace vx
