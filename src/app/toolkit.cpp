// The toolkit's registry values: the port value is text, the baud rate a double word, the
// other three values count by their first byte, whatever type they are stored with.
#include "app/toolkit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/registry.h"

namespace vx {
namespace {

constexpr uint32_t VALUE_BYTES = 64;
constexpr const char* NO_PORT = "******";

struct ToolNames {
    const char* port_value;
    const char* prefix;
};

constexpr ToolNames TOOLS[] = {
    {"FlashPort", "Flash"},
    {"FlashMicrPort", "FlashMicr"},
    {"SetupPort", "Setup"},
    {"MacroLogoPort", "MacroLogo"},
};

const ToolNames* tool_names(uint16_t tool_kind) {
    if (tool_kind < 1 || tool_kind > 4)
        return nullptr;
    return &TOOLS[tool_kind - 1];
}

// One value into a cleared buffer; the last byte always stays 0 so the text form ends.
struct Value {
    uint8_t bytes[VALUE_BYTES + 1] = {};
    uint32_t size = 0;
    bool read(ToolkitKey& key, const std::string& name) {
        std::memset(bytes, 0, sizeof bytes);
        size = 0;
        return key.read_value(name.c_str(), bytes, VALUE_BYTES, size);
    }
    // The text up to the first NUL within the bytes read.
    std::string text() const {
        const auto* begin = reinterpret_cast<const char*>(bytes);
        const char* end = begin + (size < VALUE_BYTES ? size : VALUE_BYTES);
        return std::string(begin, std::find(begin, end, '\0'));
    }
};

}  // namespace

int read_toolkit_port(ToolkitRegistry& registry, uint16_t tool_kind,
                      char (&port)[TOOLKIT_PORT_CHARS]) {
    std::unique_ptr<ToolkitKey> key = registry.open_toolkit_key();
    if (key == nullptr)
        return 0;
    const ToolNames* names = tool_names(tool_kind);
    if (names == nullptr)
        return 0;
    Value value;
    if (!value.read(*key, names->port_value))
        return 0;
    const std::string text = value.text();
    // A name that does not fit is refused rather than cut: a cut name would be another port.
    // An empty one names no port, like "******".
    if (text == NO_PORT || text.empty() || text.size() >= TOOLKIT_PORT_CHARS)
        return 0;
    std::memcpy(port, text.c_str(), text.size() + 1);
    return 1;
}

int read_toolkit_serial(ToolkitRegistry& registry, uint16_t tool_kind, uint32_t& baud,
                        uint8_t& stop, uint8_t& parity, uint8_t& data_bits) {
    std::unique_ptr<ToolkitKey> key = registry.open_toolkit_key();
    if (key == nullptr)
        return 0;
    const ToolNames* names = tool_names(tool_kind);
    if (names == nullptr)
        return 0;
    const std::string prefix = names->prefix;
    Value value;

    if (!value.read(*key, prefix + "ComBaudrate") || value.size != 4)
        return 0;
    baud = static_cast<uint32_t>(value.bytes[0]) | static_cast<uint32_t>(value.bytes[1]) << 8 |
           static_cast<uint32_t>(value.bytes[2]) << 16 |
           static_cast<uint32_t>(value.bytes[3]) << 24;

    if (!value.read(*key, prefix + "ComParity"))
        return 0;
    parity = value.bytes[0] == 'O' ? 1 : value.bytes[0] == 'E' ? 2 : 0;

    if (!value.read(*key, prefix + "ComStopBits"))
        return 0;
    stop = value.bytes[0] == 2 ? 2 : 0;

    if (!value.read(*key, prefix + "ComDataBits"))
        return 0;
    data_bits = value.bytes[0];
    return 1;
}

}  // namespace vx
