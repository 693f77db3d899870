// The port setup page: the port kind, the port and the serial line settings, offered from
// the ports present and free when the page is first shown, and written to flash.ini
// whenever the page is left.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/setup_window.h"

namespace vx {

class FlashRun;
class SerialPorts;

// A COM port is offered when it opens for reading and writing without sharing (it is
// closed again at once): a missing port and one another program holds are both left out.
bool com_port_present(SerialPorts& serial, const char* name);

class SetupPage {
public:
    SetupPage(FlashRun& flash, SetupPageWindow& window);
    void on_init();
    // A click on a port-kind check box (which the click has already toggled).
    void on_box_clicked(PortKindBox box);
    // The page is being left: switching pages or closing the sheet with OK.
    void on_leave();

private:
    struct Entry {
        std::string text;
        int value = 0;
    };
    struct ListEntries {
        std::vector<Entry> entries;  // in the list's own order
    };

    void add(SetupList list, const char* text, int value);
    void select_value(SetupList list, int value);
    void select_text(SetupList list, const char* text, bool first_otherwise);
    // The chosen entry: the selection, or a typed text equal to an entry. Null for none.
    const Entry* chosen(SetupList list);
    void enable_serial_lists(bool enabled);
    void set_port_name(const std::string& name);
    ListEntries& of(SetupList list) { return lists_[static_cast<int>(list)]; }

    FlashRun& flash_;
    SetupPageWindow& window_;
    ListEntries lists_[7];
};

}  // namespace vx
