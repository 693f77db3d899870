#include "sim_usb.h"

#include <algorithm>

namespace vx::test {

uint32_t SimUsbDevice::write(const uint8_t* data, uint32_t length, uint32_t& written, uint32_t) {
    session_.write(data, length, clock_.now);
    written = length;
    return 0;
}

uint32_t SimUsbDevice::read(uint8_t* data, uint32_t capacity, uint32_t& got, uint32_t timeout_ms) {
    got = 0;
    const uint64_t deadline = clock_.now + timeout_ms;
    for (;;) {
        for (uint8_t b : session_.take_output(clock_.now))
            incoming_.push_back(b);
        if (!incoming_.empty())
            break;
        const auto due = session_.next_due();
        if (!due || *due > deadline) {
            clock_.now = std::max(clock_.now, deadline);
            return 0;
        }
        clock_.now = std::max(clock_.now, *due);
        session_.tick(clock_.now);
    }
    while (got < capacity && !incoming_.empty()) {
        data[got++] = incoming_.front();
        incoming_.pop_front();
    }
    return 0;
}

void attach_sim(FakeUsbPrinters& usb, vxsim::UsbSession& session) {
    if (usb.devices.empty())
        usb.devices.push_back({"sim", "USB\\VID_7A1E&PID_0030&REV_0100", true, 1});
    usb.make = [&usb, &session](const UsbPrinterInfo&) -> std::unique_ptr<UsbDevice> {
        return std::make_unique<SimUsbDevice>(usb.clock_, session);
    };
}

}  // namespace vx::test
