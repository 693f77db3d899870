// IBM 4722 emulation switch-off. A printer running the emulation never enters download mode,
// so before the download command the emulation's state is polled over hex-text commands,
// with RTS raised around each query, and an active emulation gets its setting byte rewritten
// and is switched to native mode.
#include "protocol/emulation.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "protocol/printer_protocol.h"

namespace vx {

namespace {

constexpr size_t DIGIT_TO_REPLACE = 12;  // the upper digit of the seventh byte
constexpr uint8_t SETTING_ON = 0x40;     // set by both setting commands
constexpr uint8_t SETTING_FLIP = 0x20;   // flipped by the final command
constexpr uint32_t HEX_REPLY_LIMIT_MS = 50;
constexpr uint32_t HEX_WORK_BYTES = 256;
constexpr uint32_t HEX_CHUNK = 8;

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const char* const CLRRTS_ERROR =
    "[FLASH][disable_4722_emulation] EscapeCommFunction CLRRTS Error!\n";
const char* const SETRTS_ERROR =
    "[FLASH][disable_4722_emulation] EscapeCommFunction SETRTS Error!\n";

}  // namespace

bool emulation_active(uint8_t state) {
    return state == 0x09 || state == 0x0B || state == 0x0D || state == 0x0F;
}

// The command's seventh byte becomes the setting's upper digit followed by the command's own
// lower digit. Digits 0 to 9 are written as such: the character 0x57 + n is a hex digit only
// from 10 on ("a" to "f").
std::string emulation_command(const char* base, uint8_t setting) {
    std::string text = base != nullptr ? base : "";
    if (text.size() > DIGIT_TO_REPLACE) {
        text[DIGIT_TO_REPLACE] = "0123456789abcdef"[setting >> 4];
    }
    return text;
}

// Two digits per byte; an odd digit or a non-hex character ends the command.
std::vector<uint8_t> hex_bytes(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t at = 0; at + 1 < text.size() && out.size() < HEX_WORK_BYTES; at += 2) {
        const int high = hex_digit(text[at]);
        const int low = hex_digit(text[at + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        out.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return out;
}

int hex_exchange(PortBackend& port, const std::string& text, uint8_t* reply, uint32_t capacity) {
    const std::vector<uint8_t> command = hex_bytes(text);
    if (!port.is_open()) {
        return 0;
    }
    if (!command.empty()) {
        port.write(command.data(), static_cast<uint32_t>(command.size()));
    }
    if (reply == nullptr || capacity == 0) {
        return 0;
    }
    // The reply comes in 8-byte chunks; the first must be whole.
    std::memset(reply, 0, std::min<uint32_t>(4, capacity));
    uint32_t collected = 0;
    bool first = true;
    while (collected < capacity) {
        uint8_t chunk[HEX_CHUNK] = {};
        const uint32_t got = static_cast<uint32_t>(
            std::max(0, port.read_block(chunk, HEX_CHUNK, HEX_REPLY_LIMIT_MS)));
        if (first && got != HEX_CHUNK) {
            return 0;
        }
        first = false;
        if (got == 0) {
            break;
        }
        // The reply never grows past the caller's capacity.
        const uint32_t take = std::min(got, capacity - collected);
        std::memcpy(reply + collected, chunk, take);
        collected += take;
    }
    return static_cast<int>(collected);
}

bool disable_4722_emulation(Reporter& report, PortBackend& line) {
    // Each exchange stores its reply from the start of this buffer; the setting byte of the
    // latest stored reply is the one the next command carries.
    std::array<uint8_t, EMULATION_REPLY_BYTES> reply{};
    auto exchange = [&](const std::string& text) {
        return hex_exchange(line, text, reply.data(), static_cast<uint32_t>(reply.size()));
    };

    if (!line.set_modem_line(ModemLine::rts, false)) {
        report.trace_line("%s", CLRRTS_ERROR);
        return false;
    }
    if (!line.set_modem_line(ModemLine::dtr, true)) {
        report.trace_line("[FLASH][disable_4722_emulation] EscapeCommFunction SETDTR Error!\n");
        return false;
    }
    exchange(EMULATION_OPENING);  // its reply says nothing we use

    // Every attempt sends the state query: the reply of the previous attempt is raw bytes,
    // not a command.
    bool active = false;
    for (int attempt = 0; attempt < EMULATION_POLL_ATTEMPTS && !active; ++attempt) {
        if (!line.set_modem_line(ModemLine::rts, true)) {
            report.trace_line("%s", SETRTS_ERROR);
            return true;
        }
        const int got = exchange(EMULATION_STATE_QUERY);
        if (!line.set_modem_line(ModemLine::rts, false)) {
            report.trace_line("%s", CLRRTS_ERROR);
            return true;
        }
        if (got == 0) {
            return true;  // no emulation answers
        }
        active = emulation_active(reply[EMULATION_STATE_BYTE]);
    }
    if (!active) {
        return true;
    }

    // The setting command twice, each from the latest reply, then the final command.
    for (int round = 0; round < 2; ++round) {
        if (!line.set_modem_line(ModemLine::rts, true)) {
            report.trace_line("%s", SETRTS_ERROR);
            return true;
        }
        reply[EMULATION_SETTING_BYTE] |= SETTING_ON;
        exchange(emulation_command(EMULATION_STATE_QUERY, reply[EMULATION_SETTING_BYTE]));
        if (!line.set_modem_line(ModemLine::rts, false)) {
            report.trace_line("%s", CLRRTS_ERROR);
            return true;
        }
    }
    reply[EMULATION_SETTING_BYTE] ^= SETTING_FLIP;
    exchange(emulation_command(EMULATION_FINAL, reply[EMULATION_SETTING_BYTE]));
    if (!line.set_modem_line(ModemLine::rts, false)) {
        report.trace_line("%s", CLRRTS_ERROR);
        return true;
    }
    return true;
}

}  // namespace vx
