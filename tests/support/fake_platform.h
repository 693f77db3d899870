// Fakes of the platform services, so a test builds a real FlashRun around them. Files and
// profile files use the machine's own implementation (tests run in a temporary directory).
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/sheet.h"
#include "platform/platform.h"

namespace vx::test {

// Thrown by the fake clock when a wait under test never ends: the test fails at once
// instead of spinning for ever on time that costs nothing.
struct RunawayWait : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class FakeClock : public Clock {
public:
    // Far beyond any run the tests drive (a whole 4 MiB download at 9600 bit/s is 75 min).
    static constexpr uint64_t LIMIT_MS = 7ull * 24 * 3600 * 1000;
    static constexpr uint64_t LIMIT_LOOKS = 50'000'000;

    LocalTime time{12, 34, 56};
    uint64_t now = 0;
    uint64_t slept = 0;
    uint64_t looks = 0;
    LocalTime local_time() override { return time; }
    void sleep_ms(uint32_t ms) override {
        now += ms;
        slept += ms;
        check();
    }
    uint64_t now_ms() override {
        check();
        return now;
    }

private:
    void check() {
        if (now > LIMIT_MS || ++looks > LIMIT_LOOKS)
            throw RunawayWait(
                "the fake clock ran past a week or 50 million looks: a wait "
                "under test does not end");
    }
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
    ~FakeSerialDevice() override {
        if (open_count != nullptr)
            --*open_count;
    }
    FakeClock& clock_;
    int* open_count = nullptr;  // the ports' count of devices not yet closed
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
    bool rts = false, dtr = false;
    // Modem-line calls that fail: the n-th call (counted from 0) of set_modem_line fails
    // when n is in the set; `lines_fail` fails them all.
    std::vector<int> line_call_fails;
    bool lines_fail = false;
    int line_calls = 0;
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
    bool set_modem_line(ModemLine line, bool on) override {
        const int call = line_calls++;
        if (lines_fail || std::find(line_call_fails.begin(), line_call_fails.end(), call) !=
                              line_call_fails.end())
            return false;
        if (line == ModemLine::rts) {
            rts_raised += on ? 1 : 0;
            rts = on;
        } else {
            dtr = on;
        }
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
    int open_devices = 0;  // opened and not yet closed
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

// A USB printer whose far end is a script: each write is recorded and handed to `on_write`
// (which may queue replies); each read request takes up to its capacity from the first
// queued IN transfer (the rest of it stays for the next request). An empty read costs its
// whole time-out on the clock.
class FakeUsbDevice : public UsbDevice {
public:
    explicit FakeUsbDevice(FakeClock& clock) : clock_(clock) {}
    FakeClock& clock_;
    std::deque<std::vector<uint8_t>> incoming;
    std::vector<std::vector<uint8_t>> writes;
    std::function<void(FakeUsbDevice&, const uint8_t*, uint32_t)> on_write;
    uint32_t write_error = 0;   // returned by every write when set
    bool write_stalls = false;  // every write runs into its time-out
    std::vector<uint32_t> write_timeouts;
    uint32_t short_by = 0;           // writes complete this many bytes short
    uint32_t read_error = 0;         // returned by every read when set
    std::vector<uint32_t> requests;  // capacity of every read request
    std::vector<uint32_t> timeouts;  // and its time-out
    int outstanding = 0;             // requests issued and not ended
    bool* closed = nullptr;          // set to true when the device is destroyed
    // Every write also goes here (it outlives the device).
    std::vector<std::vector<uint8_t>>* write_log = nullptr;

    ~FakeUsbDevice() override {
        if (closed)
            *closed = true;
    }
    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written,
                   uint32_t timeout_ms) override {
        written = 0;
        write_timeouts.push_back(timeout_ms);
        if (write_stalls) {
            clock_.now += timeout_ms;  // waited, then cancelled
            return USB_WRITE_TIMED_OUT;
        }
        if (write_error)
            return write_error;
        writes.emplace_back(data, data + length);
        if (write_log)
            write_log->emplace_back(data, data + length);
        written = length > short_by ? length - short_by : 0;
        if (on_write)
            on_write(*this, data, length);
        return 0;
    }
    uint32_t read(uint8_t* data, uint32_t capacity, uint32_t& got, uint32_t timeout_ms) override {
        ++outstanding;
        requests.push_back(capacity);
        timeouts.push_back(timeout_ms);
        got = 0;
        if (read_error) {
            --outstanding;
            return read_error;
        }
        if (incoming.empty()) {
            clock_.now += timeout_ms;  // waited, then cancelled
            --outstanding;
            return 0;
        }
        std::vector<uint8_t>& front = incoming.front();
        while (got < capacity && got < front.size()) {
            data[got] = front[got];
            ++got;
        }
        front.erase(front.begin(), front.begin() + got);
        if (front.empty())
            incoming.pop_front();
        --outstanding;
        return 0;
    }
};

class FakeUsbPrinters : public UsbPrinters {
public:
    explicit FakeUsbPrinters(FakeClock& clock) : clock_(clock) {}
    FakeClock& clock_;
    bool is_available = true;
    bool list_fails = false;
    std::vector<UsbPrinterInfo> devices;
    int listings = 0;
    std::vector<std::string> opened;           // paths, in order
    std::vector<std::vector<uint8_t>> writes;  // of every FakeUsbDevice
    bool open_fails = false;
    // Makes the device of each open (default: a FakeUsbDevice set up by `configure`).
    std::function<std::unique_ptr<UsbDevice>(const UsbPrinterInfo&)> make;
    std::function<void(FakeUsbDevice&)> configure;
    FakeUsbDevice* last = nullptr;

    bool available() const override { return is_available; }
    bool list(std::vector<UsbPrinterInfo>& out) override {
        ++listings;
        out = devices;
        return !list_fails;
    }
    std::unique_ptr<UsbDevice> open(const UsbPrinterInfo& printer) override;
};

struct BoxRecord {
    std::string caption;
    std::string text;
    uint32_t type = 0;
};

// Also the front-end's property sheet, so start-up's requests land beside the boxes.
class FakeUi : public Ui, public SheetRunner {
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
    std::vector<std::string> failure_lines;
    void failure_line(const char* line) override { failure_lines.emplace_back(line); }
    std::vector<SheetRequest> sheets;  // every property sheet start-up asked for
    int sheet_result = 1;
    int run(const SheetRequest& request) override {
        sheets.push_back(request);
        return sheet_result;
    }
};

// A service manager with one spooler and the stop record, each call scriptable.
class FakeServices : public Services {
public:
    ServiceAccess access = ServiceAccess::not_applicable;
    ServiceState state = ServiceState::running;
    bool stop_fails = false;
    bool start_fails = false;
    bool record_fails = false;
    bool recorded = false;
    int stops = 0;
    int starts = 0;
    std::vector<std::string> calls;  // "state", "record", "stop", "start", "clear", in order

    ServiceAccess spooler_state(ServiceState& s) override {
        calls.push_back("state");
        s = state;
        return access;
    }
    bool stop_spooler(std::string& error) override {
        calls.push_back("stop");
        ++stops;
        if (stop_fails) {
            error = "Access is denied.";
            return false;
        }
        state = ServiceState::stopped;
        return true;
    }
    bool start_spooler(std::string& error) override {
        calls.push_back("start");
        ++starts;
        if (start_fails) {
            error =
                "The service did not respond to the start or control request in a timely fashion.";
            return false;
        }
        state = ServiceState::running;
        return true;
    }
    bool write_stop_record() override {
        calls.push_back("record");
        recorded = !record_fails;
        return recorded;
    }
    void clear_stop_record() override {
        calls.push_back("clear");
        recorded = false;
    }
    bool stop_recorded() override { return recorded; }
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

// The toolkit's key as a table of raw values; `key_present` false: no key at all.
class FakeRegistry : public ToolkitRegistry {
public:
    bool key_present = false;
    std::map<std::string, std::vector<uint8_t>> values;
    int opened = 0;
    int open_keys = 0;  // keys not yet closed

    // A text value as the system stores it, with its terminating NUL.
    void set_text(const std::string& name, const std::string& text) {
        key_present = true;
        values[name] = std::vector<uint8_t>(text.begin(), text.end());
        values[name].push_back(0);
    }
    void set_dword(const std::string& name, uint32_t v) {
        key_present = true;
        values[name] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    }
    // The toolkit's serial values for the flash tool, stored as the toolkit does.
    void set_flash_serial(uint32_t baud, const std::string& parity, uint32_t stop, uint32_t bits) {
        set_dword("FlashComBaudrate", baud);
        set_text("FlashComParity", parity);
        set_dword("FlashComStopBits", stop);
        set_dword("FlashComDataBits", bits);
    }
    std::unique_ptr<ToolkitKey> open_toolkit_key() override;
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
    FakeUsbPrinters usb{clock};
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
