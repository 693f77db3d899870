#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

// No toolkit registry here: flash.ini stays in charge.
class PosixRegistry final : public ToolkitRegistry {
public:
    bool read_port(int, std::string&) override { return false; }
    bool read_serial(int, ToolkitSerial&) override { return false; }
};

}  // namespace

ToolkitRegistry& posix_registry() {
    static PosixRegistry registry;
    return registry;
}

}  // namespace vx
