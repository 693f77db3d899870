// Parallel port access for builds without it: nothing is found, nothing opens. A platform file
// returns these until it has a real implementation.
#pragma once
#include "platform/parallel.h"

namespace vx {

class NullParallelPorts final : public ParallelPorts {
public:
    bool available() const override { return false; }
    std::unique_ptr<ParallelDevice> open(const char*) override { return nullptr; }
    bool present(const char*) override { return false; }
};

}  // namespace vx
