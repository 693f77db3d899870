#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

// No registry here: there is never a toolkit key, so flash.ini stays in charge.
class PosixRegistry final : public ToolkitRegistry {
public:
    std::unique_ptr<ToolkitKey> open_toolkit_key() override { return nullptr; }
};

}  // namespace

ToolkitRegistry& posix_registry() {
    static PosixRegistry registry;
    return registry;
}

}  // namespace vx
