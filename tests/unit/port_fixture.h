// A flash context around the fakes for the port opening and procedure tests, with a small
// catalogue whose texts name their ids.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app/port_reports.h"
#include "fake_platform.h"
#include "session_fixture.h"

namespace vx::test {

struct PortFixture {
    TempDir dir;  // first: it outlives the context, whose trace file it holds
    FakePlatform fake;
    MessageCatalogue catalogue{fake.platform};
    FlashRun flash{fake.platform, catalogue};

    PortFixture() {
        dir.write("flash.mes",
                  "2,M2\n4,M4\n19,M19\n38,M38\n41,Printer %s uses %s (%s)\n42,M42\n43,M43\n"
                  "44,M44\n45,M45\n46,M46\n");
        catalogue.load_catalogue(dir.file("flash.mes").c_str());
        flash.report.set_trace(true);
        flash.report.set_mode(SILENT_MODE);
        set_port("COM1", COM_PORT);
        flash.config.line.baud = flash.config.config_baud = flash.config.send_baud = 9600;
        flash.config.line.data_bits = 8;
    }

    void set_port(const char* name, uint16_t type) {
        std::snprintf(flash.config.port_name, sizeof flash.config.port_name, "%s", name);
        flash.config.port_type = type;
    }

    // The port flash.ini names, made at first use as a procedure run makes it.
    std::unique_ptr<PortBackend> backend;
    PortBackend& port() {
        if (backend == nullptr)
            backend = make_configured_port(flash);
        return *backend;
    }
    bool port_open() const { return backend != nullptr && backend->is_open(); }

    // Opens COM1 and returns its far end.
    FakeSerialDevice& open() {
        EXPECT_EQ(open_port(flash, port(), true), 1);
        return *fake.serial.last;
    }

    // The trace so far, without the "[hh:mm:ss]" stamps.
    std::string trace() { return unstamped(dir.read("FlashTrace.dbg")); }
    std::string ko() { return unstamped(dir.read("KO.txt")); }
};

}  // namespace vx::test
