#pragma once

namespace vx {

enum class SpoolerStop {
    not_applicable,  // no spooler service on this platform: nothing to do, nothing to trace
    manager_failed,  // the service control manager could not be opened
    service_failed,  // "spooler" could not be opened
    stop_refused,    // running, but the stop control failed
    stopped,         // not running, or it accepted the stop
};

class Services {
public:
    virtual ~Services() = default;
    virtual SpoolerStop stop_spooler() = 0;
    // Starts the spooler again; does nothing where there is none.
    virtual void start_spooler() = 0;
    // True where a print spooler service exists for stop_spooler to stop.
    virtual bool has_spooler() const { return false; }
};

}  // namespace vx
