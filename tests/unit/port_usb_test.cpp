#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "port/usb_port.h"
#include "port_fixture.h"

namespace vx::test {
namespace {

using Bytes = std::vector<uint8_t>;

UsbPrinterInfo printer(const char* path, uint32_t number,
                       const char* id = "USB\\VID_7A1E&PID_0030") {
    return {path, id, true, number};
}

UsbPrinterInfo unnumbered(const char* path) {
    return {path, "USB\\VID_7A1E&PID_0030", false, 0};
}

struct UsbFixture : PortFixture {
    UsbFixture() { set_port("USB01", USB_PORT); }
    UsbPort& port() { return static_cast<UsbPort&>(PortFixture::port()); }
    // The device answers each 0x02 with the next byte of `answers` (nothing once they run out).
    void answer_handshake(Bytes answers) {
        fake.usb.configure = [answers](FakeUsbDevice& d) {
            d.on_write = [answers, n = size_t(0)](FakeUsbDevice& dev, const uint8_t* p,
                                                  uint32_t len) mutable {
                if (len == 1 && p[0] == 0x02 && n < answers.size())
                    dev.incoming.push_back({answers[n++]});
            };
        };
    }
};

TEST(UsbHardwareId, AcceptedIds) {
    const struct {
        const char* id;
        bool accepted;
    } cases[] = {
        {"USB\\VID_7A1E&PID_0031&REV_0100", true},
        {"USB\\VID_7A1E&PID_0032", false},
        {"usb\\vid_7a1e&pid_0030", true},
        {"VID_7A1E&PID_0001", true},
        {"USB\\VID_7A1E&PID_003", false},  // shorter than an id
        {"USB\\VID_7A1F&PID_0030", false},
        {"USB\\PID_0030", false},
        {"", false},
        // only the first "VID" counts
        {"USB\\VIDEO\\VID_7A1E&PID_0030", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(match_hardware_id(c.id), c.accepted) << c.id;
}

TEST(UsbFindDevices, KeepsAcceptedPrintersUpToTen) {
    FakeClock clock;
    FakeUsbPrinters usb{clock};
    usb.devices.push_back(printer("other", 1, "USB\\VID_1234&PID_0030"));
    for (uint32_t i = 0; i < 12; ++i)
        usb.devices.push_back(printer(("p" + std::to_string(i)).c_str(), 0x100 + i));
    std::vector<UsbPrinterInfo> list;
    EXPECT_EQ(usb_find_devices(usb, list), 1);
    ASSERT_EQ(list.size(), USB_MAX_DEVICES);
    EXPECT_EQ(list[0].path, "p0");
    EXPECT_EQ(list[0].port_number, 0u);  // the value's low byte
    EXPECT_EQ(usb_port_name(list[3]), "USB03");

    usb.devices = {unnumbered("a"), printer("b", 1, "USB\\VID_1234&PID_0001")};
    EXPECT_EQ(usb_find_devices(usb, list), 0);
    EXPECT_EQ(list.size(), 1u);  // listed, but without a name
    EXPECT_EQ(usb_port_name(list[0]), "");

    usb.list_fails = true;
    EXPECT_EQ(usb_find_devices(usb, list), 0);
    EXPECT_TRUE(list.empty());
}

struct ChoiceCase {
    const char* name;
    std::vector<UsbPrinterInfo> devices;
    const char* port;
    const char* opened;  // null: the open fails
    int listings;
};

class UsbChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(UsbChoice, PortNameChoosesThePrinter) {
    const ChoiceCase& c = GetParam();
    UsbFixture f;
    f.set_port(c.port, USB_PORT);
    f.fake.usb.devices = c.devices;
    f.answer_handshake({0x06});
    EXPECT_EQ(open_port(f.opening(), f.port(), true), c.opened ? 1 : 0);
    EXPECT_EQ(f.fake.usb.listings, c.listings);
    if (c.opened) {
        ASSERT_EQ(f.fake.usb.opened.size(), 1u);
        EXPECT_EQ(f.fake.usb.opened[0], c.opened);
        EXPECT_EQ(f.ko(), "");
    } else {
        EXPECT_TRUE(f.fake.usb.opened.empty());
        EXPECT_EQ(f.ko(), "[Error 5] Printer OFF - portname " + std::string(c.port) + ".\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Usb, UsbChoice,
    ::testing::Values(
        ChoiceCase{"second_by_number", {printer("a", 1), printer("b", 2)}, "USB02", "b", 1},
        ChoiceCase{
            "unknown_number_takes_first", {printer("a", 1), printer("b", 2)}, "USB05", "a", 1},
        ChoiceCase{"single_under_any_name", {printer("a", 3)}, "USB01", "a", 1},
        ChoiceCase{"last_of_equal_numbers", {printer("a", 1), printer("b", 1)}, "USB01", "b", 1},
        ChoiceCase{"one_digit_name", {printer("a", 1), printer("b", 2)}, "USB2", "b", 1},
        ChoiceCase{"unnumbered_alone_fails", {unnumbered("a")}, "USB01", nullptr, 1},
        ChoiceCase{"unnumbered_never_matches", {unnumbered("a"), printer("b", 2)}, "USB00", "b", 1},
        ChoiceCase{
            "unnumbered_is_not_the_fallback", {unnumbered("a"), printer("b", 2)}, "USB07", "b", 1},
        ChoiceCase{"no_printer", {}, "USB01", nullptr, 1},
        ChoiceCase{"foreign_printer_only",
                   {printer("a", 1, "USB\\VID_04B8&PID_0030")},
                   "USB01",
                   nullptr,
                   1},
        ChoiceCase{"too_long_name_not_listed", {printer("a", 1)}, "USB100", nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UsbHandshake, AnswersAndCloseByte) {
    const struct {
        const char* name;
        Bytes answers;
        std::vector<Bytes> open_writes;
        bool acknowledged;
        uint64_t pauses_ms;
    } cases[] = {
        {"ack", {0x06}, {{0x02}}, true, 0},
        {"ack_after_refusals", {0x15, 0x15, 0x06}, {{0x02}, {0x02}, {0x02}}, true, 400},
        {"refused_five_times",
         {0x15, 0x15, 0x15, 0x15, 0x15},
         {{0x02}, {0x02}, {0x02}, {0x02}, {0x02}},
         false,
         1000},
        {"silent", {}, {{0x02}, {0x1B, 0x6C}}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UsbFixture f;
        f.fake.usb.devices = {printer("a", 1)};
        f.answer_handshake(c.answers);
        bool closed = false;
        auto configure = f.fake.usb.configure;
        f.fake.usb.configure = [&](FakeUsbDevice& d) {
            configure(d);
            d.closed = &closed;
        };
        ASSERT_EQ(open_port(f.opening(), f.port(), true), 1);
        FakeUsbDevice& dev = *f.fake.usb.last;
        EXPECT_EQ(f.fake.usb.writes, c.open_writes);
        EXPECT_EQ(f.port().acknowledged(), c.acknowledged);
        EXPECT_EQ(f.fake.clock.slept, c.pauses_ms);
        for (uint32_t t : dev.timeouts)
            EXPECT_EQ(t, 500u);

        // A second open of an open port makes no new handshake.
        EXPECT_EQ(open_port(f.opening(), f.port(), true), 1);
        EXPECT_EQ(dev.writes.size(), c.open_writes.size());

        f.port().close();
        EXPECT_TRUE(closed);
        std::vector<Bytes> expected = c.open_writes;
        if (c.acknowledged)
            expected.push_back({0x03});
        EXPECT_EQ(f.fake.usb.writes, expected);
        f.port().close();  // nothing more
        EXPECT_FALSE(f.port_open());
    }
}

TEST(UsbRead, RequestsAreWholeAndSurplusWaitsForTheNextRead) {
    UsbFixture f;
    f.fake.usb.devices = {printer("a", 1)};
    f.answer_handshake({0x06});
    ASSERT_EQ(open_port(f.opening(), f.port(), true), 1);
    FakeUsbDevice& dev = *f.fake.usb.last;
    dev.requests.clear();
    dev.incoming.push_back({0x00, 0x16, 0x41, 0x42, 0x43});

    // The caller's buffer holds 2 bytes; the request brought 5. Nothing lands past the end.
    uint8_t buf[8];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 2, 60000), 2);
    EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0x00, 0x16, 0xEE}));
    EXPECT_EQ(f.port().surplus(), 3u);

    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 1, 60000), 1);
    EXPECT_EQ(buf[0], 0x41);
    EXPECT_EQ(read_port(f.parts.port_troubles, f.port(), buf, 8, 60000), 2);
    EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0x42, 0x43}));
    ASSERT_EQ(dev.requests.size(), 1u);  // the surplus needed no request
    EXPECT_EQ(dev.requests[0], USB_READ_REQUEST);

    // A purge drops what is waiting, and what one more request brings.
    dev.incoming.push_back({1, 2, 3});
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 1, 10), 1);
    dev.incoming.push_back({4});
    EXPECT_EQ(purge_port(f.parts.port_troubles, f.port()), 1);
    EXPECT_EQ(f.port().surplus(), 0u);
    EXPECT_TRUE(dev.incoming.empty());
    EXPECT_EQ(dev.timeouts.back(), 1000u);
}

TEST(UsbRead, SilentPrinterCostsTheTimeOutAndLeavesNothingOutstanding) {
    UsbFixture f;
    f.fake.usb.devices = {printer("a", 1)};
    f.answer_handshake({0x06});
    ASSERT_EQ(open_port(f.opening(), f.port(), true), 1);
    FakeUsbDevice& dev = *f.fake.usb.last;
    const uint64_t before = f.fake.clock.now;
    uint8_t buf[4] = {9, 9, 9, 9};
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 1, 60000), 0);
    EXPECT_EQ(f.fake.clock.now - before, 60000u);
    EXPECT_EQ(dev.outstanding, 0);
    EXPECT_EQ(buf[0], 0);

    dev.read_error = 31;
    dev.incoming.push_back({5});
    EXPECT_EQ(read_port_block(f.parts.port_troubles, f.port(), buf, 1, 10), 0);
    EXPECT_EQ(dev.outstanding, 0);
}

// Every write has its limit; one that fails it (a stalled pipe) is a failed write, and the
// close byte is not sent into the same stalled pipe.
TEST(UsbWrite, ShortFailedOrStalledWriteIsAFailure) {
    for (int kind = 0; kind < 4; ++kind) {
        UsbFixture f;
        f.fake.usb.devices = {printer("a", 1)};
        f.answer_handshake({0x06});
        ASSERT_EQ(open_port(f.opening(), f.port(), true), 1);
        FakeUsbDevice& dev = *f.fake.usb.last;
        if (kind == 1)
            dev.short_by = 1;
        if (kind == 2)
            dev.write_error = 22;
        dev.write_stalls = kind == 3;
        const Bytes page(4096, 0x5A);
        const uint64_t before = f.fake.clock.now;
        EXPECT_EQ(write_port(f.parts.port_troubles, f.port(), page.data(), 4096),
                  kind == 0 ? 4096 : 0);
        EXPECT_EQ(write_read_port(f.parts.port_troubles, f.port(), page.data(), 4096, nullptr, 0),
                  kind == 0 ? 4096 : 0);
        EXPECT_EQ(dev.write_timeouts.back(), usb_write_limit_ms(4096));
        EXPECT_LE(f.fake.clock.now - before, 2u * usb_write_limit_ms(4096));
        const size_t writes = dev.writes.size();
        f.port().close();
        // A write error keeps the close byte (which then fails too), a stalled pipe does not.
        EXPECT_EQ(f.fake.usb.writes.size(), writes + (kind <= 1 ? 1u : 0u)) << kind;
    }
    // The bytes that came with the handshake's answer are not left for the detection.
    {
        UsbFixture f;
        f.fake.usb.devices = {printer("a", 1)};
        f.fake.usb.configure = [](FakeUsbDevice& d) {
            d.on_write = [](FakeUsbDevice& dev, const uint8_t*, uint32_t) {
                dev.incoming.push_back({0x06, 0x17});
            };
        };
        ASSERT_EQ(open_port(f.opening(), f.port(), true), 1);
        EXPECT_TRUE(f.port().acknowledged());
        EXPECT_EQ(f.port().surplus(), 0u);
    }
    // A closed port writes nothing.
    UsbFixture f;
    const uint8_t b = 1;
    EXPECT_EQ(write_port(f.parts.port_troubles, f.port(), &b, 1), 0);
    uint8_t buf[2];
    EXPECT_EQ(read_port(f.parts.port_troubles, f.port(), buf, 2, 10), 0);
}

TEST(UsbListing, ForTheSetupPage) {
    UsbFixture f;
    f.fake.usb.devices = {printer("a", 1), printer("x", 2, "USB\\VID_1111&PID_0001"),
                          printer("b", 12)};
    std::vector<UsbPrinterInfo> list;
    EXPECT_EQ(usb_list_printers(f.fake.usb, list), 1);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(usb_port_name(list[1]), "USB12");
    f.fake.usb.is_available = false;
    EXPECT_EQ(usb_list_printers(f.fake.usb, list), 0);
    EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace vx::test
