#pragma once
#include <string>

namespace vx {

// Whether the spooler service could be reached.
enum class ServiceAccess {
    not_applicable,  // no spooler service on this platform: nothing to do, nothing to trace
    manager_failed,  // the service control manager could not be opened
    service_failed,  // "spooler" could not be opened
    opened,
};

enum class ServiceState { unknown, stopped, running, pending };

class Services {
public:
    virtual ~Services() = default;
    // Reaches the spooler and reads its state.
    virtual ServiceAccess spooler_state(ServiceState& state) = 0;
    // Sends the stop control; false with the system's text.
    virtual bool stop_spooler(std::string& error) = 0;
    // Starts a stopped spooler (waiting, within a limit, for a stop still pending) and waits,
    // within a limit, until it runs. True when it runs; false with the system's text.
    virtual bool start_spooler(std::string& error) = 0;

    // The per-machine record of a spooler this program stopped: written before the stop,
    // cleared once it runs again, so that a run that was killed before it could restart the
    // spooler is made good by the next start of the program.
    virtual bool write_stop_record() = 0;
    virtual void clear_stop_record() = 0;
    // True when a record is there that no running copy of the program owns.
    virtual bool stop_recorded() = 0;
};

}  // namespace vx
