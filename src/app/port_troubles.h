// What the user hears of a port call that failed under the protocol: the system's text of a
// refused line or an unreadable modem status (a box in interactive mode, the trace
// otherwise), a parallel port's own error box (traced outside interactive mode, where nobody
// would close it), a trace line for output that did not drain.
#pragma once

#include "protocol/port_exchange.h"
#include "report/reporter.h"

namespace vx {

class PortTroubleReport final : public PortTroubles {
public:
    explicit PortTroubleReport(Reporter& report) : report_(report) {}

    void line_refused(const PortBackend& port, const PortResult& result) override;
    void wire_unreadable(const PortResult& result) override;
    void drain_timed_out(uint32_t waited_ms) override;
    void request_failed(const PortResult& result) override;

private:
    Reporter& report_;
};

}  // namespace vx
