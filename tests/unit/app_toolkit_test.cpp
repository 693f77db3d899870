#include <gtest/gtest.h>

#include <string>

#include "app/toolkit.h"
#include "fake_platform.h"

namespace vx::test {
namespace {

struct PortCase {
    const char* name;
    bool text;          // stored as text (with its NUL) or as raw bytes
    std::string value;  // FlashPort
    int result;
    const char* port;  // expected name when result is 1
};

TEST(ToolkitTest, PortValue) {
    const PortCase cases[] = {
        {"com", true, "COM3", 1, "COM3"},
        {"usb", true, "USB01", 1, "USB01"},
        {"nine characters fit", true, "COM123456", 1, "COM123456"},
        {"ten characters are refused, not cut", true, "COM1234567", 0, nullptr},
        {"no port assigned", true, "******", 0, nullptr},
        {"only an exact match means no port", true, "*******", 1, "*******"},
        {"empty", true, "", 0, nullptr},
        {"without its NUL", false, "COM4", 1, "COM4"},
        {"larger than the value buffer", true, std::string(64, 'C'), 0, nullptr},
    };
    for (const PortCase& c : cases) {
        FakeRegistry registry;
        if (c.text) {
            registry.set_text("FlashPort", c.value);
        } else {
            registry.key_present = true;
            registry.values["FlashPort"].assign(c.value.begin(), c.value.end());
        }
        char port[TOOLKIT_PORT_CHARS] = "keep";
        EXPECT_EQ(read_toolkit_port(registry, 1, port), c.result) << c.name;
        EXPECT_STREQ(port, c.result ? c.port : "keep") << c.name;
        EXPECT_EQ(registry.open_keys, 0) << c.name;
    }
}

TEST(ToolkitTest, PortNeedsKeyValueAndKnownKind) {
    char port[TOOLKIT_PORT_CHARS] = {};
    FakeRegistry none;
    EXPECT_EQ(read_toolkit_port(none, 1, port), 0);

    FakeRegistry registry;
    registry.set_text("SetupPort", "COM2");
    registry.set_text("MacroLogoPort", "COM7");
    EXPECT_EQ(read_toolkit_port(registry, 1, port), 0);  // FlashPort missing
    EXPECT_EQ(read_toolkit_port(registry, 3, port), 1);
    EXPECT_STREQ(port, "COM2");
    EXPECT_EQ(read_toolkit_port(registry, 4, port), 1);
    EXPECT_STREQ(port, "COM7");
    EXPECT_EQ(read_toolkit_port(registry, 5, port), 0);
    EXPECT_EQ(read_toolkit_port(registry, 0, port), 0);
    EXPECT_EQ(registry.open_keys, 0);
}

struct SerialCase {
    const char* name;
    std::vector<uint8_t> parity;
    std::vector<uint8_t> stop;
    std::vector<uint8_t> bits;
    uint8_t want_parity, want_stop, want_bits;
};

std::vector<uint8_t> text(const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}
std::vector<uint8_t> dword(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

TEST(ToolkitTest, SerialValuesCountByTheirFirstByte) {
    const SerialCase cases[] = {
        {"even, one stop bit", text("EVEN"), dword(1), dword(8), 2, 0, 8},
        {"odd, two stop bits", text("ODD"), dword(2), dword(7), 1, 2, 7},
        {"none", text("NONE"), dword(15), dword(8), 0, 0, 8},
        {"empty parity", text(""), dword(1), dword(8), 0, 0, 8},
        {"lower-case even", text("even"), dword(2), dword(8), 0, 2, 8},
        {"stop bits as text", text("E"), text("2"), dword(8), 2, 0, 8},
        {"empty parity value", {}, dword(1), dword(8), 0, 0, 8},
    };
    for (const SerialCase& c : cases) {
        FakeRegistry registry;
        registry.key_present = true;
        registry.values["FlashComBaudrate"] = dword(19200);
        registry.values["FlashComParity"] = c.parity;
        registry.values["FlashComStopBits"] = c.stop;
        registry.values["FlashComDataBits"] = c.bits;
        uint32_t baud = 0;
        uint8_t stop = 9, parity = 9, bits = 9;
        ASSERT_EQ(read_toolkit_serial(registry, 1, baud, stop, parity, bits), 1) << c.name;
        EXPECT_EQ(baud, 19200u) << c.name;
        EXPECT_EQ(parity, c.want_parity) << c.name;
        EXPECT_EQ(stop, c.want_stop) << c.name;
        EXPECT_EQ(bits, c.want_bits) << c.name;
        EXPECT_EQ(registry.open_keys, 0) << c.name;
    }
}

TEST(ToolkitTest, SerialValuesAreRefusedAsAWhole) {
    struct Case {
        const char* name;
        const char* drop;  // value left out
        std::vector<uint8_t> baud;
    };
    const Case cases[] = {
        {"baud as text", nullptr, text("9600")},
        {"baud of two bytes", nullptr, {0x80, 0x25}},
        {"no parity", "FlashComParity", dword(9600)},
        {"no stop bits", "FlashComStopBits", dword(9600)},
        {"no data bits", "FlashComDataBits", dword(9600)},
        {"no baud", "FlashComBaudrate", dword(9600)},
    };
    for (const Case& c : cases) {
        FakeRegistry registry;
        registry.set_flash_serial(0, "ODD", 2, 7);
        registry.values["FlashComBaudrate"] = c.baud;
        if (c.drop)
            registry.values.erase(c.drop);
        uint32_t baud = 0;
        uint8_t stop = 0, parity = 0, bits = 0;
        EXPECT_EQ(read_toolkit_serial(registry, 1, baud, stop, parity, bits), 0) << c.name;
        EXPECT_EQ(registry.open_keys, 0) << c.name;
    }
    FakeRegistry registry;
    registry.set_flash_serial(9600, "ODD", 2, 7);
    uint32_t baud = 0;
    uint8_t stop = 0, parity = 0, bits = 0;
    EXPECT_EQ(read_toolkit_serial(registry, 5, baud, stop, parity, bits), 0);
    FakeRegistry none;
    EXPECT_EQ(read_toolkit_serial(none, 1, baud, stop, parity, bits), 0);
}

TEST(ToolkitTest, EachToolHasItsOwnPrefix) {
    FakeRegistry registry;
    registry.key_present = true;
    registry.values["FlashMicrComBaudrate"] = dword(4800);
    registry.values["FlashMicrComParity"] = text("E");
    registry.values["FlashMicrComStopBits"] = dword(2);
    registry.values["FlashMicrComDataBits"] = dword(7);
    uint32_t baud = 0;
    uint8_t stop = 0, parity = 0, bits = 0;
    EXPECT_EQ(read_toolkit_serial(registry, 1, baud, stop, parity, bits), 0);
    EXPECT_EQ(read_toolkit_serial(registry, 2, baud, stop, parity, bits), 1);
    EXPECT_EQ(baud, 4800u);
}

}  // namespace
}  // namespace vx::test
