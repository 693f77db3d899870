#include "usb_session.h"

#include <cstdio>

namespace vxsim {

bool parse_handshake(const std::string& text, std::optional<uint8_t>& out) {
    if (text == "ack") {
        out = USB_OPEN_ACK;
        return true;
    }
    if (text == "nak") {
        out = 0x15;
        return true;
    }
    if (text == "none") {
        out = std::nullopt;
        return true;
    }
    std::string hex = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
    if (hex.empty() || hex.size() > 2 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    out = static_cast<uint8_t>(std::stoul(hex, nullptr, 16));
    return true;
}

bool UsbSession::between_downloads() const {
    const Printer::State s = printer_.state();
    return s == Printer::State::idle || s == Printer::State::announcing ||
           s == Printer::State::silent;
}

void UsbSession::write(const uint8_t* data, size_t length, uint64_t now) {
    if (length == 0)
        return;
    printer_.tick(now);
    if (between_downloads()) {
        if (length == 1 && data[0] == USB_OPEN) {
            ++open_requests_;
            const bool silent = printer_.state() == Printer::State::silent;
            if (cfg_.handshake_reply && !silent) {
                char text[64];
                std::snprintf(text, sizeof text, "usb open request; answer 0x%02x",
                              static_cast<unsigned>(*cfg_.handshake_reply));
                printer_.note(now, text);
                out_.push_back(*cfg_.handshake_reply);
                open_ = *cfg_.handshake_reply == USB_OPEN_ACK;
            } else {
                printer_.note(now, "usb open request; no answer");
            }
            return;
        }
        if (length == 2 && data[0] == 0x1B && data[1] == 0x6C) {
            ++fallbacks_;
            printer_.note(now, "usb open without handshake (1b 6c)");
            return;
        }
        if (length == 1 && data[0] == USB_CLOSE) {
            ++closes_;
            open_ = false;
            printer_.note(now, "usb session closed");
            return;
        }
    }
    const bool in_bank = printer_.state() == Printer::State::bank;
    if (in_bank && length > 2)
        data_writes_.push_back(length);
    printer_.receive(data, length, now);
    // The bank's data is complete and its check bytes are still to come.
    if (in_bank && !cfg_.stray_after_bank.empty() && printer_.bank_bytes_missing() == 2) {
        printer_.note(now, "stray bytes after the bank's data");
        for (uint8_t b : cfg_.stray_after_bank)
            out_.push_back(b);
    }
}

std::vector<uint8_t> UsbSession::take_output(uint64_t now) {
    std::vector<uint8_t> bytes(out_.begin(), out_.end());
    out_.clear();
    for (uint8_t b : printer_.take_output(now))
        bytes.push_back(b);
    return bytes;
}

std::optional<uint64_t> UsbSession::next_due() const {
    if (!out_.empty())
        return 0;
    return printer_.next_due();
}

}  // namespace vxsim
