// Fakes of the port enumerations and the parallel device, for the setup page and the
// parallel port tests.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "platform/platform.h"

namespace vx::test {

// COM ports by name: present ones open, the rest fail like a missing or held port.
class FakeComPorts : public SerialPorts {
public:
    explicit FakeComPorts(FakeClock& clock) : clock_(clock) {}
    std::set<std::string> present;
    std::vector<std::string> opened;
    int open_devices = 0;
    std::unique_ptr<SerialDevice> open(const char* name) override;

private:
    FakeClock& clock_;
};

// One scripted request outcome of the fake parallel device.
struct ParallelOutcome {
    uint32_t code = PARALLEL_DONE;
    std::vector<uint8_t> bytes;  // what a read delivers
};

class FakeParallelPorts;

class FakeParallelDevice : public ParallelDevice {
public:
    explicit FakeParallelDevice(FakeParallelPorts& ports) : ports_(ports) {}
    ~FakeParallelDevice() override;
    bool get_timeouts(ParallelTimeouts& t) override;
    bool set_timeouts(const ParallelTimeouts& t) override;
    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written) override;
    uint32_t read(uint8_t* data, uint32_t count, uint32_t& got, uint32_t wait_ms) override;

private:
    FakeParallelPorts& ports_;
};

class FakeParallelPorts : public ParallelPorts {
public:
    explicit FakeParallelPorts(FakeErrors& errors) : errors_(errors) {}
    std::map<std::string, PortProbe> ports;  // missing names are absent
    bool open_fails = false;
    uint32_t open_error = 2;
    bool get_fails = false, set_fails = false;
    ParallelTimeouts timeouts{1, 2, 3, 4, 5};
    int timeout_writes = 0;
    std::vector<uint8_t> written;
    std::deque<ParallelOutcome> writes;  // scripted write outcomes (default: all written)
    std::deque<ParallelOutcome> reads;   // scripted read outcomes (default: nothing, 996)
    std::vector<uint32_t> read_waits;
    std::vector<std::string> debug;
    int open_devices = 0;

    std::unique_ptr<ParallelDevice> open(const char* name) override;
    PortProbe probe(const char* name) override {
        auto it = ports.find(name ? name : "");
        return it == ports.end() ? PortProbe::absent : it->second;
    }
    void debug_output(const char* text) override { debug.emplace_back(text); }

private:
    FakeErrors& errors_;
};

}  // namespace vx::test
