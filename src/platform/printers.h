#pragma once
#include <string>
#include <vector>

namespace vx {

struct PrinterQueue {
    std::string name;
    std::string port;  // as the spooler reports it, e.g. "COM1:"
};

class PrinterQueues {
public:
    virtual ~PrinterQueues() = default;
    // Installed printer queues (local and connected). False when the list is unavailable.
    // Where no spooler exists the list is empty.
    virtual bool list(std::vector<PrinterQueue>& out) = 0;
};

}  // namespace vx
