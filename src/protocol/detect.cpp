// Download-mode entry and model detection: the printer answers the download command (or
// announces itself) with one sync character that names its model.
#include <cstring>

#include "protocol/port_exchange.h"
#include "protocol/printer_protocol.h"
#include "protocol/run_timing.h"
#include "protocol/transfer_report.h"

namespace vx {

namespace {

constexpr uint8_t DOWNLOAD_CMD[3] = {0x1B, 0x7D, 0x7B};  // ESC } {
constexpr uint32_t SYNC_REPLY_TIMEOUT_MS = 10000;

int model_of_sync_char(uint8_t c) {
    switch (c) {
        case 0x05:
            return VX3E_MODEL;
        case 0x16:
            return VX3PLUS_MODEL;
        case 0x17:
            return VX3PLUS_CR_MODEL;
        case 0x18:
            return VX3PLUS_SC_MODEL;
        case 0x1A:
            return KD5_ADF_L1_MODEL;
        case 0x20:
            return KD5_ADF_L2_MODEL;
        default:
            return 0;
    }
}

// The two procedures name the KD5 models differently in the trace.
const char* model_line(int model, bool forced) {
    switch (model) {
        case VX3E_MODEL:
            return "[FLASH][DetectPrinterModel] $$$$ VX3E_MODE detected $$$$\n\n";
        case VX3PLUS_MODEL:
            return "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_MODEL detected $$$$\n\n";
        case VX3PLUS_CR_MODEL:
            return "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_CR_MODEL detected $$$$\n\n";
        case VX3PLUS_SC_MODEL:
            return "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_SC_MODEL detected $$$$\n\n";
        case KD5_ADF_L1_MODEL:
            return forced ? "[FLASH][DetectPrinterModel] $$$$ KD5_ADF_L1_MODEL detected $$$$\n\n"
                          : "[FLASH][DetectPrinterModel] $$$$ KD5_ADF_MODEL_L1 detected $$$$\n\n";
        default:
            return forced ? "[FLASH][DetectPrinterModel] $$$$ KD5_ADF_L2_MODEL detected $$$$\n\n"
                          : "[FLASH][DetectPrinterModel] $$$$ KD5_ADF_MODEL detected $$$$\n\n";
    }
}

}  // namespace

Detection detect_printer_model(ProtocolRun& run, PortBackend& port) {
    run.report.trace_line("\n[FLASH][DetectPrinterModel]\n");
    run.session.in_download_mode = false;
    uint8_t reply[REPLY_BUFFER_SIZE] = {};
    const PortCapabilities caps = port.capabilities();

    int received = 0;
    if (caps.forced_sync_probe) {
        purge_port(run.troubles, port);
        received = read_port_block(run.troubles, port, reply, 1, wait_ms::FORCED_SYNC_PROBE);
        run.report.trace_line("[FLASH][DetectPrinterModel] received %d bytes.\n", received);
    }

    if (received > 0) {
        // The printer announces itself: it is in download mode already.
        run.session.printer_announced = true;
        run.session.in_download_mode = true;
        run.report.trace_line(
            "[FLASH][DetectPrinterModel] FLASH FORCED_SYNC PROCEDURE - SYNC_CHAR 0x16=Vx3plus "
            "0x05=Vx3E 0x17=Vx3plusNE 0x18=Vx3plusNE Scanner 0x1A=KD5-ADF-L1 0x20=KD5-ADF) \n");
        run.report.trace_line(
            "[FLASH][DetectPrinterModel] FLASH FORCED_SYNC PROCEDURE - SYNC_CHAR = 0x%x \n",
            static_cast<unsigned>(reply[0]));
        const int model = model_of_sync_char(reply[0]);
        if (model == 0) {
            run.report.trace_line("[FLASH][DetectPrinterModel] Incorrect SYNC CHAR !\n\n");
            return Detection{DetectOutcome::wrong_sync_char};
        }
        run.session.printer_model = model;
        run.report.trace_line("%s", model_line(model, true));
        if (!check_wire(run.troubles, port)) {
            run.report.trace_line("[FLASH][DetectPrinterModel] check_wire Error !\n\n");
            return Detection{DetectOutcome::wire_lost};
        }
        if (caps.modem_lines) {
            port.set_rts();
            set_port_line(run.troubles, port, run.config.line);
        }
        return Detection{DetectOutcome::detected};
    }

    run.report.trace_line("[FLASH][DetectPrinterModel] FLASH NOT FORCED_SYNC PROCEDURE.\n");
    run.session.printer_announced = false;
    if (run.config.ibm_emulation) {
        run.report.trace_line("[FLASH][send_download_cmd] disable_4722_emulation !\n");
        disable_4722_emulation(run.report, port);
    }
    if (caps.modem_lines) {
        if (!check_wire(run.troubles, port)) {
            run.report.trace_line("[FLASH][DetectPrinterModel] check_wire Error !\n\n");
            return Detection{DetectOutcome::wire_lost};
        }
        if (!run.config.ibm_emulation) {
            port.set_rts();
        }
        set_port_line(run.troubles, port, run.config.line);
    }

    write_read_port(run.troubles, port, DOWNLOAD_CMD, sizeof DOWNLOAD_CMD, nullptr, 0);
    run.report.trace_line("[Cls_flash][DetectPrinterModel] Cmd ESC {} sent \n");
    std::memset(reply, 0, sizeof reply);
    received = read_port(run.troubles, port, reply, 1, SYNC_REPLY_TIMEOUT_MS);
    run.report.trace_line("[Cls_flash][DetectPrinterModel] received %d bytes.\n", received);
    if (received != 1) {
        run.report.trace_line("[FLASH][DetectPrinterModel] SYNC_CHAR not received !\n\n");
        return Detection{DetectOutcome::no_answer};
    }
    run.session.in_download_mode = true;
    run.report.trace_line(
        "[Cls_flash][DetectPrinterModel] RECEIVED SYNC_REPLY_CODE = 0x%x - 0x16=Vx3plus "
        "0x05=Vx3E 0x17=Vx3plusNE 0x18=Vx3plusNE Scanner)) \n",
        static_cast<unsigned>(reply[0]));
    const int model = model_of_sync_char(reply[0]);
    if (model == 0) {
        run.report.trace_line("[FLASH][DetectPrinterModel] Incorrect SYNC CHAR ! !\n\n");
        return Detection{DetectOutcome::wrong_sync_char};
    }
    run.session.printer_model = model;
    run.report.trace_line("%s", model_line(model, false));
    return Detection{DetectOutcome::detected};
}

EntryOutcome send_download_cmd(ProtocolRun& run, TransferReport& progress, PortBackend& port) {
    uint8_t reply[REPLY_BUFFER_SIZE] = {};
    progress.link_ready();
    run.report.trace_line("[FLASH][send_download_cmd] send_download_cmd\n");
    if (run.session.in_download_mode) {
        return EntryOutcome::in_download_mode;  // already
    }

    write_read_port(run.troubles, port, DOWNLOAD_CMD, sizeof DOWNLOAD_CMD, nullptr, 0);
    run.report.trace_line("[Cls_flash][send_download_cmd] Cmd ESC {} sent \n");
    const int received = read_port(run.troubles, port, reply, 1, SYNC_REPLY_TIMEOUT_MS);
    run.report.trace_line("[Cls_flash][send_download_cmd] received %d bytes.\n", received);
    if (received == 1) {
        run.report.trace_line(
            "[Cls_flash][send_download_cmd] SYNC_CHAR 0x16=Vx3plus 0x05=Vx3E 0x17=Vx3plusNE "
            "0x18=Vx3plusNE Scanner 0x1A=KD5-ADF-L1 0x20=KD5-ADF) \n");
        run.report.trace_line("[Cls_flash][send_download_cmd] SYNC_CHAR = 0x%x \n",
                              static_cast<unsigned>(reply[0]));
        run.session.in_download_mode = true;
        const int model = model_of_sync_char(reply[0]);
        if (model != 0) {
            run.session.printer_model = model;
            return EntryOutcome::in_download_mode;
        }
        run.report.trace_line(
            "[Cls_flash][send_download_cmd] STX_REPLY_CODE not received. ( 0x16 or 0x05 or "
            "0x17 )\n");
    }
    progress.link_refused(LinkRefusal::no_answer);
    port.close();
    return EntryOutcome::no_answer;
}

}  // namespace vx
