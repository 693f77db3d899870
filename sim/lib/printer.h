// The printer's side of the serial download protocol, as a state machine fed with the bytes
// the host sends and the time; it does no I/O. The caller delivers received bytes with
// receive() and collects what the printer sends with take_output() whenever next_due() says.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vxsim {

constexpr uint32_t PAGE_BYTES = 16384;
constexpr uint8_t REPLY_STILL_WAITING = 0x00;
constexpr uint8_t REPLY_PROGRAMMING = 0x03;
constexpr uint8_t REPLY_RETRY = 0x06;
constexpr uint8_t REPLY_UNRECOVERABLE = 0x07;

// The sync character of a model (1 to 6); 0 for an unknown model.
uint8_t model_sync_char(int model);
// Speed code of the header -> bits per second; 0 for an unknown code.
uint32_t speed_code_baud(uint8_t code);

// One step of a bank's reply script.
struct ReplyStep {
    // lost: the bank is acknowledged and programmed, but the reply never reaches the host.
    enum Kind { byte, ok, silence, lost } kind = ok;
    uint8_t value = 0;  // for `byte`
};

// Replies to one bank (or to it and every later one). Banks are counted from 0 in the order
// they are sent, like the host's bank counter.
struct BankFault {
    uint32_t bank = 0;
    bool and_later = false;
    std::vector<ReplyStep> steps;
};

// Parses "N:LIST" or "N+:LIST", LIST being comma-separated steps: a hex byte ("06", "0x03"),
// "ok" (the sync character), "silence", "lost" (acknowledged without a reply reaching the
// host), or "BYTExK" (the byte K times). Examples: "2:06" (ask
// for bank 2 again, then ok), "1:00x3,ok", "0:07", "3+:silence". Returns false with `error` set.
bool parse_fault(const std::string& fault_text, BankFault& out, std::string& error);

// "41", "0x41": one byte. A comma-separated list of them appends to `out`; on a bad item it
// returns false with that item in `bad`.
bool parse_hex_byte(std::string text, uint8_t& out);
bool parse_hex_list(const std::string& text, std::vector<uint8_t>& out, std::string& bad);

// The printer's answer to the firmware release request (ESC SP b).
struct ReleaseAnswer {
    enum Kind { text, raw, silence } kind = text;
    std::string release = "1.05;A01;";  // `text`: framed by two bytes on each side
    std::vector<uint8_t> bytes;         // `raw`: sent as they are (a short answer, say)
};
// The answer's bytes; empty for silence.
std::vector<uint8_t> release_answer_bytes(const ReleaseAnswer& answer);

// An IBM 4722 emulation: it answers its hex-command dialogue with 8-byte replies carrying
// `state` (index 3) and `setting` (index 6). While `state` says active (0x09, 0x0B, 0x0D,
// 0x0F) the printer ignores the download command; the final command switches it off.
struct Emulation {
    bool present = false;
    uint8_t state = 0x0B;
    uint8_t setting = 0xA2;
};
bool emulation_state_active(uint8_t state);

// Something that happens in the middle of a bank, once `bytes` of its data have arrived:
// the line goes away (the printer is switched off or unplugged), the printer restarts,
// sending `garbage` and nothing after it, or it stalls: it stops taking bytes off the line
// (or the USB pipe) and stays silent, the line still there.
struct BankCut {
    enum Action { hang_up, reset, stall } action = hang_up;
    uint32_t bank = 0;  // counted from 0 in sending order, like BankFault
    uint32_t bytes = 1;
    std::vector<uint8_t> garbage;
};
// Parses "BANK:BYTES" (hang_up, stall) or "BANK:BYTES[:HEX,HEX...]" (reset; without bytes the
// garbage is ff 00 55 aa). Returns false with `error` set.
bool parse_bank_cut(const std::string& text, BankCut::Action action, BankCut& out,
                    std::string& error);

struct Config {
    int model = 3;
    std::optional<uint8_t> sync_char;   // answer detection with this instead of the model's
    bool silent = false;                // never sends a byte
    uint32_t forced_sync_ms = 0;        // >0: announce the sync char at this period while idle
    std::vector<uint8_t> stray;         // sent once at start, before anything else
    std::optional<uint8_t> header_ack;  // byte sent right after the header (none: unset)
    uint32_t ready_ms = 2500;           // after the header: the ready byte follows this late
    bool send_ready = true;
    uint32_t program_ms = 0;      // programming time of a bank before its reply
    uint32_t reply_gap_ms = 20;   // between the bytes of a multi-byte reply script
    uint32_t max_bad_checks = 3;  // consecutive check failures of a bank before 0x07
    uint32_t stall_ms = 20000;    // a transfer idle this long is abandoned (back to idle)
    std::vector<BankFault> faults;
    std::optional<BankCut> cut;
    ReleaseAnswer release;
    Emulation emulation;
};

struct TranscriptEntry {
    uint64_t t_ms = 0;
    enum Dir { rx, tx, event } dir = rx;
    std::vector<uint8_t> bytes;  // rx/tx
    std::string text;            // event
};

// One header as the printer understood it.
struct HeaderInfo {
    uint32_t begin_page = 0;
    uint32_t end_page = 0;
    uint8_t speed_code = 0;
    uint32_t baud = 0;
    std::vector<uint16_t> sections;  // model 6: start/end of FW, FPGA, CG
};

// Timing of one download, for benchmarks: header received, first data byte, last reply.
struct DownloadStats {
    uint64_t header_ms = 0;
    uint64_t first_data_ms = 0;
    uint64_t done_ms = 0;
    uint64_t data_bytes = 0;  // bank bytes received, check bytes and resends included
    uint32_t banks = 0;
    uint32_t baud = 0;  // announced in the header
    bool complete = false;
};

class Printer {
public:
    enum class State { idle, announcing, header, bank, replying, silent };

    explicit Printer(Config cfg, uint64_t now_ms = 0);

    // Bytes from the host, received at `now_ms`.
    void receive(const uint8_t* data, size_t length, uint64_t now_ms);
    // Bytes the printer sends up to `now_ms`, in order (recorded in the transcript).
    std::vector<uint8_t> take_output(uint64_t now_ms);
    // Time at which take_output() has something (or state changes); empty when nothing is due.
    std::optional<uint64_t> next_due() const;
    // Lets time pass without traffic (stalls, announcements).
    void tick(uint64_t now_ms);
    // The host's RTS line as the printer sees it (unknown until first set).
    void set_rts(bool on) { rts_ = on; }

    State state() const { return state_; }
    uint8_t sync_char() const { return sync_; }
    const Config& config() const { return cfg_; }
    // Last data written to each flash page, and how often each page was written.
    const std::map<uint32_t, std::vector<uint8_t>>& flash() const { return flash_; }
    const std::map<uint32_t, uint32_t>& page_writes() const { return page_writes_; }
    const std::vector<TranscriptEntry>& transcript() const { return transcript_; }
    const std::vector<HeaderInfo>& headers() const { return headers_; }
    // Downloads whose every bank was acknowledged; banks acknowledged in all.
    uint32_t downloads_done() const { return downloads_done_; }
    uint32_t banks_acked() const { return banks_acked_; }
    uint32_t check_failures() const { return check_failures_; }
    uint64_t bytes_received() const { return bytes_received_; }
    // The line went away (a BankCut of kind hang_up happened): the caller closes it.
    bool hung_up() const { return hung_up_; }
    // The printer takes no more bytes (a BankCut of kind stall happened): the caller stops
    // reading the line.
    bool stalled() const { return stalled_; }
    // Commands outside the download: release requests, closing commands, emulation commands.
    uint32_t release_requests() const { return release_requests_; }
    uint32_t closing_commands() const { return closing_commands_; }
    const Emulation& emulation() const { return emulation_; }
    const std::vector<DownloadStats>& downloads() const { return stats_; }

    // ---- USB session support (usb_session.cpp) ----
    // Bytes still missing from the bank being received (its check bytes included); 0 outside
    // a bank.
    size_t bank_bytes_missing() const {
        return state_ == State::bank && bank_data_.size() < bank_expected_
                   ? bank_expected_ - bank_data_.size()
                   : 0;
    }
    // An event of the session layer, in the transcript.
    void note(uint64_t now_ms, const std::string& text) { event(now_ms, text); }

private:
    struct Bank {
        uint32_t first = 0;  // page index within the transfer
        uint32_t pages = 0;
    };
    struct Pending {
        uint64_t due = 0;
        uint8_t byte = 0;
    };

    void on_byte(uint8_t b, uint64_t now);
    void go_idle(uint64_t now, const std::string& why);
    void parse_header(uint64_t now);
    void plan_banks(uint32_t begin, uint32_t end);
    void bank_complete(uint64_t now);
    bool cut_here(uint64_t now);
    void run_script(uint64_t now);
    const BankFault* fault_for(uint32_t bank) const;
    void send(uint8_t b, uint64_t due);
    void event(uint64_t now, const std::string& text);
    void log_rx(uint64_t now, const uint8_t* data, size_t n);
    // Release request, closing command and the emulation dialogue (printer_commands.cpp).
    void host_command_byte(uint8_t b, uint64_t now);
    void host_command(uint64_t now);
    void emulation_command(uint64_t now);
    bool download_blocked(uint64_t now);
    std::string rts_text() const;

    Config cfg_;
    uint8_t sync_ = 0;
    uint8_t detect_char_ = 0;
    State state_ = State::idle;
    std::vector<Pending> out_;
    std::vector<TranscriptEntry> transcript_;
    std::vector<uint8_t> window_;  // last bytes seen while idle (command match)
    std::vector<uint8_t> header_;
    size_t header_len_ = 0;
    uint64_t next_announce_ = 0;
    uint64_t last_rx_ = 0;

    HeaderInfo current_;
    std::vector<HeaderInfo> headers_;
    std::vector<Bank> banks_;
    size_t bank_index_ = 0;
    std::vector<uint8_t> bank_data_;
    size_t bank_expected_ = 0;
    uint32_t bad_checks_ = 0;
    std::vector<ReplyStep> script_;
    size_t script_pos_ = 0;
    uint64_t script_at_ = 0;

    std::map<uint32_t, std::vector<uint8_t>> flash_;
    std::map<uint32_t, uint32_t> page_writes_;
    uint32_t downloads_done_ = 0;
    uint32_t banks_acked_ = 0;
    uint32_t check_failures_ = 0;
    uint64_t bytes_received_ = 0;
    bool hung_up_ = false;
    bool stalled_ = false;
    std::vector<DownloadStats> stats_;

    std::vector<uint8_t> command_;  // a command outside the download, as far as received
    uint64_t command_at_ = 0;       // when its last byte came
    std::optional<bool> rts_;
    Emulation emulation_;
    uint32_t release_requests_ = 0;
    uint32_t closing_commands_ = 0;
};

const char* state_name(Printer::State s);

}  // namespace vxsim
