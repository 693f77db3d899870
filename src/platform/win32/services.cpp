// The print spooler through the service control manager, and the record of a stop this
// program made. The record is a value under HKEY_LOCAL_MACHINE: the spooler is one per machine,
// so a later start by any user, from any folder, must find it; and writing it takes the same
// administrator rights as stopping the service, which a run that stops it has.
#include <windows.h>

#include <string>

#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

constexpr const char* RECORD_KEY = "SOFTWARE\\vxflash";
constexpr const char* RECORD_VALUE = "SpoolerStoppedBy";
// A stop or a start still pending after this long is reported as failed.
constexpr ULONGLONG STATE_WAIT_MS = 20000;
constexpr DWORD STATE_POLL_MS = 250;

std::string system_text(DWORD code) {
    return win32_errors().error_text(code);
}

// The service's current state. A stopped service refuses the interrogate control, and the
// record it fills in is then not to be trusted, so ask the manager for its status instead;
// when that fails too, nothing is known.
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

// Waits, within the limit, while the service is in `pending`; returns the state it is in.
DWORD wait_while(SC_HANDLE service, DWORD pending) {
    const ULONGLONG until = GetTickCount64() + STATE_WAIT_MS;
    DWORD state = current_state(service);
    while (state == pending && GetTickCount64() < until) {
        Sleep(STATE_POLL_MS);
        state = current_state(service);
    }
    return state;
}

// The file name part of a path.
std::string base_name(const char* path) {
    const std::string p = path;
    const size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// True when process `pid` runs and is this program (a reused id is some other program).
bool same_program_runs(DWORD pid) {
    UniqueFileHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT)
        return false;
    char theirs[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    char ours[MAX_PATH] = {};
    if (!QueryFullProcessImageNameA(process.get(), 0, theirs, &size) ||
        GetModuleFileNameA(nullptr, ours, MAX_PATH) == 0)
        return false;
    return lstrcmpiA(base_name(theirs).c_str(), base_name(ours).c_str()) == 0;
}

class Spooler {
public:
    Spooler() : manager_(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        if (manager_)
            service_.reset(OpenServiceA(manager_.get(), "spooler", SERVICE_ALL_ACCESS));
        error_ = GetLastError();
    }
    ServiceAccess access() const {
        return !manager_   ? ServiceAccess::manager_failed
               : !service_ ? ServiceAccess::service_failed
                           : ServiceAccess::opened;
    }
    SC_HANDLE get() const { return service_.get(); }
    DWORD open_error() const { return error_; }

private:
    UniqueServiceHandle manager_;
    UniqueServiceHandle service_;
    DWORD error_ = 0;
};

class Win32Services final : public Services {
public:
    ServiceAccess spooler_state(ServiceState& state) override {
        Spooler spooler;
        state = ServiceState::unknown;
        if (spooler.access() != ServiceAccess::opened)
            return spooler.access();
        switch (current_state(spooler.get())) {
            case SERVICE_STOPPED:
                state = ServiceState::stopped;
                break;
            case SERVICE_RUNNING:
                state = ServiceState::running;
                break;
            case 0:
                break;
            default:
                state = ServiceState::pending;
                break;
        }
        return ServiceAccess::opened;
    }

    bool stop_spooler(std::string& error) override {
        Spooler spooler;
        SERVICE_STATUS status{};
        if (spooler.access() != ServiceAccess::opened ||
            !ControlService(spooler.get(), SERVICE_CONTROL_STOP, &status)) {
            error = system_text(spooler.access() != ServiceAccess::opened ? spooler.open_error()
                                                                          : GetLastError());
            return false;
        }
        return true;
    }

    bool start_spooler(std::string& error) override {
        Spooler spooler;
        if (spooler.access() != ServiceAccess::opened) {
            error = system_text(spooler.open_error());
            return false;
        }
        // A stop still under way must end before the service can start again.
        DWORD state = wait_while(spooler.get(), SERVICE_STOP_PENDING);
        if (state != SERVICE_RUNNING && state != SERVICE_START_PENDING) {
            if (!StartServiceA(spooler.get(), 0, nullptr)) {
                const DWORD code = GetLastError();
                if (code != ERROR_SERVICE_ALREADY_RUNNING) {
                    error = system_text(code);
                    return false;
                }
            }
        }
        state = wait_while(spooler.get(), SERVICE_START_PENDING);
        if (state == SERVICE_RUNNING)
            return true;
        error = "the service is not running after " + std::to_string(STATE_WAIT_MS / 1000) +
                " s (state " + std::to_string(state) + ")";
        return false;
    }

    bool write_stop_record() override {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            return false;
        const DWORD pid = GetCurrentProcessId();
        const LONG r = RegSetValueExA(key, RECORD_VALUE, 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&pid), sizeof pid);
        RegFlushKey(key);  // a run killed right after the stop must still find it
        RegCloseKey(key);
        return r == ERROR_SUCCESS;
    }

    void clear_stop_record() override {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        RegDeleteValueA(key, RECORD_VALUE);
        RegCloseKey(key);
    }

    // A record whose process still runs belongs to a run in progress, not to a killed one.
    bool stop_recorded() override {
        DWORD pid = 0;
        DWORD size = sizeof pid;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, RECORD_KEY, RECORD_VALUE, RRF_RT_REG_DWORD, nullptr,
                         &pid, &size) != ERROR_SUCCESS)
            return false;
        return pid == GetCurrentProcessId() || !same_program_runs(pid);
    }
};

}  // namespace

Services& win32_services() {
    static Win32Services services;
    return services;
}

}  // namespace vx
