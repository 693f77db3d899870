#include "platform/win32/win32_services.h"

namespace vx {
namespace {

// The toolkit's registry key is not read yet: every value counts as absent, so the
// settings of flash.ini stand.
class Win32Registry final : public ToolkitRegistry {
public:
    bool read_port(int, std::string&) override { return false; }
    bool read_serial(int, ToolkitSerial&) override { return false; }
};

}  // namespace

ToolkitRegistry& win32_registry() {
    static Win32Registry registry;
    return registry;
}

}  // namespace vx
