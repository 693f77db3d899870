// Parallel port access is not in this build yet: nothing opens and nothing is present.
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

class UnavailableParallel final : public ParallelPorts {
public:
    bool available() const override { return false; }
    std::unique_ptr<ParallelDevice> open(const char*) override { return nullptr; }
    bool present(const char*) override { return false; }
};

}  // namespace

ParallelPorts& win32_parallel() {
    static UnavailableParallel parallel;
    return parallel;
}

}  // namespace vx
