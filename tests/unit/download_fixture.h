// The protocol's parts on fakes, with a catalogue whose texts show their id for the page's
// texts of a transfer, a trace switched on, and the serial device's writes recorded call by
// call.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/port_reports.h"
#include "fake_platform.h"
#include "flash/transfer_texts.h"
#include "recording_view.h"
#include "session_fixture.h"

namespace vx::test {

inline const char* kTestCatalogue =
    "2,Warning\n3,Unknown speed\n5,Too few pages\n7,retry bank %d\n8,waiting bank %d\n"
    "10,fatal error\n13,programming bank %d\n14,Bank %d\n15,sending\n16,prog bank %d\n"
    "17,waiting reply\n18,ok bank %d\n19,ready\n20,file %s\n21,speed %d\n22,first %d\n"
    "23,last %d\n24,line %d\n25,done\n27,finished\n36,sent\n";

class ProtocolTest : public ::testing::Test {
protected:
    FakePlatform fp;
    ProtocolParts parts{fp.platform, true};
    TempDir& dir = *parts.dir;
    Reporter& report = parts.report;
    RunConfig& config = parts.config;
    std::atomic<bool>& stop_requested = parts.stop;
    MessageCatalogue catalogue{fp.platform};
    RecordingMainView view;
    std::vector<std::vector<uint8_t>> write_calls;
    // Extra far-end behaviour per write, after the call is recorded.
    std::function<void(FakeSerialDevice&, const uint8_t*, uint32_t)> printer;

    ProtocolTest() {
        dir.write("flash.mes", kTestCatalogue);
        catalogue.load_catalogue("flash.mes");
        report.set_mode(INTERACTIVE_MODE);
        std::strcpy(config.port_name, "COM1");
        config.port_type = COM_PORT;
        fp.serial.configure = [this](FakeSerialDevice& d) {
            d.on_write = [this](FakeSerialDevice& dev, const uint8_t* p, uint32_t n) {
                write_calls.emplace_back(p, p + n);
                if (printer)
                    printer(dev, p, n);
            };
        };
    }

    // The port flash.ini names, made at first use as a procedure run makes it.
    std::unique_ptr<PortBackend> backend;
    PortBackend& port() {
        if (backend == nullptr)
            backend = make_configured_port(fp.platform, config);
        return *backend;
    }
    bool port_open() const { return backend != nullptr && backend->is_open(); }

    FakeSerialDevice& open_serial() {
        EXPECT_EQ(open_port(opening(), port(), true), 1);
        return *fp.serial.last;
    }

    // Trace lines without their time stamps, CR LF folded to LF.
    std::vector<std::string> trace() const {
        std::vector<std::string> lines(1);
        for (char c : dir.read("FlashTrace.dbg")) {
            if (c != '\r')
                lines.back() += c;
            if (c == '\n')
                lines.emplace_back();
        }
        if (lines.back().empty())
            lines.pop_back();
        for (std::string& line : lines) {
            if (line.rfind("[12:34:56]", 0) == 0)
                line.erase(0, 10);
        }
        return lines;
    }

    size_t trace_count(const std::string& line) const {
        const auto lines = trace();
        return size_t(std::count(lines.begin(), lines.end(), line));
    }
    bool trace_has(const std::string& line) const { return trace_count(line) != 0; }

    ProtocolRun& protocol() { return parts.run; }
    PortOpening opening() { return PortOpening{report, fp.platform, catalogue}; }

    // The procedure's texts of a transfer, shown on `v`.
    TransferReport& report_on(MainPageView& v) {
        report_ = std::make_unique<PageTransferReport>(catalogue, report, fp.clock, v);
        return *report_;
    }

private:
    std::unique_ptr<PageTransferReport> report_;
};

}  // namespace vx::test
