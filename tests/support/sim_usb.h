// A USB printer whose far end is the in-process simulator's USB session, on the fake clock:
// each read request waits on the clock for what the printer sends, so protocol waits cost
// nothing.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "fake_platform.h"
#include "usb_session.h"

namespace vx::test {

class SimUsbDevice : public UsbDevice {
public:
    SimUsbDevice(FakeClock& clock, vxsim::UsbSession& session) : clock_(clock), session_(session) {}
    uint32_t write(const uint8_t* data, uint32_t length, uint32_t& written,
                   uint32_t timeout_ms) override;
    uint32_t read(uint8_t* data, uint32_t capacity, uint32_t& got, uint32_t timeout_ms) override;

private:
    FakeClock& clock_;
    vxsim::UsbSession& session_;
    std::deque<uint8_t> incoming_;  // sent by the printer, not yet asked for
};

// Points `usb` at a session: every open makes a SimUsbDevice onto it.
void attach_sim(FakeUsbPrinters& usb, vxsim::UsbSession& session);

}  // namespace vx::test
