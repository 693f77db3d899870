// The emulation switch-off's pure parts: its hex-text commands and how the setting and final
// commands carry the printer's setting byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vx {

class PortBackend;

// Commands as hex text, two digits a byte.
inline constexpr char EMULATION_OPENING[] = "1b5b63040001cc0101";
inline constexpr char EMULATION_STATE_QUERY[] = "1b5b63040001c50101";
inline constexpr char EMULATION_FINAL[] = "1b5b63080001d61b7d20340101";

constexpr size_t EMULATION_REPLY_BYTES = 256;
// Where a reply carries the emulation's state and its setting byte.
constexpr size_t EMULATION_STATE_BYTE = 3;
constexpr size_t EMULATION_SETTING_BYTE = 6;
// Poll attempts before the emulation is taken as inactive.
constexpr int EMULATION_POLL_ATTEMPTS = 100;

// State bytes that mean the emulation is running.
bool emulation_active(uint8_t state);

// `base` with the upper digit of its seventh byte (the 13th character) replaced by the upper
// hex digit of `setting`, lower case. A base shorter than 13 characters comes back unchanged.
std::string emulation_command(const char* base, uint8_t setting);

// The bytes of a hex-text command, at most 256: two digits a byte, either case; an odd last
// digit or a non-hex character ends it.
std::vector<uint8_t> hex_bytes(const std::string& text);

// Sends a hex-text command as bytes and collects the reply in 8-byte chunks, 50 ms each;
// bytes stored, 0 when the first chunk is not whole.
int hex_exchange(PortBackend& port, const std::string& text, uint8_t* reply, uint32_t capacity);

}  // namespace vx
