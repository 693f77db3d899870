// TEMPORARY link baseline; replaced file by file as each subsystem is built.
#include <cstring>

#include "app/catalogue.h"
#include "app/cls_flash.h"
#include "app/startup.h"

namespace vx {
Cls_flash::Cls_flash(Platform& p, MessageCatalogue& c) : platform(p), catalogue(c) {
    tx_buffer.assign(TX_BUFFER_SIZE, 0);
}
Cls_flash::~Cls_flash() {
    if (trace_file) std::fclose(trace_file);
}
void Cls_flash::read_config() {}
int Cls_flash::read_port_settings() { return 1; }
void Cls_flash::set_port_settings(const char*, int, uint8_t, int, uint8_t, int) {}
void Cls_flash::write_port_settings() {}
void Cls_flash::write_port_name(const char*) {}
void Cls_flash::vtrace(const char*, va_list) {}
void Cls_flash::trace_line(const char*, ...) {}
void Cls_flash::ko_report(const char*, ...) {}
void Cls_flash::ok_report(const char*, ...) {}
int Cls_flash::user_message(WindowHandle, const char*, const char*, uint32_t) { return 1; }
int Cls_flash::flash_last_error_msg(const char*) { return 1; }
const char* Cls_flash::get_message(uint16_t id) const { return catalogue.get_message(id); }
std::string Cls_flash::message_int(uint16_t id, long long) const { return get_message(id); }
std::string Cls_flash::message_str(uint16_t id, const char*) const { return get_message(id); }
void Cls_flash::page_text(WindowHandle, int, const char*) {}
void Cls_flash::page_progress(WindowHandle, ProgressOp, int, int) {}
int MessageCatalogue::load_catalogue(const char*) { return 0; }
const char* MessageCatalogue::get_message(uint16_t) const { return "no message available"; }
int run_startup(Cls_flash&, MessageCatalogue&, const std::string&, void*) { return 0; }
}  // namespace vx
