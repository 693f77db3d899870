// Commands a printer takes outside the download: the firmware release request and its closing
// command, and the dialogue of the IBM 4722 emulation (ESC [ c, a 16-bit little-endian
// length, then that many bytes).
#include <algorithm>
#include <cstdio>

#include "printer.h"

namespace vxsim {

namespace {

constexpr uint8_t RELEASE_REQUEST[3] = {0x1B, 0x20, 0x62};        // ESC SP b
constexpr uint8_t CLOSING_COMMAND[4] = {0x1B, 0x6C, 0x1B, 0x6E};  // ESC l ESC n
constexpr uint8_t EMULATION_PREFIX[3] = {0x1B, 0x5B, 0x63};       // ESC [ c
constexpr size_t EMULATION_HEAD = 5;                              // prefix and length
constexpr size_t EMULATION_MAX_PAYLOAD = 64;
// A command whose next byte is this late is dropped (the host gave up on it).
constexpr uint64_t COMMAND_GAP_MS = 200;
// Frame of the release answer around its text.
constexpr uint8_t RELEASE_LEAD[2] = {0x02, 0x20};
constexpr uint8_t RELEASE_TAIL[2] = {0x20, 0x03};

// Opening command, state query; the setting and final commands keep only the lower digit.
constexpr uint8_t CODE_OPENING = 0xCC;
constexpr uint8_t CODE_QUERY = 0xC5;
constexpr uint8_t LOW_SETTING = 0x05;
constexpr uint8_t LOW_FINAL = 0x06;

std::string hex_byte(uint8_t b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", b);
    return buf;
}

std::string hex_list(const std::vector<uint8_t>& bytes) {
    std::string s;
    for (uint8_t b : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", b);
        s += s.empty() ? "" : " ";
        s += buf;
    }
    return s;
}

// `got` can still become `cmd` (or is it).
bool could_be(const std::vector<uint8_t>& got, const uint8_t* cmd, size_t length) {
    return got.size() <= length && std::equal(got.begin(), got.end(), cmd);
}

bool is(const std::vector<uint8_t>& got, const uint8_t* cmd, size_t length) {
    return got.size() == length && std::equal(got.begin(), got.end(), cmd);
}

}  // namespace

std::vector<uint8_t> release_answer_bytes(const ReleaseAnswer& answer) {
    switch (answer.kind) {
        case ReleaseAnswer::silence:
            return {};
        case ReleaseAnswer::raw:
            return answer.bytes;
        case ReleaseAnswer::text:
            break;
    }
    std::vector<uint8_t> bytes(std::begin(RELEASE_LEAD), std::end(RELEASE_LEAD));
    bytes.insert(bytes.end(), answer.release.begin(), answer.release.end());
    bytes.insert(bytes.end(), std::begin(RELEASE_TAIL), std::end(RELEASE_TAIL));
    return bytes;
}

bool emulation_state_active(uint8_t state) {
    return state == 0x09 || state == 0x0B || state == 0x0D || state == 0x0F;
}

std::string Printer::rts_text() const {
    if (!rts_)
        return "RTS unknown";
    return *rts_ ? "RTS on" : "RTS off";
}

void Printer::host_command_byte(uint8_t b, uint64_t now) {
    if (!command_.empty() && now > command_at_ + COMMAND_GAP_MS) {
        event(now, "incomplete command dropped: " + hex_list(command_));
        command_.clear();
    }
    if (command_.empty() && b != 0x1B)
        return;
    command_.push_back(b);
    command_at_ = now;
    bool emulation = command_.size() <= sizeof EMULATION_PREFIX
                         ? could_be(command_, EMULATION_PREFIX, sizeof EMULATION_PREFIX)
                         : std::equal(std::begin(EMULATION_PREFIX), std::end(EMULATION_PREFIX),
                                      command_.begin());
    if (emulation && command_.size() >= EMULATION_HEAD &&
        (command_[3] | command_[4] << 8) > static_cast<int>(EMULATION_MAX_PAYLOAD)) {
        emulation = false;
    }
    if (!emulation && !could_be(command_, RELEASE_REQUEST, sizeof RELEASE_REQUEST) &&
        !could_be(command_, CLOSING_COMMAND, sizeof CLOSING_COMMAND)) {
        command_.clear();  // none of ours; an ESC may start the next one
        if (b == 0x1B)
            command_.push_back(b);
        return;
    }
    host_command(now);
}

// Acts on the command once it is complete.
void Printer::host_command(uint64_t now) {
    if (is(command_, RELEASE_REQUEST, sizeof RELEASE_REQUEST)) {
        ++release_requests_;
        const std::vector<uint8_t> answer = release_answer_bytes(cfg_.release);
        event(now, answer.empty() ? std::string("release request; no answer")
                                  : "release request; answer " + hex_list(answer));
        for (uint8_t b : answer)
            send(b, now);
        command_.clear();
        return;
    }
    if (is(command_, CLOSING_COMMAND, sizeof CLOSING_COMMAND)) {
        ++closing_commands_;
        event(now, "closing command");
        command_.clear();
        return;
    }
    if (command_.size() >= EMULATION_HEAD &&
        command_.size() == EMULATION_HEAD + (command_[3] | command_[4] << 8)) {
        emulation_command(now);
        command_.clear();
    }
}

void Printer::emulation_command(uint64_t now) {
    const std::vector<uint8_t> payload(command_.begin() + EMULATION_HEAD, command_.end());
    const std::string rts = " (" + rts_text() + ")";
    if (!emulation_.present) {
        event(now, "emulation command ignored, no emulation" + rts + ": " + hex_list(command_));
        return;
    }
    const uint8_t code = payload.size() >= 2 ? payload[1] : 0;
    const uint8_t upper = code & 0xF0;
    std::string what;
    if (code == CODE_OPENING) {
        what = "emulation opening command";
    } else if (code == CODE_QUERY) {
        what = "emulation state query";
    } else if ((code & 0x0F) == LOW_SETTING && payload.size() == 4) {
        emulation_.setting = static_cast<uint8_t>(upper | (emulation_.setting & 0x0F));
        what = "emulation setting command " + hex_byte(code);
    } else if ((code & 0x0F) == LOW_FINAL && payload.size() == 8) {
        emulation_.setting = static_cast<uint8_t>(upper | (emulation_.setting & 0x0F));
        emulation_.state = static_cast<uint8_t>(emulation_.state & ~0x01);
        what = "emulation final command " + hex_byte(code) + ", emulation off";
    } else {
        event(now, "emulation command not understood" + rts + ": " + hex_list(command_));
        return;
    }
    event(now, what + rts + " state=" + hex_byte(emulation_.state) +
                   " setting=" + hex_byte(emulation_.setting));
    const uint8_t reply[8] = {0x1B, 0x5B, 0x63, emulation_.state, 0x00, 0x01, emulation_.setting,
                              0x01};
    for (uint8_t b : reply)
        send(b, now);
}

bool Printer::download_blocked(uint64_t now) {
    if (!emulation_.present || !emulation_state_active(emulation_.state))
        return false;
    event(now, "download command ignored: IBM 4722 emulation active");
    return true;
}

}  // namespace vxsim
