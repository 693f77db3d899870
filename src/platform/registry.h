// The printer toolkit's registry key, read only. The toolkit keeps its per-tool port choice
// there; this program never writes to it.
#pragma once
#include <cstdint>
#include <memory>

namespace vx {

// The open key. Destruction closes it.
class ToolkitKey {
public:
    virtual ~ToolkitKey() = default;
    // The raw bytes of a value, whatever its type. False when the value is missing or does
    // not fit in `capacity` bytes; `size` is the number of bytes stored.
    virtual bool read_value(const char* name, uint8_t* buffer, uint32_t capacity,
                            uint32_t& size) = 0;
};

class ToolkitRegistry {
public:
    virtual ~ToolkitRegistry() = default;
    // Opens the key for reading. Null when it is missing, cannot be opened, or the system has
    // no registry (flash.ini then stays in charge).
    virtual std::unique_ptr<ToolkitKey> open_toolkit_key() = 0;
};

}  // namespace vx
