#include "app/setup_page.h"

#include <cstdio>
#include <cstring>

#include "app/flash_run.h"
#include "port/port_backend.h"
#include "port/usb_port.h"

namespace vx {
namespace {

struct TableEntry {
    const char* text;
    int value;
};

constexpr TableEntry SPEEDS[] = {{"115200", 115200}, {"57600", 57600}, {"38400", 38400},
                                 {"19200", 19200},   {"9600", 9600},   {"4800", 4800},
                                 {"2400", 2400},     {"1200", 1200}};
constexpr TableEntry DATA_BITS[] = {{"7", 7}, {"8", 8}};
constexpr TableEntry PARITIES[] = {{"NONE", 0}, {"ODD", 1}, {"EVEN", 2}};
// Serial-line stop codes: 0 one stop bit, 2 two.
constexpr TableEntry STOP_BITS[] = {{"1", 0}, {"2", 2}};

constexpr const char* COM_NAMES[] = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                     "COM6", "COM7", "COM8", "COM9", "COM10"};
constexpr const char* LPT_NAMES[] = {"LPT1", "LPT2", "LPT3", "LPT4"};

constexpr SetupList SERIAL_LISTS[] = {SetupList::com_ports, SetupList::baud, SetupList::data_bits,
                                      SetupList::parity, SetupList::stop_bits};

}  // namespace

void SetupPage::set_port_name(const std::string& name) {
    std::snprintf(flash_.config.port_name, sizeof flash_.config.port_name, "%s", name.c_str());
}

bool com_port_present(SerialPorts& serial, const char* name) {
    return serial.open(name) != nullptr;  // closed again as the device goes
}

SetupPage::SetupPage(FlashRun& flash, SetupPageWindow& window) : flash_(flash), window_(window) {}

void SetupPage::add(SetupList list, const char* text, int value) {
    const int at = window_.add_entry(list, text);
    std::vector<Entry>& entries = of(list).entries;
    if (at < 0 || static_cast<size_t>(at) > entries.size())
        return;
    entries.insert(entries.begin() + at, Entry{text, value});
}

void SetupPage::select_value(SetupList list, int value) {
    const std::vector<Entry>& entries = of(list).entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].value == value) {
            window_.select(list, static_cast<int>(i));
            return;
        }
    }
    if (!entries.empty())
        window_.select(list, 0);
}

void SetupPage::select_text(SetupList list, const char* text, bool first_otherwise) {
    const std::vector<Entry>& entries = of(list).entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].text == text) {  // exact, case-sensitive
            window_.select(list, static_cast<int>(i));
            return;
        }
    }
    if (first_otherwise && !entries.empty())
        window_.select(list, 0);
}

const SetupPage::Entry* SetupPage::chosen(SetupList list) {
    const std::vector<Entry>& entries = of(list).entries;
    // What the field shows decides: an entry chosen and then typed over no longer counts,
    // and a typed text counts only when it is one of the entries.
    const std::string shown = window_.text(list);
    const int at = window_.selection(list);
    if (at >= 0 && static_cast<size_t>(at) < entries.size() &&
        entries[static_cast<size_t>(at)].text == shown)
        return &entries[static_cast<size_t>(at)];
    for (const Entry& e : entries) {
        if (e.text == shown)
            return &e;
    }
    return nullptr;
}

void SetupPage::enable_serial_lists(bool enabled) {
    for (SetupList list : SERIAL_LISTS)
        window_.enable(list, enabled);
}

void SetupPage::on_init() {
    flash_.read_port_settings();
    window_.cancel_to_close();

    switch (flash_.config.port_type) {
        case USB_PORT:
            window_.set_check(PortKindBox::com, false);
            window_.set_check(PortKindBox::usb, true);
            window_.set_check(PortKindBox::lpt, false);
            enable_serial_lists(false);
            break;
        case LPT_PORT:
            window_.set_check(PortKindBox::com, false);
            window_.set_check(PortKindBox::usb, false);
            window_.set_check(PortKindBox::lpt, true);
            enable_serial_lists(false);
            break;
        default:
            window_.set_check(PortKindBox::com, true);
            window_.set_check(PortKindBox::usb, false);
            window_.set_check(PortKindBox::lpt, false);
            window_.enable(SetupList::usb_ports, false);
            break;
    }

    // The first printer found is shown, whatever flash.ini names.
    std::vector<UsbPrinterInfo> printers;
    usb_find_devices(flash_.platform.usb, printers);
    for (const UsbPrinterInfo& printer : printers) {
        if (printer.has_port_number) {
            const std::string name = usb_port_name(printer);
            add(SetupList::usb_ports, name.c_str(), 0);
        }
    }
    if (!of(SetupList::usb_ports).entries.empty())
        window_.select(SetupList::usb_ports, 0);

    for (const char* name : LPT_NAMES) {
        if (parallel_port_present(flash_.platform.parallel, name))
            add(SetupList::lpt_ports, name, 0);
    }
    select_text(SetupList::lpt_ports, flash_.config.port_name, flash_.config.port_type != LPT_PORT);

    for (const char* name : COM_NAMES) {
        if (com_port_present(flash_.platform.serial, name))
            add(SetupList::com_ports, name, 0);
    }
    select_text(SetupList::com_ports, flash_.config.port_name, true);

    for (const TableEntry& e : SPEEDS)
        add(SetupList::baud, e.text, e.value);
    select_value(SetupList::baud, static_cast<int>(flash_.config.line.baud));
    for (const TableEntry& e : DATA_BITS)
        add(SetupList::data_bits, e.text, e.value);
    select_value(SetupList::data_bits, flash_.config.line.data_bits);
    for (const TableEntry& e : PARITIES)
        add(SetupList::parity, e.text, e.value);
    select_value(SetupList::parity, flash_.config.line.parity);
    for (const TableEntry& e : STOP_BITS)
        add(SetupList::stop_bits, e.text, e.value);
    select_value(SetupList::stop_bits, flash_.config.line.stop_bits);
}

void SetupPage::on_box_clicked(PortKindBox box) {
    if (!window_.is_checked(box)) {
        // The kinds are one choice: clicking the chosen one keeps it chosen.
        window_.set_check(box, true);
        return;
    }
    switch (box) {
        case PortKindBox::com:
            window_.set_check(PortKindBox::usb, false);
            window_.set_check(PortKindBox::lpt, false);
            enable_serial_lists(true);
            window_.enable(SetupList::usb_ports, false);
            window_.enable(SetupList::lpt_ports, false);
            flash_.config.port_type = COM_PORT;
            break;
        case PortKindBox::usb:
            window_.set_check(PortKindBox::com, false);
            window_.set_check(PortKindBox::lpt, false);
            enable_serial_lists(false);
            window_.enable(SetupList::lpt_ports, false);
            window_.enable(SetupList::usb_ports, true);
            flash_.config.port_type = USB_PORT;
            break;
        case PortKindBox::lpt:
            window_.set_check(PortKindBox::com, false);
            window_.set_check(PortKindBox::usb, false);
            enable_serial_lists(false);
            window_.enable(SetupList::usb_ports, false);
            window_.enable(SetupList::lpt_ports, true);
            flash_.config.port_type = LPT_PORT;
            break;
    }
}

void SetupPage::on_leave() {
    if (window_.is_checked(PortKindBox::usb)) {
        if (const Entry* e = chosen(SetupList::usb_ports))
            set_port_name(e->text);
        flash_.config.port_type = USB_PORT;
    } else if (window_.is_checked(PortKindBox::lpt)) {
        if (const Entry* e = chosen(SetupList::lpt_ports))
            set_port_name(e->text);
        flash_.config.port_type = LPT_PORT;
    } else if (window_.is_checked(PortKindBox::com)) {
        const Entry* port = chosen(SetupList::com_ports);
        const Entry* speed = chosen(SetupList::baud);
        const Entry* bits = chosen(SetupList::data_bits);
        const Entry* parity = chosen(SetupList::parity);
        const Entry* stop = chosen(SetupList::stop_bits);
        // A value typed instead of chosen keeps the setting in force.
        flash_.set_port_settings(
            port ? port->text.c_str() : "",
            speed ? speed->value : static_cast<int>(flash_.config.line.baud),
            static_cast<uint8_t>(bits ? bits->value : flash_.config.line.data_bits),
            parity ? parity->value : flash_.config.saved_parity,
            static_cast<uint8_t>(stop ? stop->value : flash_.config.line.stop_bits), 0);
        flash_.config.port_type = COM_PORT;
    }
    flash_.write_port_settings();
}

}  // namespace vx
