// Parallel (ECP) port device access. The Win32 implementation opens the LPT device for
// overlapped I/O and uses the driver's time-out record; the POSIX one maps "LPTn" onto ppdev
// (/dev/parport(n-1)) and emulates the time-outs itself.
#pragma once
#include <cstdint>
#include <memory>

namespace vx {

// The device's time-out record, in milliseconds (the fields of the system's record).
struct ParallelTimeouts {
    uint32_t read_interval = 0;
    uint32_t read_multiplier = 0;
    uint32_t read_constant = 0;
    uint32_t write_multiplier = 0;
    uint32_t write_constant = 0;
};

// Request outcomes are 0 or the system's error code; these are the codes the port logic
// tells apart (the same numbers on every system).
constexpr uint32_t PARALLEL_DONE = 0;
constexpr uint32_t PARALLEL_NOT_READY = 21;       // the port exists, its device is not ready
constexpr uint32_t PARALLEL_IO_INCOMPLETE = 996;  // a read still outstanding at its wait's end
constexpr uint32_t PARALLEL_IO_PENDING = 997;
constexpr uint32_t PARALLEL_CANTREAD = 1012;
constexpr uint32_t PARALLEL_CANTWRITE = 1013;
constexpr uint32_t PARALLEL_TIMEOUT = 1460;

// One open parallel port. Destruction closes it; no request outlives the call that made it.
class ParallelDevice {
public:
    virtual ~ParallelDevice() = default;
    // False with the system's last error set.
    virtual bool get_timeouts(ParallelTimeouts& t) = 0;
    virtual bool set_timeouts(const ParallelTimeouts& t) = 0;
    // One write of all `length` bytes, ended by the write time-outs and waited for a little
    // longer than they allow (a driver may ignore them): a write still outstanding then is
    // cancelled and PARALLEL_TIMEOUT returned. PARALLEL_DONE with `written`, or the system's
    // error code.
    virtual uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written) = 0;
    // One read of up to `count` bytes under the read time-outs, waited for at most
    // `wait_ms`. PARALLEL_DONE with `got` when it ended; PARALLEL_IO_INCOMPLETE when it was
    // still outstanding at the end of the wait: it has then been cancelled and its end
    // awaited, and `got` holds what arrived before that. Else the system's error code.
    virtual uint32_t read(uint8_t* data, uint32_t count, uint32_t& got, uint32_t wait_ms) = 0;
};

// What opening a port and closing it at once says about it.
enum class PortProbe {
    free,       // it opened
    not_ready,  // it exists but its device does not answer
    busy,       // another program holds it
    denied,     // this user may not open it
    absent,     // no such port, or any other failure
};

class ParallelPorts {
public:
    virtual ~ParallelPorts() = default;
    // "LPTn": opened for reading and writing, not shared, for overlapped requests. Null on
    // failure, with the system's last error set.
    virtual std::unique_ptr<ParallelDevice> open(const char* name) = 0;
    // Opens the port as open() does and closes it again at once.
    virtual PortProbe probe(const char* name) = 0;
    // A line for a debugger (the system's debug output channel); dropped where there is none.
    virtual void debug_output(const char* text) = 0;
};

}  // namespace vx
