// The printer's side of a run, step by step: model detection, the update decision, the
// download command, the header and the bank transfer. Each step works on the run's settings
// and session and one open port, and says how it ended; the procedure chooses what the user
// sees of it.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "port/port_backend.h"
#include "protocol/port_exchange.h"
#include "report/reporter.h"
#include "session/download_session.h"
#include "session/run_config.h"

namespace vx {

class TransferReport;

// What a protocol step works on.
struct ProtocolRun {
    Platform& platform;
    Reporter& report;
    // Hears the port calls that failed.
    PortTroubles& troubles;
    RunConfig& config;
    DownloadSession& session;
    // The bank on its way to the printer, kept whole for a resend (TX_BUFFER_SIZE bytes).
    std::vector<uint8_t>& sent_bank;
    // Set by the user to stop: looked at between bytes and banks.
    const std::atomic<bool>& stop_requested;
};

enum class DetectOutcome {
    detected,
    wrong_sync_char,  // the printer answered with a character that names no model
    wire_lost,        // the printer's modem lines could not be read
    no_answer,        // the download command got no sync character
};

struct Detection {
    DetectOutcome outcome = DetectOutcome::no_answer;
    bool ok() const { return outcome == DetectOutcome::detected; }
};

// Detects the printer's model (into the session, with whether it announced itself): it either
// announces itself in download mode, or answers the download command with its sync character.
Detection detect_printer_model(ProtocolRun& run, PortBackend& port);

enum class UpdateOutcome {
    update,      // the table names the image for the printer's release (now in fw_filename)
    no_release,  // the printer did not name its release
    no_table,    // flash.ini has no CONDITIONAL_TABLE section, or it names no file
    not_listed,  // the release has no entry: the printer is left as it is
};

struct UpdateDecision {
    UpdateOutcome outcome = UpdateOutcome::no_release;
    std::string release_key;  // the table key of the release, control bytes escaped
    bool needed() const { return outcome == UpdateOutcome::update; }
};

// Update decision from the printer's firmware release (CONDITIONAL_TABLE); sets fw_filename
// to the image the table names.
UpdateDecision decide_update(ProtocolRun& run, PortBackend& port);

// The printer does not enter download mode while its IBM 4722 emulation runs: switches the
// emulation off when it answers. False when a modem line could not be set at first.
bool disable_4722_emulation(Reporter& report, PortBackend& port);

enum class EntryOutcome {
    in_download_mode,
    no_answer,  // no sync character, or one that names no model; the port is closed
};

// The download command, unless the printer is in download mode already.
EntryOutcome send_download_cmd(ProtocolRun& run, TransferReport& progress, PortBackend& port);

enum class HeaderOutcome {
    sent,
    range_beyond_flash,   // the last page lies past the model's flash
    range_unaddressable,  // the header cannot name a page of the range
    speed_unreadable,     // the port's maximum speed could not be read
    speed_unsupported,    // the download speed has no header code
};

// The page range and the download speed, then our own line switched to that speed: the
// download line stays the run's line from here on.
HeaderOutcome send_header(ProtocolRun& run, TransferReport& progress, PortBackend& port);

enum class TransferOutcome {
    completed,
    image_unreadable,     // the file could not be read, or no longer holds the checked bytes
    range_outside_image,  // the page range does not lie inside the image
    stopped,              // the user asked to stop
    write_failed,         // the port took no more data
    no_reply,             // the printer stayed silent through every reply wait
    resends_exhausted,    // the printer asked for the bank again too often
    refused,              // the printer answered with an unrecoverable error
    no_acknowledge,       // the printer answered but never acknowledged within the limit
};

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::completed;
    uint32_t banks_sent = 0;  // acknowledged banks
    uint32_t banks = 0;       // banks of the range
    bool ok() const { return outcome == TransferOutcome::completed; }
};

// One bank transfer of the session's page range from the configured file; `progress` hears
// its steps. `tag` is written into a first VX3E page (null: the file's own bytes).
TransferResult download_image(ProtocolRun& run, TransferReport& progress, PortBackend& port,
                              const char* tag);

}  // namespace vx
