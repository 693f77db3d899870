#include "app/port_reports.h"

#include <cctype>

#include "app/message_format.h"
#include "app/message_ids.h"
#include "app/port_troubles.h"

namespace vx {

namespace {

// Trace tags of the port's own lines, kept whole so a search for a line finds its code.
constexpr const char* OPEN_PORT_TAG = "[FLASH][open_port]";
constexpr const char* OPEN_COM_TAG = "[FLASH][open_com]";

std::string upper(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

void report_open_failure(const PortOpening& f, const PortBackend& port, const PortResult& r) {
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

}  // namespace

PortSettings configured_port(const RunConfig& config) {
    PortSettings s;
    s.name = config.port_name;
    s.kind = static_cast<PortKind>(config.port_type);
    s.line = config.line;
    return s;
}

std::unique_ptr<PortBackend> make_configured_port(Platform& platform, const RunConfig& config) {
    return make_port_backend(platform, configured_port(config));
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

int open_port(const PortOpening& f, PortBackend& port, bool boot_line) {
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
            const std::string text = format_catalogue(f.texts.get_message(msg::PORT_HAS_PRINTER),
                                                      {printer.c_str(), name, name});
            f.report.user_message(nullptr, f.texts.get_message(msg::ERROR_CAPTION), text.c_str(),
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
            // Starting sets the line: any other failure is its refusal.
            PortTroubleReport(f.report).line_refused(port, r);
            return 0;
    }
}

}  // namespace vx
