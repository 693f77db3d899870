#include "app/port_reports.h"

#include <cctype>
#include <cstdio>

#include "app/message_format.h"
#include "app/message_ids.h"

namespace vx {

namespace {

// Trace tags of the port's own lines, kept whole so a search for a line finds its code.
constexpr const char* OPEN_PORT_TAG = "[FLASH][open_port]";
constexpr const char* OPEN_COM_TAG = "[FLASH][open_com]";
constexpr const char* PURGE_TAG = "[FLASH][purge_port]";

std::string upper(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

void report_open_failure(FlashRun& f, const PortBackend& port, const PortResult& r) {
    const char* name = port.settings().name.c_str();
    if (!port.capabilities().modem_lines) {
        if (port.capabilities().transfer != TransferKind::usb_pages)
            return;  // a parallel port says nothing
        if (r.error == PortError::unavailable) {
            f.report.trace_line(
                "[usb_port][usb_open] USB port %s: the system's USB access could not be "
                "started.\n",
                name);
        }
        f.report.trace_line("%s Printer OFF\n", OPEN_PORT_TAG);
        f.report.ko_report("[Error 5] Printer OFF - portname %s.\n", name);
        return;
    }
    // No message box here (the procedure reports the failure); the trace says why and what
    // to do about it.
    switch (r.error) {
        case PortError::not_found:
            f.report.trace_line("%s Port %s not found: check the PORT setting.\n", OPEN_COM_TAG,
                                name);
            break;
        case PortError::access_denied:
            f.report.trace_line("%s Port %s: permission denied. %s\n", OPEN_COM_TAG, name,
                                f.platform.serial.access_denied_advice());
            break;
        case PortError::busy:
            f.report.trace_line(
                "%s Port %s is in use by another program: close it and try again.\n", OPEN_COM_TAG,
                name);
            break;
        default:
            f.report.trace_line("%s Port %s cannot be opened: %s\n", OPEN_COM_TAG, name,
                                r.text.c_str());
            break;
    }
}

// A failed parallel request: a box in interactive mode, traced otherwise, where nobody would
// be there to close it and the run would wait for ever.
int report_request(FlashRun& f, const PortBackend& port, int result) {
    const PortResult& r = port.last_failure();
    if (result != 0 || r.ok() || r.where[0] == 0)
        return result;
    char text[64];
    std::snprintf(text, sizeof text, "** ECP %s Error %u **", r.where[0] == 'W' ? "Write" : "Read",
                  static_cast<unsigned>(r.code));
    if (f.report.mode() == INTERACTIVE_MODE) {
        f.platform.ui.message_box(nullptr, r.where, text, BOX_OK);
    } else {
        f.report.trace_line("[Cls_parallel][%s] %s\n", r.where, text);
    }
    return result;
}

}  // namespace

PortSettings configured_port(const FlashRun& f) {
    PortSettings s;
    s.name = f.config.port_name;
    s.kind = static_cast<PortKind>(f.config.port_type);
    s.line = f.config.line;
    return s;
}

std::unique_ptr<PortBackend> make_configured_port(FlashRun& f) {
    return make_port_backend(f.platform, configured_port(f));
}

int port_used_by_printer(Platform& platform, const char* port, std::string& printer_name) {
    printer_name.clear();
    std::vector<PrinterQueue> queues;
    if (!platform.printers.list(queues)) {
        return 0;  // no list: assume the port is taken
    }
    const std::string key = upper(std::string(port != nullptr ? port : "") + ":");
    for (const PrinterQueue& q : queues) {
        if (upper(q.port) == key) {
            printer_name = q.name;
            return 0;
        }
    }
    return 1;
}

int open_port(FlashRun& f, PortBackend& port, bool boot_line) {
    const char* name = port.settings().name.c_str();
    f.report.trace_line("%s Port %s\n", OPEN_PORT_TAG, name);
    if (const PortResult r = port.open(); !r) {
        report_open_failure(f, port, r);
        return 0;
    }
    if (port.capabilities().modem_lines && f.report.mode() == INTERACTIVE_MODE) {
        std::string printer;
        if (!port_used_by_printer(f.platform, name, printer)) {
            f.report.trace_line("%s Port %s in use by Printer %s \n", OPEN_COM_TAG, name,
                                printer.c_str());
            const std::string text = format_catalogue(f.get_message(msg::PORT_HAS_PRINTER),
                                                      {printer.c_str(), name, name});
            f.report.user_message(nullptr, f.get_message(msg::ERROR_CAPTION), text.c_str(),
                                  BOX_ICONEXCLAMATION);
            return 0;
        }
    }
    const PortResult r = port.start(boot_line);
    switch (r.error) {
        case PortError::none:
            return 1;
        case PortError::no_modem_status:
        case PortError::printer_off:
            if (r.error == PortError::no_modem_status) {
                f.report.trace_line("%s GetCommModemStatus failed on %s: %s\n", OPEN_COM_TAG, name,
                                    r.text.c_str());
            }
            f.report.trace_line("%s Printer connected to %s OFF DSR=0 \n", OPEN_COM_TAG, name);
            f.report.ko_report("[Error 5] Printer OFF. - portname %s\n", name);
            return 0;
        default:
            f.report.system_error_msg(("SetCommState : " + port.settings().name).c_str(), r.text);
            return 0;
    }
}

int set_port_line(FlashRun& f, PortBackend& port, const LineSettings& line) {
    if (const PortResult r = port.set_line(line); !r) {
        f.report.system_error_msg(("SetCommState : " + port.settings().name).c_str(), r.text);
        return 0;
    }
    return 1;
}

int check_wire(FlashRun& f, PortBackend& port) {
    if (const PortResult r = port.check_wire(); !r) {
        f.report.system_error_msg("GetCommModemStatus", r.text);
        return 0;
    }
    return 1;
}

int purge_port(FlashRun& f, PortBackend& port) {
    const PurgeResult r = port.purge();
    // A printer holding CTS low keeps our bytes queued: the wait is bounded, and said so.
    if (r.drain_timed_out) {
        f.report.trace_line("%s Output did not drain within %u ms: input discarded\n", PURGE_TAG,
                            static_cast<unsigned>(r.waited_ms));
    }
    return r.ok ? 1 : 0;
}

int write_port(FlashRun& f, PortBackend& port, const uint8_t* data, uint32_t length) {
    return report_request(f, port, port.write(data, length));
}

int write_read_port(FlashRun& f, PortBackend& port, const uint8_t* data, uint32_t length,
                    uint8_t* reply, uint32_t capacity, uint32_t limit_ms) {
    return report_request(f, port, port.write_read(data, length, reply, capacity, limit_ms));
}

int read_port(FlashRun& f, PortBackend& port, uint8_t* buffer, uint32_t capacity,
              uint32_t limit_ms) {
    return report_request(f, port, port.read(buffer, capacity, limit_ms));
}

int read_port_block(FlashRun& f, PortBackend& port, uint8_t* buffer, uint32_t count,
                    uint32_t limit_ms) {
    return report_request(f, port, port.read_block(buffer, count, limit_ms));
}

}  // namespace vx
