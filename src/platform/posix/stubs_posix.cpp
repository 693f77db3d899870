// TEMPORARY link baseline; replaced as the POSIX layer is built.
#include "platform/platform.h"

namespace vx {
namespace {
struct Stub : Clock, SystemErrors, FileSystem, ProfileFile, SerialPorts, Ui, Services, PrinterQueues, ToolkitRegistry {
    LocalTime local_time() override { return {}; }
    void sleep_ms(uint32_t) override {}
    uint64_t now_ms() override { return 0; }
    uint32_t last_error() override { return 0; }
    void set_last_error(uint32_t) override {}
    std::string error_text(uint32_t) override { return {}; }
    bool exists(const std::string&) override { return false; }
    void remove(const std::string&) override {}
    std::string startup_directory() override { return "."; }
    char path_separator() override { return '/'; }
    FileReadResult read_whole(const std::string&, std::vector<uint8_t>&) override { return {FileStage::open, 2}; }
    uint32_t get_string(const char*, const char*, const char*, const char*, char* b, uint32_t n) override { if (n) b[0] = 0; return 0; }
    uint32_t get_int(const char*, const char*, const char*, int d) override { return uint32_t(d); }
    bool write_string(const char*, const char*, const char*, const char*) override { return false; }
    std::unique_ptr<SerialDevice> open(const char*) override { return nullptr; }
    int message_box(WindowHandle, const char*, const char*, uint32_t) override { return 1; }
    CursorHandle load_wait_cursor() override { return nullptr; }
    CursorHandle set_cursor(CursorHandle) override { return nullptr; }
    bool nudge_pointer() override { return true; }
    void set_control_text(WindowHandle, int, const char*) override {}
    int get_check(WindowHandle, int) override { return 0; }
    void enable_control(WindowHandle, int, bool) override {}
    void progress(WindowHandle, ProgressOp, int, int) override {}
    void post_close(WindowHandle, int) override {}
    SpoolerStop stop_spooler() override { return SpoolerStop::not_applicable; }
    void start_spooler() override {}
    bool list(std::vector<PrinterQueue>& o) override { o.clear(); return true; }
    bool read_port(int, std::string&) override { return false; }
    bool read_serial(int, ToolkitSerial&) override { return false; }
};
}  // namespace
Platform& native_platform() {
    static Stub s;
    static Platform p{s, s, s, s, s, s, s, s, s};
    return p;
}
}  // namespace vx
