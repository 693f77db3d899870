// `vxflash --list-ports`: what PORT may name on this machine. Serial devices are tried
// without changing their settings; a /dev/ttyS node without a UART behind it opens but
// fails every terminal call, and is left out.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/setup_page.h"
#include "entry/posix/posix_entry.h"
#include "port/usb_port.h"

namespace vx {
namespace {

struct SerialNode {
    std::string prefix;
    unsigned number;
    std::string path() const { return "/dev/" + prefix + std::to_string(number); }
};

// ttyS0, ttyS1, ..., ttyUSB0, ..., ttyACM0, ... in number order.
std::vector<SerialNode> serial_nodes() {
    static const char* const PREFIXES[] = {"ttyS", "ttyUSB", "ttyACM"};
    std::vector<SerialNode> nodes;
    DIR* dir = opendir("/dev");
    if (dir == nullptr)
        return nodes;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        for (const char* prefix : PREFIXES) {
            const std::string p = prefix;
            if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
                std::all_of(name.begin() + static_cast<long>(p.size()), name.end(),
                            [](char c) { return c >= '0' && c <= '9'; })) {
                nodes.push_back(
                    {p, static_cast<unsigned>(std::strtoul(name.c_str() + p.size(), nullptr, 10))});
            }
        }
    }
    closedir(dir);
    auto rank = [](const SerialNode& n) {
        return n.prefix == "ttyS" ? 0 : n.prefix == "ttyUSB" ? 1 : 2;
    };
    std::sort(nodes.begin(), nodes.end(), [&](const SerialNode& a, const SerialNode& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a.number < b.number;
    });
    return nodes;
}

enum class SerialState { missing, free, busy, denied };

SerialState probe_serial(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY)
            return SerialState::busy;
        if (errno == EACCES || errno == EPERM)
            return SerialState::denied;
        return SerialState::missing;
    }
    SerialState state = SerialState::free;
    termios tio{};
    int exclusive = 0;
    if (tcgetattr(fd, &tio) != 0) {
        state = SerialState::missing;  // no hardware behind the node
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        state = SerialState::busy;
    } else if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        state = SerialState::busy;  // another program opened it exclusively
    }
    ::close(fd);
    return state;
}

void line(const std::string& port, const char* kind, const std::string& device, const char* state) {
    std::printf("%-14s %-9s %-28s %s\n", port.c_str(), kind, device.c_str(), state);
}

}  // namespace

int list_ports(Platform& platform) {
    int listed = 0;
    for (const SerialNode& node : serial_nodes()) {
        const std::string path = node.path();
        const SerialState state = probe_serial(path);
        if (state == SerialState::missing)
            continue;
        // COMn opens /dev/ttyS(n-1); other devices are named by their path.
        const std::string port = node.prefix == "ttyS" && node.number < 256
                                     ? "COM" + std::to_string(node.number + 1)
                                     : path;
        line(port, "serial", path,
             state == SerialState::free   ? "free"
             : state == SerialState::busy ? "busy"
                                          : "no access");
        ++listed;
    }

    std::vector<UsbPrinterInfo> printers;
    usb_find_devices(platform.usb, printers);
    for (const UsbPrinterInfo& printer : printers) {
        const std::string port =
            printer.has_port_number ? usb_port_name(printer) : "(no port number)";
        // Probed without a claim: a claim would take the printer from usblp mid-job.
        const UsbProbe state = platform.usb.probe(printer);
        line(port, "usb", printer.hardware_id.empty() ? printer.path : printer.hardware_id,
             state == UsbProbe::free            ? "free"
             : state == UsbProbe::kernel_driver ? "free (held by the kernel printer driver)"
                                                : "no access");
        ++listed;
    }

    for (int n = 1; n <= 4; ++n) {
        const std::string port = "LPT" + std::to_string(n);
        const std::string device = "/dev/parport" + std::to_string(n - 1);
        const char* state = nullptr;
        switch (platform.parallel.probe(port.c_str())) {
            case PortProbe::free:
            case PortProbe::not_ready:
                state = "free (refused for downloads)";
                break;
            case PortProbe::busy:
                state = "busy";
                break;
            case PortProbe::denied:
                state = "no access";
                break;
            case PortProbe::absent:
                break;
        }
        if (state != nullptr) {
            line(port, "parallel", device, state);
            ++listed;
        }
    }
    if (listed == 0)
        std::fprintf(stderr, "No serial, USB or parallel port found.\n");
    return 0;
}

}  // namespace vx
