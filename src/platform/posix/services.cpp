#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

// No print spooler service to stop here; start-up then says nothing about it.
class PosixServices final : public Services {
public:
    ServiceAccess spooler_state(ServiceState& state) override {
        state = ServiceState::unknown;
        return ServiceAccess::not_applicable;
    }
    bool stop_spooler(std::string&) override { return false; }
    bool start_spooler(std::string&) override { return true; }
    bool write_stop_record() override { return false; }
    void clear_stop_record() override {}
    bool stop_recorded() override { return false; }
};

}  // namespace

Services& posix_services() {
    static PosixServices services;
    return services;
}

}  // namespace vx
