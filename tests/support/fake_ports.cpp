#include "fake_ports.h"

#include <algorithm>

namespace vx::test {

namespace {

class CountedSerialDevice : public FakeSerialDevice {
public:
    CountedSerialDevice(FakeClock& clock, int& count) : FakeSerialDevice(clock), count_(count) {
        ++count_;
    }
    ~CountedSerialDevice() override { --count_; }

private:
    int& count_;
};

}  // namespace

std::unique_ptr<SerialDevice> FakeComPorts::open(const char* name) {
    opened.emplace_back(name ? name : "");
    if (present.count(opened.back()) == 0)
        return nullptr;
    return std::make_unique<CountedSerialDevice>(clock_, open_devices);
}

std::unique_ptr<ParallelDevice> FakeParallelPorts::open(const char*) {
    if (open_fails) {
        errors_.set_last_error(open_error);
        return nullptr;
    }
    ++open_devices;
    return std::make_unique<FakeParallelDevice>(*this);
}

FakeParallelDevice::~FakeParallelDevice() {
    --ports_.open_devices;
}

bool FakeParallelDevice::get_timeouts(ParallelTimeouts& t) {
    if (ports_.get_fails)
        return false;
    t = ports_.timeouts;
    return true;
}

bool FakeParallelDevice::set_timeouts(const ParallelTimeouts& t) {
    if (ports_.set_fails)
        return false;
    ports_.timeouts = t;
    ++ports_.timeout_writes;
    return true;
}

uint32_t FakeParallelDevice::write(const uint8_t* data, uint32_t length, uint32_t& written) {
    ParallelOutcome outcome;
    if (!ports_.writes.empty()) {
        outcome = ports_.writes.front();
        ports_.writes.pop_front();
    }
    written = 0;
    if (outcome.code == PARALLEL_DONE) {
        ports_.written.insert(ports_.written.end(), data, data + length);
        written = length;
    }
    return outcome.code;
}

uint32_t FakeParallelDevice::read(uint8_t* data, uint32_t count, uint32_t& got, uint32_t wait_ms) {
    ports_.read_waits.push_back(wait_ms);
    ParallelOutcome outcome{PARALLEL_IO_INCOMPLETE, {}};
    if (!ports_.reads.empty()) {
        outcome = ports_.reads.front();
        ports_.reads.pop_front();
    }
    got = static_cast<uint32_t>(std::min<size_t>(count, outcome.bytes.size()));
    std::copy(outcome.bytes.begin(), outcome.bytes.begin() + got, data);
    return outcome.code;
}

}  // namespace vx::test
