#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app/setup_page.h"
#include "fake_ports.h"

namespace vx::test {
namespace {

// Dialog 103 as a table of controls; the LPT box and list start disabled as in the template.
class FakeSetupWindow : public SetupPageWindow {
public:
    struct List {
        std::vector<std::string> entries;
        int selected = -1;
        bool enabled = true;
        bool sorted = false;
        bool typed = false;  // the user typed `typed_text` over the field
        std::string typed_text;
    };
    List lists[7];
    bool checks[3] = {false, false, false};
    int cancel_to_close_calls = 0;
    SetupPage* page = nullptr;

    FakeSetupWindow() {
        of(SetupList::lpt_ports).enabled = false;
        of(SetupList::lpt_ports).sorted = true;
    }
    List& of(SetupList l) { return lists[static_cast<int>(l)]; }

    void cancel_to_close() override { ++cancel_to_close_calls; }
    void set_check(PortKindBox box, bool checked) override {
        checks[static_cast<int>(box)] = checked;
    }
    bool is_checked(PortKindBox box) override { return checks[static_cast<int>(box)]; }
    void enable(SetupList l, bool enabled) override { of(l).enabled = enabled; }
    int add_entry(SetupList l, const char* text) override {
        List& list = of(l);
        auto at = list.entries.end();
        if (list.sorted)
            at = std::upper_bound(list.entries.begin(), list.entries.end(), std::string(text));
        at = list.entries.insert(at, text);
        return static_cast<int>(at - list.entries.begin());
    }
    void select(SetupList l, int index) override {
        of(l).selected = index;
        of(l).typed = false;
    }
    int selection(SetupList l) override { return of(l).selected; }
    std::string text(SetupList l) override {
        List& list = of(l);
        if (list.typed)
            return list.typed_text;
        return list.selected >= 0 ? list.entries[static_cast<size_t>(list.selected)] : "";
    }

    // What the user does.
    void click(PortKindBox box) {
        checks[static_cast<int>(box)] = !checks[static_cast<int>(box)];  // an auto check box
        page->on_box_clicked(box);
    }
    void choose(SetupList l, const std::string& text) {
        List& list = of(l);
        auto it = std::find(list.entries.begin(), list.entries.end(), text);
        ASSERT_NE(it, list.entries.end()) << text;
        select(l, static_cast<int>(it - list.entries.begin()));
    }
    void type(SetupList l, const std::string& text) {
        of(l).typed = true;
        of(l).typed_text = text;
        // Windows keeps the last selection while the field is typed over.
    }
    std::string shown(SetupList l) { return text(l); }
};

struct SetupFixture {
    TempDir dir;
    FakePlatform fake;
    FakeComPorts com{fake.clock};
    FakeUsbPrinters usb{fake.clock};
    FakeParallelPorts parallel{fake.errors};
    Platform platform{fake.clock, fake.errors,   fake.platform.files, fake.platform.profile, com,
                      fake.ui,    fake.services, fake.printers,       fake.registry,         usb,
                      parallel};
    MessageCatalogue catalogue{platform};
    FlashRun flash{platform, catalogue};
    FakeSetupWindow window;
    SetupPage page{flash, window};

    SetupFixture() {
        window.page = &page;
        com.present = {"COM1", "COM2", "COM4"};
    }
    void ini(const std::string& port_lines) {
        dir.write("flash.ini", "[PORT SETTING]\r\n" + port_lines);
        std::snprintf(flash.config.ini_path, sizeof flash.config.ini_path, "%s",
                      dir.file("flash.ini").c_str());
    }
    std::string ini_text() { return dir.read("flash.ini"); }
    void add_usb(uint32_t number, bool has_number = true) {
        UsbPrinterInfo p;
        p.path = "usb" + std::to_string(number);
        p.has_port_number = has_number;
        p.port_number = number;
        p.hardware_id = "USB\\VID_7A1E&PID_0030";
        usb.devices.push_back(p);
    }
};

std::string written(const char* port, const char* baud, const char* size, const char* parity,
                    const char* stop) {
    return std::string("[PORT SETTING]\r\nPORT=") + port + "\r\nBAUD=" + baud + "\r\nSIZE=" + size +
           "\r\nPARITY=" + parity + "\r\nSTOP=" + stop + "\r\n";
}

TEST(SetupPageTest, ComListOffersPresentAndFreePortsOnly) {
    struct Case {
        const char* name;
        const char* port;
        std::vector<std::string> present;
        std::vector<std::string> list;
        int selected;
    };
    const Case cases[] = {
        {"configured port shown", "COM2", {"COM1", "COM2", "COM4"}, {"COM1", "COM2", "COM4"}, 1},
        {"held port left out", "COM3", {"COM1", "COM2", "COM4"}, {"COM1", "COM2", "COM4"}, 0},
        {"first free port", "COM1", {"COM4", "COM10"}, {"COM4", "COM10"}, 0},
        {"case-sensitive", "com2", {"COM2", "COM3"}, {"COM2", "COM3"}, 0},
        {"none free", "COM1", {}, {}, -1},
    };
    for (const Case& c : cases) {
        SetupFixture s;
        s.com.present = {c.present.begin(), c.present.end()};
        s.ini(std::string("PORT=") + c.port + "\r\n");
        s.page.on_init();
        EXPECT_EQ(s.window.of(SetupList::com_ports).entries, c.list) << c.name;
        EXPECT_EQ(s.window.of(SetupList::com_ports).selected, c.selected) << c.name;
        EXPECT_EQ(s.com.open_devices, 0) << c.name << ": a probe left a port open";
    }
    SetupFixture s;  // COM1..COM10 are tried in order, nothing else
    s.ini("PORT=COM1\r\n");
    s.page.on_init();
    const std::vector<std::string> tried = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                            "COM6", "COM7", "COM8", "COM9", "COM10"};
    EXPECT_EQ(s.com.opened, tried);
}

TEST(SetupPageTest, InitialisationFollowsThePortKind) {
    struct Case {
        const char* name;
        const char* port;
        bool com, usb, lpt;
        bool serial_enabled, usb_enabled, lpt_enabled;
    };
    const Case cases[] = {
        {"COM", "COM1", true, false, false, true, false, false},
        {"USB", "USB01", false, true, false, false, true, false},
        {"LPT", "LPT1", false, false, true, false, true, false},
        {"lower case counts as COM", "usb01", true, false, false, true, false, false},
    };
    for (const Case& c : cases) {
        SetupFixture s;
        s.ini(std::string("PORT=") + c.port + "\r\n");
        s.page.on_init();
        EXPECT_EQ(s.window.cancel_to_close_calls, 1) << c.name;
        EXPECT_EQ(s.window.checks[0], c.com) << c.name;
        EXPECT_EQ(s.window.checks[1], c.usb) << c.name;
        EXPECT_EQ(s.window.checks[2], c.lpt) << c.name;
        for (SetupList l : {SetupList::com_ports, SetupList::baud, SetupList::data_bits,
                            SetupList::parity, SetupList::stop_bits})
            EXPECT_EQ(s.window.of(l).enabled, c.serial_enabled) << c.name;
        EXPECT_EQ(s.window.of(SetupList::usb_ports).enabled, c.usb_enabled) << c.name;
        EXPECT_EQ(s.window.of(SetupList::lpt_ports).enabled, c.lpt_enabled) << c.name;
    }
}

TEST(SetupPageTest, SerialListsShowTheSettingsInForce) {
    struct Case {
        const char* name;
        const char* ini;
        uint8_t line_parity;  // what the line uses (read at start-up), not PARITY
        const char *baud, *bits, *parity, *stop;
    };
    const Case cases[] = {
        {"all set", "BAUD=9600\r\nSIZE=7\r\nPARITY=1\r\nSTOP=2\r\n", 2, "9600", "7", "EVEN", "2"},
        {"defaults", "", 0, "9600", "8", "NONE", "1"},
        {"STOP=1 has no entry", "STOP=1\r\n", 0, "9600", "8", "NONE", "1"},
        {"BAUD=14400 has no entry", "BAUD=14400\r\n", 0, "115200", "8", "NONE", "1"},
        {"SIZE=264 keeps its low byte", "SIZE=264\r\n", 1, "9600", "8", "ODD", "1"},
        {"SIZE=5 has no entry", "SIZE=5\r\nBAUD=1200\r\n", 0, "1200", "7", "NONE", "1"},
    };
    for (const Case& c : cases) {
        SetupFixture s;
        s.ini(std::string("PORT=COM1\r\n") + c.ini);
        s.flash.config.line.parity = c.line_parity;
        s.page.on_init();
        EXPECT_EQ(s.window.shown(SetupList::baud), c.baud) << c.name;
        EXPECT_EQ(s.window.shown(SetupList::data_bits), c.bits) << c.name;
        EXPECT_EQ(s.window.shown(SetupList::parity), c.parity) << c.name;
        EXPECT_EQ(s.window.shown(SetupList::stop_bits), c.stop) << c.name;
    }
}

TEST(SetupPageTest, UsbAndParallelLists) {
    {
        SetupFixture s;  // the first printer is shown even when flash.ini names another
        s.add_usb(1);
        s.add_usb(7, false);  // no port number: not offered
        s.add_usb(2);
        s.add_usb(12);
        s.add_usb(0);
        s.ini("PORT=USB02\r\n");
        s.page.on_init();
        EXPECT_EQ(s.usb.listings, 1);
        EXPECT_EQ(s.window.of(SetupList::usb_ports).entries,
                  (std::vector<std::string>{"USB01", "USB02", "USB12", "USB00"}));
        EXPECT_EQ(s.window.of(SetupList::usb_ports).selected, 0);
    }
    struct Case {
        const char* name;
        const char* port;
        std::vector<std::string> list;
        int selected;
    };
    const Case cases[] = {
        {"COM port: first entry", "COM1", {"LPT1", "LPT2", "LPT4"}, 0},
        {"configured parallel port", "LPT2", {"LPT1", "LPT2", "LPT4"}, 1},
        {"configured but busy", "LPT3", {"LPT1", "LPT2", "LPT4"}, -1},
    };
    for (const Case& c : cases) {
        SetupFixture s;
        s.parallel.ports = {{"LPT1", PortProbe::free},
                            {"LPT2", PortProbe::not_ready},
                            {"LPT3", PortProbe::busy},
                            {"LPT4", PortProbe::free},
                            {"LPT5", PortProbe::free}};
        s.ini(std::string("PORT=") + c.port + "\r\n");
        s.page.on_init();
        EXPECT_EQ(s.window.of(SetupList::lpt_ports).entries, c.list) << c.name;
        EXPECT_EQ(s.window.of(SetupList::lpt_ports).selected, c.selected) << c.name;
        EXPECT_TRUE(s.window.of(SetupList::usb_ports).entries.empty()) << c.name;
        EXPECT_EQ(s.window.of(SetupList::usb_ports).selected, -1) << c.name;
    }
}

TEST(SetupPageTest, CheckBoxesActAsOneChoice) {
    SetupFixture s;
    s.ini("PORT=COM1\r\n");
    s.page.on_init();
    auto serial_enabled = [&] {
        return s.window.of(SetupList::com_ports).enabled && s.window.of(SetupList::baud).enabled &&
               s.window.of(SetupList::stop_bits).enabled;
    };

    s.window.click(PortKindBox::usb);
    EXPECT_FALSE(s.window.checks[0]);
    EXPECT_TRUE(s.window.checks[1]);
    EXPECT_FALSE(serial_enabled());
    EXPECT_TRUE(s.window.of(SetupList::usb_ports).enabled);
    EXPECT_FALSE(s.window.of(SetupList::lpt_ports).enabled);
    EXPECT_EQ(s.flash.config.port_type, USB_PORT);
    EXPECT_STREQ(s.flash.config.port_name, "COM1");  // the name changes only when the page is left

    s.window.click(PortKindBox::usb);  // clicking the chosen kind keeps it chosen
    EXPECT_TRUE(s.window.checks[1]);
    EXPECT_TRUE(s.window.of(SetupList::usb_ports).enabled);
    EXPECT_EQ(s.flash.config.port_type, USB_PORT);

    s.window.click(PortKindBox::lpt);
    EXPECT_FALSE(s.window.checks[1]);
    EXPECT_TRUE(s.window.checks[2]);
    EXPECT_FALSE(s.window.of(SetupList::usb_ports).enabled);
    EXPECT_TRUE(s.window.of(SetupList::lpt_ports).enabled);
    EXPECT_EQ(s.flash.config.port_type, LPT_PORT);

    s.window.click(PortKindBox::com);
    EXPECT_TRUE(s.window.checks[0]);
    EXPECT_FALSE(s.window.checks[2]);
    EXPECT_TRUE(serial_enabled());
    EXPECT_FALSE(s.window.of(SetupList::usb_ports).enabled);
    EXPECT_FALSE(s.window.of(SetupList::lpt_ports).enabled);
    EXPECT_EQ(s.flash.config.port_type, COM_PORT);
}

TEST(SetupPageTest, LeavingWritesTheChoice) {
    {
        SetupFixture s;  // COM3 held: COM1 is shown and written
        s.ini("PORT=COM3\r\nBAUD=14400\r\nSTOP=1\r\n");
        s.page.on_init();
        s.page.on_leave();
        EXPECT_EQ(s.ini_text(),
                  "[PORT SETTING]\r\nPORT=COM1\r\nBAUD=115200\r\nSTOP=0\r\nSIZE=8\r\n"
                  "PARITY=0\r\n");
        EXPECT_EQ(s.flash.config.line.baud, 115200u);
        EXPECT_EQ(s.flash.config.port_type, COM_PORT);
    }
    {
        SetupFixture s;  // every list chosen; the parity reaches the line only at next start
        s.ini("PORT=COM1\r\n");
        s.page.on_init();
        s.window.choose(SetupList::com_ports, "COM4");
        s.window.choose(SetupList::baud, "19200");
        s.window.choose(SetupList::data_bits, "7");
        s.window.choose(SetupList::parity, "EVEN");
        s.window.choose(SetupList::stop_bits, "2");
        s.page.on_leave();
        EXPECT_EQ(s.ini_text(), written("COM4", "19200", "7", "2", "2"));
        EXPECT_STREQ(s.flash.config.port_name, "COM4");
        EXPECT_EQ(s.flash.config.line.baud, 19200u);
        EXPECT_EQ(s.flash.config.line.data_bits, 7);
        EXPECT_EQ(s.flash.config.line.stop_bits, 2);
        EXPECT_EQ(s.flash.config.saved_parity, 2);
        EXPECT_EQ(s.flash.config.line.parity, 0);
    }
    {
        SetupFixture s;  // no free COM port: an empty PORT
        s.com.present.clear();
        s.ini("PORT=COM2\r\n");
        s.page.on_init();
        s.page.on_leave();
        EXPECT_EQ(s.ini_text(), written("", "9600", "8", "0", "0"));
    }
    {
        SetupFixture s;  // USB chosen with no printer: the old name stays, USB for this run
        s.ini("PORT=COM2\r\nBAUD=4800\r\n");
        s.page.on_init();
        s.window.choose(SetupList::baud, "9600");
        s.window.click(PortKindBox::usb);
        s.page.on_leave();
        EXPECT_EQ(s.flash.config.port_type, USB_PORT);
        EXPECT_STREQ(s.flash.config.port_name, "COM2");
        EXPECT_EQ(s.ini_text(), written("COM2", "4800", "8", "0", "1"));
    }
    {
        SetupFixture s;  // two printers: the first one wins
        s.add_usb(1);
        s.add_usb(2);
        s.ini("PORT=USB02\r\n");
        s.page.on_init();
        s.page.on_leave();
        EXPECT_STREQ(s.flash.config.port_name, "USB01");
        EXPECT_EQ(s.ini_text(), written("USB01", "9600", "8", "0", "1"));
    }
    {
        SetupFixture s;  // the parallel kind writes the chosen parallel port
        s.parallel.ports = {{"LPT2", PortProbe::free}};
        s.ini("PORT=COM1\r\n");
        s.page.on_init();
        s.window.click(PortKindBox::lpt);
        s.page.on_leave();
        EXPECT_EQ(s.flash.config.port_type, LPT_PORT);
        EXPECT_STREQ(s.flash.config.port_name, "LPT2");
    }
    {
        SetupFixture s;  // leaving twice writes twice, the same values
        s.ini("PORT=COM1\r\n");
        s.page.on_init();
        s.page.on_leave();
        s.page.on_leave();
        EXPECT_EQ(s.ini_text(), written("COM1", "9600", "8", "0", "0"));
    }
}

TEST(SetupPageTest, TypedTextCountsOnlyWhenItIsAnEntry) {
    struct Case {
        const char* name;
        SetupList list;
        const char* typed;
        std::string ini;
    };
    const Case cases[] = {
        {"port typed as an entry", SetupList::com_ports, "COM2",
         written("COM2", "4800", "8", "0", "0")},
        {"port not offered", SetupList::com_ports, "COM3", written("", "4800", "8", "0", "0")},
        {"port typed in lower case", SetupList::com_ports, "com1",
         written("", "4800", "8", "0", "0")},
        {"speed not in the table keeps the speed", SetupList::baud, "14400",
         written("COM1", "4800", "8", "0", "0")},
        {"speed typed as an entry", SetupList::baud, "57600",
         written("COM1", "57600", "8", "0", "0")},
        {"parity typed over", SetupList::parity, "MARK", written("COM1", "4800", "8", "1", "0")},
        {"field cleared", SetupList::data_bits, "", written("COM1", "4800", "7", "0", "0")},
    };
    for (const Case& c : cases) {
        SetupFixture s;
        s.ini("PORT=COM1\r\nBAUD=4800\r\nSIZE=7\r\nPARITY=1\r\n");
        s.page.on_init();
        if (c.list != SetupList::data_bits)
            s.window.choose(SetupList::data_bits, "8");
        s.window.type(c.list, c.typed);
        s.page.on_leave();
        EXPECT_EQ(s.ini_text(), c.ini) << c.name;
    }
}

}  // namespace
}  // namespace vx::test
