#include "printer.h"

#include <algorithm>
#include <cstdio>

namespace vxsim {

namespace {

constexpr uint8_t DOWNLOAD_CMD[3] = {0x1B, 0x7D, 0x7B};

std::string hex2(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02x", static_cast<unsigned>(v));
    return buf;
}

bool is_ack(uint8_t b) {
    return b == 0x05 || b == 0x16 || b == 0x17 || b == 0x18 || b == 0x1A || b == 0x20;
}

size_t header_length(int model) {
    if (model == 1)
        return 3;
    if (model == 6)
        return 14;
    return 6;
}

}  // namespace

uint8_t model_sync_char(int model) {
    static const uint8_t chars[] = {0, 0x05, 0x16, 0x17, 0x18, 0x1A, 0x20};
    return model >= 1 && model <= 6 ? chars[model] : 0;
}

uint32_t speed_code_baud(uint8_t code) {
    switch (code) {
        case 0x90:
            return 9600;
        case 0x80:
            return 19200;
        case 0x70:
            return 38400;
        case 0x66:
            return 57600;
        case 0x56:
            return 115200;
        default:
            return 0;
    }
}

const char* state_name(Printer::State s) {
    switch (s) {
        case Printer::State::idle:
            return "idle";
        case Printer::State::announcing:
            return "announcing";
        case Printer::State::header:
            return "header";
        case Printer::State::bank:
            return "bank";
        case Printer::State::replying:
            return "replying";
        case Printer::State::silent:
            return "silent";
    }
    return "?";
}

bool parse_fault(const std::string& fault_text, BankFault& out, std::string& error) {
    out = BankFault{};
    size_t colon = fault_text.find(':');
    if (colon == std::string::npos || colon == 0) {
        error = "expected BANK:REPLIES, e.g. 2:06";
        return false;
    }
    std::string bank = fault_text.substr(0, colon);
    if (bank.back() == '+') {
        out.and_later = true;
        bank.pop_back();
    }
    if (bank.empty() || bank.size() > 9 ||
        bank.find_first_not_of("0123456789") != std::string::npos) {
        error = "bad bank number '" + bank + "'";
        return false;
    }
    out.bank = static_cast<uint32_t>(std::stoul(bank));
    std::string list = fault_text.substr(colon + 1);
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        std::string item =
            list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? list.size() + 1 : comma + 1;
        if (item == "ok") {
            out.steps.push_back({ReplyStep::ok, 0});
            continue;
        }
        if (item == "silence") {
            out.steps.push_back({ReplyStep::silence, 0});
            continue;
        }
        if (item == "lost") {
            out.steps.push_back({ReplyStep::lost, 0});
            continue;
        }
        uint32_t times = 1;
        size_t x = item.find('x', item.rfind("0x", 0) == 0 ? 2 : 0);
        std::string value = item;
        if (x != std::string::npos) {
            std::string count = item.substr(x + 1);
            if (count.empty() || count.size() > 4 ||
                count.find_first_not_of("0123456789") != std::string::npos) {
                error = "bad repeat count in '" + item + "'";
                return false;
            }
            times = static_cast<uint32_t>(std::stoul(count));
            value = item.substr(0, x);
        }
        if (value.rfind("0x", 0) == 0)
            value = value.substr(2);
        if (value.empty() || value.size() > 2 ||
            value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            error = "bad reply '" + item + "' (hex byte, ok, silence or lost)";
            return false;
        }
        uint8_t b = static_cast<uint8_t>(std::stoul(value, nullptr, 16));
        for (uint32_t i = 0; i < times; ++i)
            out.steps.push_back({ReplyStep::byte, b});
    }
    if (out.steps.empty()) {
        error = "no replies given";
        return false;
    }
    return true;
}

bool parse_hex_byte(std::string text, uint8_t& out) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)
        text = text.substr(2);
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    out = static_cast<uint8_t>(std::stoul(text, nullptr, 16));
    return true;
}

bool parse_hex_list(const std::string& text, std::vector<uint8_t>& out, std::string& bad) {
    size_t pos = 0;
    while (pos <= text.size()) {
        const size_t comma = text.find(',', pos);
        const std::string item =
            text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        uint8_t b = 0;
        if (!parse_hex_byte(item, b)) {
            bad = item;
            return false;
        }
        out.push_back(b);
        pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
    }
    return true;
}

bool parse_bank_cut(const std::string& text, BankCut::Action action, BankCut& out,
                    std::string& error) {
    out = BankCut{};
    out.action = action;
    auto number = [](const std::string& s, uint32_t& v) {
        if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
            return false;
        v = static_cast<uint32_t>(std::stoul(s));
        return true;
    };
    const size_t colon = text.find(':');
    const size_t second = colon == std::string::npos ? colon : text.find(':', colon + 1);
    const std::string bytes =
        colon == std::string::npos
            ? ""
            : text.substr(colon + 1,
                          second == std::string::npos ? std::string::npos : second - colon - 1);
    if (colon == std::string::npos || !number(text.substr(0, colon), out.bank) ||
        !number(bytes, out.bytes) || out.bytes == 0) {
        error = "expected BANK:BYTES with BYTES at least 1, e.g. 1:5000";
        return false;
    }
    if (second != std::string::npos && action != BankCut::reset) {
        error = "no bytes after BANK:BYTES here";
        return false;
    }
    if (action == BankCut::reset && second == std::string::npos) {
        out.garbage = {0xFF, 0x00, 0x55, 0xAA};
        return true;
    }
    const std::string list = second == std::string::npos ? "" : text.substr(second + 1);
    std::string bad;
    if (!list.empty() && !parse_hex_list(list, out.garbage, bad)) {
        error = "bad garbage byte '" + bad + "'";
        return false;
    }
    if (action == BankCut::reset && out.garbage.empty()) {
        error = "no garbage bytes after BANK:BYTES:";
        return false;
    }
    return true;
}

Printer::Printer(Config cfg, uint64_t now_ms) : cfg_(std::move(cfg)) {
    emulation_ = cfg_.emulation;
    sync_ = model_sync_char(cfg_.model);
    detect_char_ = cfg_.sync_char ? *cfg_.sync_char : sync_;
    last_rx_ = now_ms;
    for (uint8_t b : cfg_.stray)
        out_.push_back({now_ms, b});
    if (!cfg_.stray.empty())
        event(now_ms, "stray bytes queued");
    if (cfg_.silent) {
        state_ = State::silent;
        event(now_ms, "silent printer");
    } else if (cfg_.forced_sync_ms > 0) {
        state_ = State::announcing;
        next_announce_ = now_ms;
    }
}

void Printer::event(uint64_t now, const std::string& text) {
    TranscriptEntry e;
    e.t_ms = now;
    e.dir = TranscriptEntry::event;
    e.text = text;
    transcript_.push_back(std::move(e));
}

void Printer::log_rx(uint64_t now, const uint8_t* data, size_t n) {
    if (!transcript_.empty() && transcript_.back().dir == TranscriptEntry::rx &&
        transcript_.back().t_ms == now) {
        transcript_.back().bytes.insert(transcript_.back().bytes.end(), data, data + n);
        return;
    }
    TranscriptEntry e;
    e.t_ms = now;
    e.dir = TranscriptEntry::rx;
    e.bytes.assign(data, data + n);
    transcript_.push_back(std::move(e));
}

void Printer::send(uint8_t b, uint64_t due) {
    if (state_ == State::silent)
        return;
    out_.push_back({due, b});
}

void Printer::receive(const uint8_t* data, size_t length, uint64_t now) {
    if (length == 0)
        return;
    tick(now);
    log_rx(now, data, length);
    bytes_received_ += length;
    last_rx_ = now;
    for (size_t i = 0; i < length; ++i)
        on_byte(data[i], now);
}

void Printer::go_idle(uint64_t now, const std::string& why) {
    event(now, why);
    banks_.clear();
    bank_data_.clear();
    header_.clear();
    window_.clear();
    script_.clear();
    script_pos_ = 0;
    bad_checks_ = 0;
    if (cfg_.forced_sync_ms > 0) {
        state_ = State::announcing;
        next_announce_ = now + cfg_.forced_sync_ms;
    } else {
        state_ = State::idle;
    }
}

void Printer::on_byte(uint8_t b, uint64_t now) {
    switch (state_) {
        case State::silent:
            return;
        case State::announcing:
            // The host speaks: the printer is in download mode and this is the header.
            event(now, "announcing stopped: host sent a byte");
            state_ = State::header;
            header_.clear();
            header_len_ = header_length(cfg_.model);
            [[fallthrough]];
        case State::header:
            header_.push_back(b);
            if (header_.size() == 3 && std::equal(header_.begin(), header_.end(), DOWNLOAD_CMD)) {
                event(now, "download command again; sync " + hex2(detect_char_));
                send(detect_char_, now);
                header_.clear();
                return;
            }
            if (header_.size() == header_len_)
                parse_header(now);
            return;
        case State::idle:
            host_command_byte(b, now);
            window_.push_back(b);
            if (window_.size() > 3)
                window_.erase(window_.begin());
            if (window_.size() == 3 && std::equal(window_.begin(), window_.end(), DOWNLOAD_CMD)) {
                window_.clear();
                if (download_blocked(now))
                    return;
                event(now, "download command; sync " + hex2(detect_char_));
                send(detect_char_, now);
                state_ = State::header;
                header_.clear();
                header_len_ = header_length(cfg_.model);
            }
            return;
        case State::bank:
            if (!stats_.empty()) {
                if (stats_.back().data_bytes++ == 0)
                    stats_.back().first_data_ms = now;
            }
            bank_data_.push_back(b);
            if (cut_here(now))
                return;
            if (bank_data_.size() == bank_expected_)
                bank_complete(now);
            return;
        case State::replying:
            event(now, "byte " + hex2(b) + " ignored while replying");
            return;
    }
}

void Printer::parse_header(uint64_t now) {
    const std::vector<uint8_t>& h = header_;
    auto be16 = [&](size_t i) { return static_cast<uint16_t>(h[i] << 8 | h[i + 1]); };
    HeaderInfo info;
    std::string why;
    if (cfg_.model == 1) {
        info.begin_page = h[0];
        info.end_page = h[1];
        info.speed_code = h[2];
    } else if (cfg_.model == 6) {
        for (size_t i = 0; i < 12; i += 2)
            info.sections.push_back(be16(i));
        bool any = false;
        for (size_t s = 0; s < 6; s += 2) {
            uint16_t start = info.sections[s], end = info.sections[s + 1];
            if (start == 0 && end == 0)
                continue;  // section not sent
            if (!any || start < info.begin_page)
                info.begin_page = start;
            if (!any || end > info.end_page)
                info.end_page = end;
            any = true;
        }
        if (!any)
            why = "no section in the table";
        if (h[12] != 0)
            why = "speed high byte " + hex2(h[12]);
        info.speed_code = h[13];
    } else {
        info.begin_page = be16(0);
        info.end_page = be16(2);
        if (h[4] != 0)
            why = "speed high byte " + hex2(h[4]);
        info.speed_code = h[5];
    }
    info.baud = speed_code_baud(info.speed_code);
    if (info.baud == 0)
        why = "unknown speed code " + hex2(info.speed_code);
    if (why.empty() && info.end_page < info.begin_page)
        why = "end page below begin page";
    char text[160];
    std::snprintf(text, sizeof text, "header begin=%u end=%u speed=%s (%u)",
                  static_cast<unsigned>(info.begin_page), static_cast<unsigned>(info.end_page),
                  hex2(info.speed_code).c_str(), static_cast<unsigned>(info.baud));
    event(now, text);
    if (!why.empty()) {
        go_idle(now, "header refused: " + why);
        return;
    }
    headers_.push_back(info);
    stats_.push_back({});
    stats_.back().header_ms = now;
    stats_.back().baud = info.baud;
    current_ = info;
    plan_banks(info.begin_page, info.end_page);
    if (cfg_.header_ack)
        send(*cfg_.header_ack, now);
    if (cfg_.send_ready)
        send(sync_, now + cfg_.ready_ms);
    bank_index_ = 0;
    bank_data_.clear();
    bank_expected_ = static_cast<size_t>(banks_[0].pages) * PAGE_BYTES + 2;
    script_.clear();
    script_pos_ = 0;
    bad_checks_ = 0;
    state_ = State::bank;
}

// Banks go from the top page down, four pages each; when the page count is not a multiple
// of four the short bank comes first (top) when the range starts at 0 or at a page just
// below a multiple of four, and last (bottom) otherwise.
void Printer::plan_banks(uint32_t begin, uint32_t end) {
    banks_.clear();
    uint32_t pages = end - begin + 1;
    uint32_t rest = pages % 4;
    if (pages < 4) {
        banks_.push_back({0, pages});
        return;
    }
    bool short_first = rest != 0 && (begin == 0 || (begin + 1) % 4 == 0);
    uint32_t top = pages;
    if (short_first) {
        banks_.push_back({pages - rest, rest});
        top = pages - rest;
    }
    uint32_t floor = short_first ? 0 : rest;
    while (top >= floor + 4) {
        banks_.push_back({top - 4, 4});
        top -= 4;
    }
    if (rest != 0 && !short_first)
        banks_.push_back({0, rest});
}

bool Printer::cut_here(uint64_t now) {
    if (!cfg_.cut || cfg_.cut->bank != bank_index_ || bank_data_.size() != cfg_.cut->bytes)
        return false;
    const BankCut& cut = *cfg_.cut;
    const std::string where =
        "in bank " + std::to_string(bank_index_) + " after " + std::to_string(cut.bytes) + " bytes";
    if (cut.action == BankCut::hang_up) {
        hung_up_ = true;
        event(now, "line hangs up " + where);
    } else if (cut.action == BankCut::stall) {
        stalled_ = true;
        event(now, "printer stops reading " + where);
    } else {
        for (uint8_t g : cut.garbage)
            send(g, now);
        event(now, "printer resets " + where + ": garbage, then silence");
    }
    state_ = State::silent;
    return true;
}

const BankFault* Printer::fault_for(uint32_t bank) const {
    const BankFault* found = nullptr;
    for (const BankFault& f : cfg_.faults) {
        if (f.bank == bank || (f.and_later && bank >= f.bank))
            found = &f;  // last one wins
    }
    return found;
}

void Printer::bank_complete(uint64_t now) {
    const Bank& bank = banks_[bank_index_];
    size_t n = bank_data_.size() - 2;
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += bank_data_[i];
    uint32_t check = bank_data_[n] | bank_data_[n + 1] << 8;
    char text[200];
    std::snprintf(text, sizeof text, "bank %zu pages %u-%u received sum=0x%04x check=0x%04x",
                  bank_index_, static_cast<unsigned>(current_.begin_page + bank.first),
                  static_cast<unsigned>(current_.begin_page + bank.first + bank.pages - 1),
                  static_cast<unsigned>(sum & 0xFFFF), static_cast<unsigned>(check));
    event(now, text);
    if (((sum + check) & 0xFFFF) != 0) {
        ++check_failures_;
        ++bad_checks_;
        bank_data_.clear();
        if (bad_checks_ >= cfg_.max_bad_checks) {
            send(REPLY_UNRECOVERABLE, now + cfg_.program_ms);
            go_idle(now, "check mismatch, giving up");
        } else {
            event(now, "check mismatch, asking for the bank again");
            send(REPLY_RETRY, now + cfg_.program_ms);
        }
        return;
    }
    bad_checks_ = 0;
    if (script_pos_ == 0 && script_.empty()) {
        const BankFault* f = fault_for(static_cast<uint32_t>(bank_index_));
        if (f)
            script_ = f->steps;
    }
    state_ = State::replying;
    script_at_ = now + cfg_.program_ms;
}

// One step of the reply script; called when its time has come.
void Printer::run_script(uint64_t now) {
    ReplyStep step{ReplyStep::ok, 0};
    if (script_pos_ < script_.size())
        step = script_[script_pos_++];
    uint8_t b = step.kind == ReplyStep::ok ? sync_ : step.value;
    if (step.kind == ReplyStep::silence) {
        state_ = State::silent;
        event(now, "falls silent at bank " + std::to_string(bank_index_));
        return;
    }
    const bool lost = step.kind == ReplyStep::lost;
    if (lost) {
        b = sync_;
        event(now, "reply to bank " + std::to_string(bank_index_) + " lost on the line");
    } else {
        send(b, now);
    }
    if (b == REPLY_STILL_WAITING || b == REPLY_PROGRAMMING) {
        script_at_ = now + cfg_.reply_gap_ms;
        return;
    }
    if (b == REPLY_RETRY) {
        event(now, "asks for bank " + std::to_string(bank_index_) + " again");
        bank_data_.clear();
        state_ = State::bank;
        return;
    }
    if (!is_ack(b)) {
        go_idle(now, "unrecoverable reply " + hex2(b) + "; download abandoned");
        return;
    }
    // Acknowledged: the bank is programmed.
    const Bank& bank = banks_[bank_index_];
    for (uint32_t p = 0; p < bank.pages; ++p) {
        uint32_t page = current_.begin_page + bank.first + p;
        auto first = bank_data_.begin() + static_cast<std::ptrdiff_t>(p) * PAGE_BYTES;
        flash_[page].assign(first, first + PAGE_BYTES);
        ++page_writes_[page];
    }
    ++banks_acked_;
    stats_.back().banks++;
    stats_.back().done_ms = now;
    event(now, "bank " + std::to_string(bank_index_) + " acknowledged with " + hex2(b));
    script_.clear();
    script_pos_ = 0;
    bank_data_.clear();
    ++bank_index_;
    if (bank_index_ == banks_.size()) {
        ++downloads_done_;
        stats_.back().complete = true;
        go_idle(now, "download complete: " + std::to_string(banks_.size()) + " banks");
        return;
    }
    bank_expected_ = static_cast<size_t>(banks_[bank_index_].pages) * PAGE_BYTES + 2;
    state_ = State::bank;
}

void Printer::tick(uint64_t now) {
    while (state_ == State::replying && script_at_ <= now)
        run_script(script_at_);
    if (state_ == State::announcing) {
        while (next_announce_ <= now) {
            send(detect_char_, next_announce_);
            next_announce_ += std::max<uint32_t>(cfg_.forced_sync_ms, 1);
        }
    }
    if ((state_ == State::header || state_ == State::bank) && cfg_.stall_ms > 0 &&
        now > last_rx_ + cfg_.stall_ms) {
        go_idle(last_rx_ + cfg_.stall_ms, "transfer stalled, back to idle");
    }
}

std::vector<uint8_t> Printer::take_output(uint64_t now) {
    tick(now);
    std::vector<uint8_t> bytes;
    auto due = std::stable_partition(out_.begin(), out_.end(),
                                     [&](const Pending& p) { return p.due <= now; });
    std::vector<Pending> ready(out_.begin(), due);
    out_.erase(out_.begin(), due);
    std::stable_sort(ready.begin(), ready.end(),
                     [](const Pending& a, const Pending& b) { return a.due < b.due; });
    for (const Pending& p : ready)
        bytes.push_back(p.byte);
    if (!bytes.empty()) {
        if (!transcript_.empty() && transcript_.back().dir == TranscriptEntry::tx &&
            transcript_.back().t_ms == now) {
            transcript_.back().bytes.insert(transcript_.back().bytes.end(), bytes.begin(),
                                            bytes.end());
        } else {
            TranscriptEntry e;
            e.t_ms = now;
            e.dir = TranscriptEntry::tx;
            e.bytes = bytes;
            transcript_.push_back(std::move(e));
        }
    }
    return bytes;
}

std::optional<uint64_t> Printer::next_due() const {
    std::optional<uint64_t> t;
    auto consider = [&](uint64_t v) {
        if (!t || v < *t)
            t = v;
    };
    for (const Pending& p : out_)
        consider(p.due);
    if (state_ == State::replying)
        consider(script_at_);
    if (state_ == State::announcing)
        consider(next_announce_);
    if ((state_ == State::header || state_ == State::bank) && cfg_.stall_ms > 0)
        consider(last_rx_ + cfg_.stall_ms + 1);
    return t;
}

}  // namespace vxsim
