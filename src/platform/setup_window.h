// The port setup page's window as its page class sees it: three port-kind check boxes and
// seven lists. The Win32 layer implements it over dialog 103; tests use a fake.
#pragma once
#include <string>

namespace vx {

enum class PortKindBox { com, usb, lpt };

enum class SetupList { com_ports, baud, data_bits, parity, stop_bits, usb_ports, lpt_ports };

class SetupPageWindow {
public:
    virtual ~SetupPageWindow() = default;
    // The sheet's Cancel button becomes Close.
    virtual void cancel_to_close() = 0;
    virtual void set_check(PortKindBox box, bool checked) = 0;
    virtual bool is_checked(PortKindBox box) = 0;
    virtual void enable(SetupList list, bool enabled) = 0;
    // Adds an entry (a sorted list puts it in its place); returns its index, -1 on failure.
    virtual int add_entry(SetupList list, const char* text) = 0;
    virtual void select(SetupList list, int index) = 0;
    // Index of the selected entry; -1 when none is (e.g. the user typed a text).
    virtual int selection(SetupList list) = 0;
    // The text in the list's edit field, typed or chosen.
    virtual std::string text(SetupList list) = 0;
};

}  // namespace vx
