// A serial device whose far end is the in-process printer simulator, on the fake clock: the
// read time-out rule is played out on the clock, so protocol waits cost nothing.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "printer.h"

namespace vx::test {

class SimSerialDevice : public SerialDevice {
public:
    SimSerialDevice(FakeClock& clock, vxsim::Printer& printer) : clock_(clock), printer_(printer) {}

    CommState state{9600, 8, 0, 0, false, true, 0};
    ReadTimeouts timeouts{};
    bool dsr = true;
    bool modem_fails = false;
    uint32_t max_baud_flag = MAXBAUD_USER;
    int purges = 0;

    bool get_comm_state(CommState& s) override {
        s = state;
        return true;
    }
    bool set_comm_state(const CommState& s) override {
        state = s;
        return true;
    }
    bool set_read_timeouts(const ReadTimeouts& t) override {
        timeouts = t;
        return true;
    }
    bool modem_status(uint32_t& status) override {
        if (modem_fails)
            return false;
        status = dsr ? DSR_ON : 0;
        return true;
    }
    bool clear_error() override { return true; }
    // The printer sees RTS as the host leaves it (the emulation dialogue depends on it).
    bool set_modem_line(ModemLine line, bool on) override {
        if (line == ModemLine::rts)
            printer_.set_rts(on);
        return true;
    }
    bool purge() override;
    bool write(const uint8_t* data, uint32_t length, uint32_t& written) override;
    bool read(uint8_t* data, uint32_t length, uint32_t& got) override;
    bool max_baud(uint32_t& flag) override {
        flag = max_baud_flag;
        return true;
    }

private:
    void pull();
    FakeClock& clock_;
    vxsim::Printer& printer_;
    std::deque<uint8_t> incoming_;
};

// Opens SimSerialDevices onto one printer that outlives them (a port reopened between steps
// talks to the same printer).
class SimSerialPorts : public SerialPorts {
public:
    SimSerialPorts(FakeClock& clock, vxsim::Printer& printer) : clock_(clock), printer_(printer) {}
    bool open_fails = false;
    bool dsr = true;
    uint32_t max_baud_flag = MAXBAUD_USER;
    std::vector<std::string> opened;
    std::unique_ptr<SerialDevice> open(const char* name) override;

private:
    FakeClock& clock_;
    vxsim::Printer& printer_;
};

}  // namespace vx::test
