// Download header: the page range and the line speed the printer should expect, then the
// switch of our own line to that speed.
#include <cstdint>

#include "protocol/port_exchange.h"
#include "protocol/printer_protocol.h"
#include "protocol/run_timing.h"
#include "protocol/transfer_report.h"

namespace vx {

HeaderOutcome send_header(ProtocolRun& run, TransferReport& progress, PortBackend& port) {
    progress.link_ready();
    run.report.trace_line("[FLASH][send_header] Sendheader\n");

    if (run.session.end_page > run.session.max_page) {
        run.report.trace_line("[FLASH][send_header] Invalid endpage=%d  number ( Max %d ) !\n",
                              static_cast<int>(run.session.end_page),
                              static_cast<int>(run.session.max_page));
        return HeaderOutcome::range_beyond_flash;
    }
    // A page the header cannot name would be announced as another one, and the printer would
    // write the data there.
    if (!header_can_say(run.session.printer_model, run.session.begin_page, run.session.end_page)) {
        run.report.trace_line(
            "[FLASH][send_header] Invalid page range begin_page=%u end_page=%u: model %d cannot "
            "address it !\n",
            static_cast<unsigned>(run.session.begin_page),
            static_cast<unsigned>(run.session.end_page), run.session.printer_model);
        return HeaderOutcome::range_unaddressable;
    }

    run.config.line.baud = run.config.config_baud;
    const PortCapabilities caps = port.capabilities();
    // A port without a line speed shows a blank where the speed would be.
    auto show_speed = [&] { progress.line_speed(caps.shows_line_speed, run.config.send_baud); };
    if (!run.session.printer_announced) {
        uint32_t flag = 0;
        if (caps.max_baud_report && !port.max_baud(flag)) {
            progress.link_refused(LinkRefusal::speed_unreadable);
            return HeaderOutcome::speed_unreadable;
        }
        if (!keeps_download_speed(flag))
            run.config.send_baud = 9600;
        show_speed();
        progress.step(TransferStep::ready);
    } else {
        set_port_line(run.troubles, port, BOOT_LINE);
        show_speed();
    }

    run.report.trace_line("[FLASH][send_header] Send begin_page=%d end_page=%d !\n",
                          static_cast<int>(run.session.begin_page),
                          static_cast<int>(run.session.end_page));

    auto send_item = [&](uint8_t hi, uint8_t lo) {
        const uint8_t item[2] = {hi, lo};
        write_read_port(run.troubles, port, item, 2, nullptr, 0);
    };
    if (run.session.printer_model == VX3E_MODEL) {
        const uint8_t begin = static_cast<uint8_t>(run.session.begin_page & 0xFF);
        const uint8_t end = static_cast<uint8_t>(run.session.end_page & 0xFF);
        write_read_port(run.troubles, port, &begin, 1, nullptr, 0);
        write_read_port(run.troubles, port, &end, 1, nullptr, 0);
    } else if (run.session.printer_model == KD5_ADF_L2_MODEL) {
        for (uint16_t v : {run.session.start_fw, run.session.end_fw, run.session.start_FPGA,
                           run.session.end_FPGA, run.session.start_cg, run.session.end_cg}) {
            send_item(static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF));
        }
    } else {
        // The printer takes the begin page's high byte as always 0.
        send_item(0x00, static_cast<uint8_t>(run.session.begin_page & 0xFF));
        send_item(static_cast<uint8_t>((run.session.end_page >> 8) & 0xFF),
                  static_cast<uint8_t>(run.session.end_page & 0xFF));
    }

    uint8_t code = 0;
    if (run.session.printer_model == VX3E_MODEL && run.config.send_baud == 115200 &&
        !run.session.printer_announced && run.config.line.baud == 4800) {
        run.report.trace_line("[FLASH][send_header] Change Baud send to 38400 \n");
        code = 0x70;
        run.config.send_baud = 38400;
    } else if (!speed_code(run.config.send_baud, code)) {
        progress.link_refused(LinkRefusal::speed_unsupported);
        return HeaderOutcome::speed_unsupported;
    }

    run.report.trace_line("[FLASH][send_header] Send baud_rate=0x%x\n",
                          static_cast<unsigned>(code));
    uint8_t reply[1] = {};
    if (run.session.printer_model == VX3E_MODEL) {
        write_read_port(run.troubles, port, &code, 1, reply, 1);
    } else {
        const uint8_t item[2] = {0x00, code};
        write_read_port(run.troubles, port, item, 2, reply, 1);
    }

    show_speed();
    run.platform.clock.sleep_ms(wait_ms::SPEED_SWITCH);

    // The download line (8 data bits, no parity, one stop bit) is the run's line from here
    // on: a later step's detection sets it again.
    run.config.line = LineSettings{run.config.send_baud, 8, 0, 0};
    set_port_line(run.troubles, port, run.config.line);

    purge_port(run.troubles, port);
    read_port(run.troubles, port, reply, 1, 5000);
    return HeaderOutcome::sent;
}

}  // namespace vx
