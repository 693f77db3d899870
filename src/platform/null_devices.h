// Device access for builds without it: nothing is found, nothing opens. A platform file
// returns these until it has a real implementation.
#pragma once
#include "platform/parallel.h"
#include "platform/usb.h"

namespace vx {

class NullUsbPrinters final : public UsbPrinters {
public:
    bool available() const override { return false; }
    std::vector<UsbPrinterInfo> list(size_t) override { return {}; }
    std::unique_ptr<UsbDevice> open(const UsbPrinterInfo&) override { return nullptr; }
};

class NullParallelPorts final : public ParallelPorts {
public:
    bool available() const override { return false; }
    std::unique_ptr<ParallelDevice> open(const char*) override { return nullptr; }
    bool present(const char*) override { return false; }
};

}  // namespace vx
