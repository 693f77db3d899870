// The USB side of the printer: its bulk pipes carry the same download protocol as the serial
// line, framed by a session. The host opens it with 0x02 (the printer answers 0x06), falls
// back to 0x1B 0x6C when the printer does not answer, and ends it with 0x03. Session bytes
// are recognised only as whole writes while the printer is between downloads, so a data or
// check byte of the same value is never taken for one.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "printer.h"

namespace vxsim {

constexpr uint8_t USB_OPEN = 0x02;
constexpr uint8_t USB_OPEN_ACK = 0x06;
constexpr uint8_t USB_CLOSE = 0x03;
constexpr uint32_t USB_IN_REQUEST = 2048;

struct UsbConfig {
    // Answer to the open request: a byte (0x06 acknowledges, e.g. 0x15 refuses), or nothing.
    std::optional<uint8_t> handshake_reply = USB_OPEN_ACK;
    // Sent once each bank's data is complete, before its check bytes arrive (the host must
    // drain them before it sends the check bytes).
    std::vector<uint8_t> stray_after_bank;
};

// Parses "ack", "nak" (0x15), "none" or a hex byte. False for anything else.
bool parse_handshake(const std::string& text, std::optional<uint8_t>& out);

class UsbSession {
public:
    UsbSession(Printer& printer, UsbConfig cfg) : printer_(printer), cfg_(std::move(cfg)) {}

    // One bulk OUT transfer from the host, received at `now_ms`.
    void write(const uint8_t* data, size_t length, uint64_t now_ms);
    // What the printer sends up to `now_ms` on the bulk IN pipe.
    std::vector<uint8_t> take_output(uint64_t now_ms);
    std::optional<uint64_t> next_due() const;
    void tick(uint64_t now_ms) { printer_.tick(now_ms); }

    bool open() const { return open_; }
    uint32_t open_requests() const { return open_requests_; }
    uint32_t fallbacks() const { return fallbacks_; }
    uint32_t closes() const { return closes_; }
    // OUT transfers of bank data, by size (a page goes out as four 4096-byte writes).
    const std::vector<size_t>& data_write_sizes() const { return data_writes_; }

private:
    bool between_downloads() const;

    Printer& printer_;
    UsbConfig cfg_;
    std::deque<uint8_t> out_;
    bool open_ = false;
    uint32_t open_requests_ = 0;
    uint32_t fallbacks_ = 0;
    uint32_t closes_ = 0;
    std::vector<size_t> data_writes_;
};

}  // namespace vxsim
