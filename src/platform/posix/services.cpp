#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

// No print spooler service to stop here; start-up then says nothing about it.
class PosixServices final : public Services {
public:
    SpoolerStop stop_spooler() override { return SpoolerStop::not_applicable; }
    void start_spooler() override {}
};

}  // namespace

Services& posix_services() {
    static PosixServices services;
    return services;
}

}  // namespace vx
