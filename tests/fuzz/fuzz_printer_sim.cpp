// libFuzzer target: the simulator's reading of what the program sends, over a pty or the USB
// pipes. Input: one byte of settings, then records of [time step][length, 2 bytes][bytes].
// Whatever arrives, the printer must hold only whole pages and never answer out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "printer.h"
#include "usb_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t settings = data[0];
    vxsim::Config cfg;
    cfg.model = 1 + settings % 6;
    cfg.forced_sync_ms = (settings & 0x08) ? 100 : 0;
    cfg.emulation.present = (settings & 0x10) != 0;
    cfg.ready_ms = 50;
    cfg.stall_ms = 2000;
    const bool usb = (settings & 0x20) != 0;
    if (settings & 0x40) {
        vxsim::BankFault fault;
        fault.bank = 0;
        fault.and_later = true;
        fault.steps.push_back({vxsim::ReplyStep::byte, 0x06});  // "send that bank again"
        cfg.faults.push_back(fault);
    }
    vxsim::Printer printer(cfg, 0);
    vxsim::UsbConfig usb_cfg;
    if (settings & 0x80)
        usb_cfg.stray_after_bank = {0x55, 0xAA};
    vxsim::UsbSession session(printer, usb_cfg);

    uint64_t now = 0;
    size_t sent_back = 0;
    size_t pos = 1;
    while (pos + 3 <= size) {
        now += uint64_t(data[pos]) * 40;
        size_t length = data[pos + 1] | size_t(data[pos + 2]) << 8;
        pos += 3;
        if (length > size - pos)
            length = size - pos;
        if (usb) {
            session.write(data + pos, length, now);
            session.tick(now);
            sent_back += session.take_output(now).size();
        } else {
            printer.receive(data + pos, length, now);
            printer.tick(now);
            sent_back += printer.take_output(now).size();
        }
        pos += length;
    }
    now += 10000;
    printer.tick(now);
    sent_back += usb ? session.take_output(now).size() : printer.take_output(now).size();

    for (const auto& [page, bytes] : printer.flash()) {
        if (bytes.size() != vxsim::PAGE_BYTES || printer.page_writes().count(page) == 0)
            std::abort();
    }
    // A printer answers a few bytes per command and announces itself at most every 100 ms:
    // never a flood.
    if (sent_back > 2 * size + now / 100 + 64)
        std::abort();
    return 0;
}
