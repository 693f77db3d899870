#pragma once
#include <cstdint>
#include <memory>

namespace vx {

// The line fields the program sets; every other field of the device's settings (flow
// control, modem-line modes, special characters) keeps what the device reported.
struct CommState {
    uint32_t baud = 0;
    uint8_t byte_size = 8;
    uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stop_bits = 0;  // 0 one, 1 one and a half, 2 two
    bool parity_check = false;
    bool dsr_sensitivity = false;
    char evt_char = 0;
};

// Windows read time-out rule: a read of n bytes ends when n bytes arrived, when more than
// `interval` ms pass between two bytes, or after multiplier*n + constant ms in all.
struct ReadTimeouts {
    uint32_t interval = 0;
    uint32_t multiplier = 0;
    uint32_t constant = 0;
};

constexpr uint32_t DSR_ON = 0x0020;

// The modem lines the program drives.
enum class ModemLine { rts, dtr };

// Maximum-baud flags as GetCommProperties reports them.
constexpr uint32_t MAXBAUD_19200 = 0x00002000;
constexpr uint32_t MAXBAUD_38400 = 0x00004000;
constexpr uint32_t MAXBAUD_56K = 0x00008000;
constexpr uint32_t MAXBAUD_128K = 0x00010000;
constexpr uint32_t MAXBAUD_115200 = 0x00020000;
constexpr uint32_t MAXBAUD_57600 = 0x00040000;
constexpr uint32_t MAXBAUD_USER = 0x10000000;

// How the last purge() ended its wait for written bytes to leave.
struct PurgeDrain {
    bool timed_out = false;  // still queued at the deadline: input was discarded regardless
    uint32_t waited_ms = 0;  // the time the wait allowed them (0: nothing was queued)
};

// One open serial device. Destruction closes it. Every call that fails leaves the system's
// last error set (SystemErrors::last_error).
class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    // Reads the device's current settings into `state`; the device remembers the full record
    // so that set_comm_state changes only the fields of CommState.
    virtual bool get_comm_state(CommState& state) = 0;
    virtual bool set_comm_state(const CommState& state) = 0;
    // Sets the three read fields; the write fields stay as they are.
    virtual bool set_read_timeouts(const ReadTimeouts& t) = 0;
    // DSR_ON and friends. Fails on a device without modem lines.
    virtual bool modem_status(uint32_t& status) = 0;
    virtual bool clear_error() = 0;
    // Raises (on) or drops a modem line. Fails on a device without modem lines.
    virtual bool set_modem_line(ModemLine line, bool on) = 0;
    // Discards pending input. Bytes already handed to write() are never dropped: the purge
    // first waits for them to leave, at most their time on the line at the current speed
    // plus 500 ms (a device holding CTS low keeps them queued). The result is the discard's;
    // a wait that gave up shows in last_purge_drain().
    virtual bool purge() = 0;
    virtual PurgeDrain last_purge_drain() const { return {}; }
    // Synchronous write, bounded: bytes the line has not taken within their time on it at
    // the current speed plus WRITE_MARGIN_MS (serial_drain.h) fail the write, with the
    // system's time-out error. `written` receives the count that went.
    virtual bool write(const uint8_t* data, uint32_t length, uint32_t& written) = 0;
    // Reads up to `length` bytes under the read time-outs in force.
    virtual bool read(uint8_t* data, uint32_t length, uint32_t& got) = 0;
    // The maximum-baud flag of the device's properties (MAXBAUD_*).
    virtual bool max_baud(uint32_t& flag) = 0;
};

// Why the last open failed, so the core can tell the user what to do about it.
enum class OpenFailure { none, not_found, access_denied, busy, other };

class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    // Opens a port by its configured name for exclusive read/write. Null on failure, with
    // the system's last error set.
    virtual std::unique_ptr<SerialDevice> open(const char* name) = 0;
    // Classification of the calling thread's last failed open (none after a success).
    virtual OpenFailure last_open_failure() const { return OpenFailure::other; }
    // What the user can do about OpenFailure::access_denied on this system.
    virtual const char* access_denied_advice() const {
        return "Ask the administrator for access to the port.";
    }
};

}  // namespace vx
