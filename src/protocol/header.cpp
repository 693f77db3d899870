// Download header: the page range and the line speed the printer should expect, then the
// switch of our own line to that speed.
#include <cstdint>

#include "app/flash_run.h"
#include "app/port_reports.h"
#include "protocol/run_timing.h"
#include "protocol/transfer_report.h"

namespace vx {

int FlashRun::send_header(TransferReport& progress, PortBackend& port) {
    progress.link_ready();
    report.trace_line("[FLASH][send_header] Sendheader\n");

    if (session.end_page > session.max_page) {
        report.trace_line("[FLASH][send_header] Invalid endpage=%d  number ( Max %d ) !\n",
                          static_cast<int>(session.end_page), static_cast<int>(session.max_page));
        return 0;
    }
    // A page the header cannot name would be announced as another one, and the printer would
    // write the data there.
    if (!header_can_say(session.printer_model, session.begin_page, session.end_page)) {
        report.trace_line(
            "[FLASH][send_header] Invalid page range begin_page=%u end_page=%u: model %d cannot "
            "address it !\n",
            static_cast<unsigned>(session.begin_page), static_cast<unsigned>(session.end_page),
            session.printer_model);
        return 0;
    }

    config.line.baud = config.config_baud;
    const PortCapabilities caps = port.capabilities();
    // A port without a line speed shows a blank where the speed would be.
    auto show_speed = [&] { progress.line_speed(caps.shows_line_speed, config.send_baud); };
    if (!session.printer_announced) {
        uint32_t flag = 0;
        if (caps.max_baud_report && !port.max_baud(flag)) {
            progress.link_refused(LinkRefusal::speed_unreadable);
            return 0;
        }
        if (!keeps_download_speed(flag))
            config.send_baud = 9600;
        show_speed();
        progress.step(TransferStep::ready);
    } else {
        set_port_line(*this, port, BOOT_LINE);
        show_speed();
    }

    report.trace_line("[FLASH][send_header] Send begin_page=%d end_page=%d !\n",
                      static_cast<int>(session.begin_page), static_cast<int>(session.end_page));

    auto send_item = [&](uint8_t hi, uint8_t lo) {
        const uint8_t item[2] = {hi, lo};
        write_read_port(*this, port, item, 2, nullptr, 0);
    };
    if (session.printer_model == VX3E_MODEL) {
        const uint8_t begin = static_cast<uint8_t>(session.begin_page & 0xFF);
        const uint8_t end = static_cast<uint8_t>(session.end_page & 0xFF);
        write_read_port(*this, port, &begin, 1, nullptr, 0);
        write_read_port(*this, port, &end, 1, nullptr, 0);
    } else if (session.printer_model == KD5_ADF_L2_MODEL) {
        for (uint16_t v : {session.start_fw, session.end_fw, session.start_FPGA, session.end_FPGA,
                           session.start_cg, session.end_cg}) {
            send_item(static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF));
        }
    } else {
        // The printer takes the begin page's high byte as always 0.
        send_item(0x00, static_cast<uint8_t>(session.begin_page & 0xFF));
        send_item(static_cast<uint8_t>((session.end_page >> 8) & 0xFF),
                  static_cast<uint8_t>(session.end_page & 0xFF));
    }

    uint8_t code = 0;
    if (session.printer_model == VX3E_MODEL && config.send_baud == 115200 &&
        !session.printer_announced && config.line.baud == 4800) {
        report.trace_line("[FLASH][send_header] Change Baud send to 38400 \n");
        code = 0x70;
        config.send_baud = 38400;
    } else if (!speed_code(config.send_baud, code)) {
        progress.link_refused(LinkRefusal::speed_unsupported);
        return 0;
    }

    report.trace_line("[FLASH][send_header] Send baud_rate=0x%x\n", static_cast<unsigned>(code));
    uint8_t reply[1] = {};
    if (session.printer_model == VX3E_MODEL) {
        write_read_port(*this, port, &code, 1, reply, 1);
    } else {
        const uint8_t item[2] = {0x00, code};
        write_read_port(*this, port, item, 2, reply, 1);
    }

    show_speed();
    platform.clock.sleep_ms(wait_ms::SPEED_SWITCH);

    // The download line (8 data bits, no parity, one stop bit) is the run's line from here
    // on: a later step's detection sets it again.
    config.line = LineSettings{config.send_baud, 8, 0, 0};
    set_port_line(*this, port, config.line);

    purge_port(*this, port);
    read_port(*this, port, reply, 1, 5000);
    return 1;
}

}  // namespace vx
