#include <windows.h>

#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

// The service's current state. A stopped service refuses the interrogate control, and the
// record it fills in is then not to be trusted, so ask the manager for its status instead;
// when that fails too, nothing is known and the service counts as not running.
DWORD current_state(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_INTERROGATE, &status)) {
        return status.dwCurrentState;
    }
    SERVICE_STATUS queried{};
    if (QueryServiceStatus(service, &queried)) {
        return queried.dwCurrentState;
    }
    return 0;
}

class Win32Services final : public Services {
public:
    bool has_spooler() const override { return true; }
    SpoolerStop stop_spooler() override {
        UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager) {
            return SpoolerStop::manager_failed;
        }
        UniqueServiceHandle spooler(OpenServiceA(manager.get(), "spooler", SERVICE_ALL_ACCESS));
        if (!spooler) {
            return SpoolerStop::service_failed;
        }
        if (current_state(spooler.get()) == SERVICE_RUNNING) {
            SERVICE_STATUS status{};
            if (!ControlService(spooler.get(), SERVICE_CONTROL_STOP, &status)) {
                return SpoolerStop::stop_refused;
            }
        }
        return SpoolerStop::stopped;
    }

    void start_spooler() override {
        UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager) {
            return;
        }
        UniqueServiceHandle spooler(OpenServiceA(manager.get(), "spooler", SERVICE_ALL_ACCESS));
        if (!spooler) {
            return;
        }
        if (current_state(spooler.get()) == SERVICE_STOPPED) {
            StartServiceA(spooler.get(), 0, nullptr);
        }
    }
};

}  // namespace

Services& win32_services() {
    static Win32Services services;
    return services;
}

}  // namespace vx
