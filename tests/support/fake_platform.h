// Fakes of the platform services, so a test builds a real Cls_flash around them. Files and
// profile files use the machine's own implementation (tests run in a temporary directory).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vx::test {

class FakeClock : public Clock {
public:
    LocalTime time{12, 34, 56};
    uint64_t now = 0;
    uint64_t slept = 0;
    LocalTime local_time() override { return time; }
    void sleep_ms(uint32_t ms) override {
        now += ms;
        slept += ms;
    }
    uint64_t now_ms() override { return now; }
};

class FakeErrors : public SystemErrors {
public:
    uint32_t code = 0;
    uint32_t last_error() override { return code; }
    void set_last_error(uint32_t c) override { code = c; }
    std::string error_text(uint32_t c) override { return "system error " + std::to_string(c); }
};

// A serial device whose far end is a script: bytes written go to `on_write` (which may queue
// a reply), reads take from `incoming`. An empty read costs its whole time-out on the clock.
class FakeSerialDevice : public SerialDevice {
public:
    explicit FakeSerialDevice(FakeClock& clock) : clock_(clock) {}
    FakeClock& clock_;
    std::deque<uint8_t> incoming;
    std::vector<uint8_t> written;
    std::function<void(FakeSerialDevice&, const uint8_t*, uint32_t)> on_write;
    // Called at the start of every read (the far end may queue bytes or let time pass).
    std::function<void(FakeSerialDevice&, uint32_t)> on_read;
    CommState state{9600, 8, 0, 0, false, true, 0};
    ReadTimeouts timeouts{};
    uint32_t modem = DSR_ON;
    bool modem_fails = false;
    bool state_fails = false;
    uint32_t max_baud_flag = MAXBAUD_USER;
    int purges = 0;
    int rts_raised = 0;
    std::vector<ReadTimeouts> timeout_log;
    bool write_fails = false;
    bool read_fails = false;
    // Runs after a purge emptied `incoming` (a printer that keeps sending, forced sync).
    std::function<void(FakeSerialDevice&)> on_purge;
    // What every purge reports of its wait for written bytes (a printer holding CTS low).
    PurgeDrain purge_drain{};

    bool get_comm_state(CommState& s) override {
        if (state_fails)
            return false;
        s = state;
        return true;
    }
    bool set_comm_state(const CommState& s) override {
        if (state_fails)
            return false;
        state = s;
        return true;
    }
    bool set_read_timeouts(const ReadTimeouts& t) override {
        timeouts = t;
        timeout_log.push_back(t);
        return true;
    }
    bool modem_status(uint32_t& status) override {
        if (modem_fails)
            return false;
        status = modem;
        return true;
    }
    bool clear_error() override { return true; }
    bool set_rts() override {
        ++rts_raised;
        return true;
    }
    bool purge() override {
        ++purges;
        incoming.clear();
        if (on_purge)
            on_purge(*this);
        return true;
    }
    PurgeDrain last_purge_drain() const override { return purge_drain; }
    bool write(const uint8_t* data, uint32_t length, uint32_t& done) override {
        if (write_fails) {
            done = 0;
            return false;
        }
        written.insert(written.end(), data, data + length);
        done = length;
        if (on_write)
            on_write(*this, data, length);
        return true;
    }
    bool read(uint8_t* data, uint32_t length, uint32_t& got) override {
        if (on_read)
            on_read(*this, length);
        got = 0;
        if (read_fails)
            return false;
        while (got < length && !incoming.empty()) {
            data[got++] = incoming.front();
            incoming.pop_front();
        }
        if (got < length) {
            // Time-out: what the Windows rule allows for the rest of the read.
            clock_.now += uint64_t(timeouts.multiplier) * length + timeouts.constant;
        }
        return true;
    }
    bool max_baud(uint32_t& flag) override {
        flag = max_baud_flag;
        return true;
    }
};

class FakeSerialPorts : public SerialPorts {
public:
    explicit FakeSerialPorts(FakeClock& clock) : clock_(clock) {}
    FakeClock& clock_;
    bool open_fails = false;
    OpenFailure failure = OpenFailure::other;  // reported while open_fails is set
    std::vector<std::string> opened;
    // Set up each device as it opens (the test keeps a pointer to it in `last`).
    std::function<void(FakeSerialDevice&)> configure;
    FakeSerialDevice* last = nullptr;
    std::unique_ptr<SerialDevice> open(const char* name) override;
    OpenFailure last_open_failure() const override {
        return open_fails ? failure : OpenFailure::none;
    }
    const char* access_denied_advice() const override {
        return "Add the user to the dialout group.";
    }
};

struct BoxRecord {
    std::string caption;
    std::string text;
    uint32_t type = 0;
};

class FakeUi : public Ui {
public:
    std::vector<BoxRecord> boxes;
    int answer = ANSWER_OK;
    int cursor_sets = 0;

    int message_box(WindowHandle, const char* caption, const char* text, uint32_t type) override {
        boxes.push_back({caption ? caption : "", text ? text : "", type});
        return answer;
    }
    CursorHandle load_wait_cursor() override { return reinterpret_cast<CursorHandle>(0x10); }
    CursorHandle previous_cursor = reinterpret_cast<CursorHandle>(0x20);
    CursorHandle set_cursor(CursorHandle) override {
        ++cursor_sets;
        return previous_cursor;
    }
    bool nudge_pointer() override { return true; }
    std::vector<SheetRequest> sheets;  // every property sheet start-up asked for
    int sheet_result = 1;
    int run_property_sheet(const SheetRequest& request) override {
        sheets.push_back(request);
        return sheet_result;
    }
};

class FakeServices : public Services {
public:
    SpoolerStop result = SpoolerStop::not_applicable;
    int stops = 0;
    int starts = 0;
    SpoolerStop stop_spooler() override {
        ++stops;
        return result;
    }
    void start_spooler() override { ++starts; }
};

class FakePrinters : public PrinterQueues {
public:
    bool ok = true;
    std::vector<PrinterQueue> queues;
    bool list(std::vector<PrinterQueue>& out) override {
        out = queues;
        return ok;
    }
};

class FakeRegistry : public ToolkitRegistry {
public:
    bool has_port = false;
    std::string port;
    bool has_serial = false;
    ToolkitSerial serial;
    bool read_port(int, std::string& out) override {
        if (has_port)
            out = port;
        return has_port;
    }
    bool read_serial(int, ToolkitSerial& out) override {
        if (has_serial)
            out = serial;
        return has_serial;
    }
};

// All fakes together; files and profile files are the machine's own.
struct FakePlatform {
    FakeClock clock;
    FakeErrors errors;
    FakeSerialPorts serial{clock};
    FakeUi ui;
    FakeServices services;
    FakePrinters printers;
    FakeRegistry registry;
    Platform platform;
    FakePlatform();
};

// A fresh temporary directory that becomes the current directory for the test's lifetime.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const;
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

private:
    std::string path_;
    std::string old_cwd_;
};

}  // namespace vx::test
