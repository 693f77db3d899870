// Opening the configured port over the fakes, with a small catalogue whose texts name their
// ids: the port tests' fixture, and below it the whole run the procedure tests need.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app/port_reports.h"
#include "app/port_troubles.h"
#include "fake_platform.h"
#include "session_fixture.h"

namespace vx::test {

inline const char* kPortCatalogue =
    "2,M2\n4,M4\n19,M19\n38,M38\n41,Printer %s uses %s (%s)\n42,M42\n43,M43\n44,M44\n45,M45\n"
    "46,M46\n";

// Fakes, a catalogue on disk and a traced reporter, silent mode, COM1 at 9600 8N1.
template <typename Parts>
struct PortFixtureOf {
    TempDir dir;  // first: it outlives the reporter, whose trace file it holds
    FakePlatform fake;
    MessageCatalogue catalogue{fake.platform};
    Parts parts{fake.platform, catalogue};
    Reporter& report;
    RunConfig& config;

    PortFixtureOf() : report(parts.report), config(parts.config) {
        dir.write("flash.mes", kPortCatalogue);
        catalogue.load_catalogue(dir.file("flash.mes").c_str());
        report.set_trace(true);
        report.set_mode(SILENT_MODE);
        set_port("COM1", COM_PORT);
        config.line.baud = config.config_baud = config.send_baud = 9600;
        config.line.data_bits = 8;
    }

    void set_port(const char* name, uint16_t type) {
        std::snprintf(config.port_name, sizeof config.port_name, "%s", name);
        config.port_type = type;
    }

    // The port flash.ini names, made at first use as a procedure run makes it.
    std::unique_ptr<PortBackend> backend;
    PortBackend& port() {
        if (backend == nullptr)
            backend = make_configured_port(fake.platform, config);
        return *backend;
    }
    bool port_open() const { return backend != nullptr && backend->is_open(); }
    PortOpening opening() { return PortOpening{report, fake.platform, catalogue}; }

    // Opens COM1 and returns its far end.
    FakeSerialDevice& open() {
        EXPECT_EQ(open_port(opening(), port(), true), 1);
        return *fake.serial.last;
    }

    // The trace so far, without the "[hh:mm:ss]" stamps.
    std::string trace() { return unstamped(dir.read("FlashTrace.dbg")); }
    std::string ko() { return unstamped(dir.read("KO.txt")); }
};

// What opening a port and the port calls report through, and nothing else.
struct PortParts {
    PortParts(Platform& platform, MessageCatalogue&) : report(platform) {}
    Reporter report;
    RunConfig config;
    PortTroubleReport port_troubles{report};
};

using PortFixture = PortFixtureOf<PortParts>;

// The whole run, for the procedure and the texts it shows.
struct RunFixture : PortFixtureOf<FlashRun> {
    FlashRun& flash = parts;
};

}  // namespace vx::test
