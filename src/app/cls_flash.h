// The flash context: the program's one object of state. Each subsystem defines its own
// operations in its own folder (config in app/, checks in image/, transfers in protocol/,
// the port in port/, the procedure in flash/).
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/constants.h"
#include "platform/main_view.h"
#include "platform/platform.h"
#include "port/port_backend.h"

#if defined(__GNUC__)
#define VX_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VX_PRINTF(fmt_index, first_arg)
#endif

namespace vx {

class MessageCatalogue;
class TransferReport;
class Cls_flash;

// Start record of the flash procedure thread; without a view (silent mode) nothing is shown.
struct send_thread_args {
    MainPageView* view = nullptr;
    Cls_flash* flash = nullptr;
};

class Cls_flash {
public:
    Cls_flash(Platform& platform, MessageCatalogue& catalogue);
    ~Cls_flash();
    Cls_flash(const Cls_flash&) = delete;
    Cls_flash& operator=(const Cls_flash&) = delete;

    Platform& platform;
    MessageCatalogue& catalogue;
    void* instance = nullptr;

    // ---- configuration (app/config.cpp) ----
    char ini_path[PATH_CHARS] = {};
    char fw_filename[PATH_CHARS] = {};
    int send_fw = 0, send_boot = 0, send_cg = 0, send_fpga = 0, keep_settings = 0;
    uint16_t send_mode = 0;
    int flash_mode = 0;
    int ibm_emulation = 0;
    bool trace_on = false;
    bool conditional_table = false;
    uint32_t begin_page = 0, end_page = 0, offset_page = 0, max_page = 0;
    char port_name[PATH_CHARS] = {};
    uint16_t port_type = COM_PORT;
    uint32_t line_baud = 0, config_baud = 0, send_baud = 0;
    uint8_t data_bits = 0, parity = 0, stop_bits = 0;
    int saved_parity = 0;
    int toolkit_extra = 0;
    bool virtual_com = false;

    void read_config();
    int read_port_settings();
    void set_port_settings(const char* name, int baud, uint8_t bits, int parity_code, uint8_t stop,
                           int extra);
    void write_port_settings();
    void write_port_name(const char* name);

    // ---- reporting (app/reporting.cpp) ----
    std::FILE* trace_file = nullptr;
    void trace_line(const char* format, ...) VX_PRINTF(2, 3);
    void ko_report(const char* format, ...) VX_PRINTF(2, 3);
    void ok_report(const char* format, ...) VX_PRINTF(2, 3);
    int user_message(WindowHandle owner, const char* caption, const char* text, uint32_t type);
    int user_message(const MainPageView& view, const char* caption, const char* text,
                     uint32_t type) {
        return user_message(view.box_owner(), caption, text, type);
    }
    int flash_last_error_msg(const char* name);
    // Set by start-up when it stopped the print spooler for this run (see restart_spooler).
    std::atomic<bool> spooler_stopped{false};

    // Catalogue texts, and catalogue texts used as formats with one argument. A text whose
    // conversions do not match the argument is shown literally.
    const char* get_message(uint16_t id) const;
    std::string message_int(uint16_t id, long long value) const;
    std::string message_str(uint16_t id, const char* value) const;

    // ---- port (port/) ----
    std::vector<uint8_t> tx_buffer;                // TX_BUFFER_SIZE bytes
    uint8_t reply_buffer[REPLY_BUFFER_SIZE] = {};  // sync reply; purge scratch

    // The backend of the configured port kind (made anew when port_type changes).
    PortBackend& port();
    bool port_open() const;
    PortCapabilities port_caps() { return port().capabilities(); }
    int open_port(int use_boot_line);
    void close_port();
    int write_port(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity);
    int write_read_port(const uint8_t* data, uint32_t length, uint8_t* reply, uint32_t capacity);
    int read_port(uint8_t* buffer, uint32_t capacity, uint32_t timeout_ms);
    int read_port_block(uint8_t* buffer, uint32_t count, uint32_t timeout_ms);
    int purge_port();
    int send_hex_command(const char* text, uint32_t length, uint8_t* reply, uint32_t capacity,
                         int hex);
    int set_comm_state(int use_boot_line);
    int check_wire();

    // ---- download-mode entry (protocol/detect.cpp) ----
    int printer_model = 0;
    bool in_download_mode = false;  // the printer answered the download command or announced itself
    bool printer_announced = false;  // it announced itself before the command was sent
    int DetectPrinterModel();
    // Update decision from the printer's firmware release (CONDITIONAL_TABLE); sets fw_filename
    // to the image the table names.
    bool update_needed();
    int send_download_cmd(MainPageView& view);
    int disable_4722_emulation();

    // ---- images (image/) ----
    uint16_t start_fw = 0, end_fw = 0, start_FPGA = 0, end_FPGA = 0, start_cg = 0, end_cg = 0;
    // Identification texts of a boot image; byte 8 always stays 0 so they print safely.
    char boot_text_a[9] = {};
    char boot_text_b[9] = {};
    int CheckFwFile();
    int CheckBootFile();
    int _4ByteToPage(const uint8_t* bytes, uint16_t& page);
    // 1 with the range set, 0 when the flags give no range for this model (nothing to send).
    int set_BeginEndPage(uint16_t flags);
    // Reads the whole image, a partial last page filled up with 0xFF; returns the size handed
    // over (whole pages), 0 on failure (reported here).
    uint32_t load_file2send(const char* file_name, std::vector<uint8_t>& image);
    // The file as the last successful check saw it. The transfer reads the file again and
    // sends it only when it still holds those bytes: a file replaced after its check is
    // never sent unchecked.
    struct CheckedImage {
        bool valid = false;
        std::string name;
        uint64_t size = 0;
        uint64_t digest = 0;
    };
    CheckedImage checked_image;
    void remember_checked_image(const std::string& name, const std::vector<uint8_t>& bytes);

    // ---- header and transfer (protocol/) ----
    int send_header(MainPageView& view);
    // Maximum-baud flag of the open port (MAXBAUD_*); 0 with flag 0 when the port reports
    // none or its properties cannot be read.
    int get_max_baud(uint32_t& flag);
    // One bank transfer of the configured range; the report hears its steps.
    int download_image(TransferReport& report, const char* tag);
    int download_com(TransferReport& report, const char* tag);
    int download_virtual_com(TransferReport& report, const char* tag);
    int download_usb(TransferReport& report, const char* tag);
    int download_usb_adf(TransferReport& report, const char* tag);

    // ---- flash procedure (flash/) ----
    uint32_t cursor_busy = 0;
    CursorHandle wait_cursor = nullptr;
    CursorHandle saved_cursor = nullptr;
    uint32_t set_wait_cursor(uint32_t on);
    // Set by the main page to stop a running procedure; the transfer looks at it between
    // bytes and banks, the procedure between its steps.
    std::atomic<bool> stop_requested{false};
    // A signal that asked the whole process to end (0: none): every procedure, also one that
    // starts later, stops and takes its failure ending.
    std::atomic<int> end_signal{0};

private:
    void vtrace(const char* format, va_list args);
    // Appends a line to a result file; a refused file is reported on the console and traced.
    void report_result(const char* file_name, const std::string& message);
    std::mutex trace_mutex_;
    std::unique_ptr<PortBackend> port_;
    uint16_t port_kind_ = 0;
};

// The flash procedure; returns the thread's exit code (1 completed, 0 failed or refused).
int send_thread(const send_thread_args& args);

// The error box of flash_last_error_msg, shown in every run mode and never traced; for
// callers without the flash context at hand. Returns 1.
int system_error_box(Platform& platform, const char* name);

}  // namespace vx
