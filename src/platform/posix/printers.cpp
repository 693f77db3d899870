#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

// No printer queues own serial ports here: every port counts as free.
class PosixPrinters final : public PrinterQueues {
public:
    bool list(std::vector<PrinterQueue>& out) override {
        out.clear();
        return true;
    }
};

}  // namespace

PrinterQueues& posix_printers() {
    static PosixPrinters printers;
    return printers;
}

}  // namespace vx
