// IBM 4722 emulation switch-off. A printer running the emulation never enters download mode,
// so before the download command the emulation's state is polled over hex-text commands,
// with RTS raised around each query, and an active emulation gets its setting byte rewritten
// and is switched to native mode.
#include "protocol/emulation.h"

#include <array>

#include "app/cls_flash.h"

namespace vx {

namespace {

constexpr size_t DIGIT_TO_REPLACE = 12;  // the upper digit of the seventh byte
constexpr uint8_t SETTING_ON = 0x40;     // set by both setting commands
constexpr uint8_t SETTING_FLIP = 0x20;   // flipped by the final command

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

int Cls_flash::disable_4722_emulation() {
    // Each exchange stores its reply from the start of this buffer; the setting byte of the
    // latest stored reply is the one the next command carries.
    std::array<uint8_t, EMULATION_REPLY_BYTES> reply{};
    PortBackend& line = port();
    auto exchange = [&](const std::string& text) {
        return send_hex_command(text.c_str(), static_cast<uint32_t>(text.size()), reply.data(),
                                static_cast<uint32_t>(reply.size()), 1);
    };

    if (!line.set_modem_line(ModemLine::rts, false)) {
        report.trace_line("%s", CLRRTS_ERROR);
        return 0;
    }
    if (!line.set_modem_line(ModemLine::dtr, true)) {
        report.trace_line("[FLASH][disable_4722_emulation] EscapeCommFunction SETDTR Error!\n");
        return 0;
    }
    exchange(EMULATION_OPENING);  // its reply says nothing we use

    // Every attempt sends the state query: the reply of the previous attempt is raw bytes,
    // not a command.
    bool active = false;
    for (int attempt = 0; attempt < EMULATION_POLL_ATTEMPTS && !active; ++attempt) {
        if (!line.set_modem_line(ModemLine::rts, true)) {
            report.trace_line("%s", SETRTS_ERROR);
            return 1;
        }
        const int got = exchange(EMULATION_STATE_QUERY);
        if (!line.set_modem_line(ModemLine::rts, false)) {
            report.trace_line("%s", CLRRTS_ERROR);
            return 1;
        }
        if (got == 0) {
            return 1;  // no emulation answers
        }
        active = emulation_active(reply[EMULATION_STATE_BYTE]);
    }
    if (!active) {
        return 1;
    }

    // The setting command twice, each from the latest reply, then the final command.
    for (int round = 0; round < 2; ++round) {
        if (!line.set_modem_line(ModemLine::rts, true)) {
            report.trace_line("%s", SETRTS_ERROR);
            return 1;
        }
        reply[EMULATION_SETTING_BYTE] |= SETTING_ON;
        exchange(emulation_command(EMULATION_STATE_QUERY, reply[EMULATION_SETTING_BYTE]));
        if (!line.set_modem_line(ModemLine::rts, false)) {
            report.trace_line("%s", CLRRTS_ERROR);
            return 1;
        }
    }
    reply[EMULATION_SETTING_BYTE] ^= SETTING_FLIP;
    exchange(emulation_command(EMULATION_FINAL, reply[EMULATION_SETTING_BYTE]));
    if (!line.set_modem_line(ModemLine::rts, false)) {
        report.trace_line("%s", CLRRTS_ERROR);
        return 1;
    }
    return 1;
}

}  // namespace vx
