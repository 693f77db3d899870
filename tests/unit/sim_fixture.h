// A flash context whose serial port leads to the in-process printer simulator, on the fake
// clock: the protocol talks to a printer that was written from the wire description, not
// from our sending code.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "fake_platform.h"
#include "port_fixture.h"
#include "printer.h"
#include "sim_serial.h"

namespace vx::test {

struct SimFixture {
    TempDir dir;
    FakePlatform fake;
    vxsim::Printer printer;
    SimSerialPorts serial{fake.clock, printer};
    Platform platform{
        fake.clock,    fake.errors,       fake.platform.files,   fake.platform.profile,
        serial,        fake.ui,           fake.services,         fake.printers,
        fake.registry, fake.platform.usb, fake.platform.parallel};
    MessageCatalogue catalogue{platform};
    FlashRun flash{platform, catalogue};
    ProtocolRun protocol = flash.protocol();

    explicit SimFixture(vxsim::Config cfg) : printer(std::move(cfg), 0) {
        dir.write("flash.mes", "2,M2\n4,M4\n19,M19\n38,M38\n");
        catalogue.load_catalogue(dir.file("flash.mes").c_str());
        flash.report.set_trace(true);
        flash.report.set_mode(SILENT_MODE);
        std::snprintf(flash.config.port_name, sizeof flash.config.port_name, "COM1");
        flash.config.port_type = COM_PORT;
        flash.config.line.baud = flash.config.config_baud = flash.config.send_baud = 9600;
        flash.config.line.data_bits = 8;
        std::snprintf(flash.config.ini_path, sizeof flash.config.ini_path, "%s",
                      dir.file("flash.ini").c_str());
    }

    std::unique_ptr<PortBackend> backend;
    PortBackend& port() {
        if (backend == nullptr)
            backend = make_configured_port(flash);
        return *backend;
    }
    void open() { ASSERT_EQ(open_port(flash, port(), true), 1); }
    void ini(const std::string& text) { dir.write("flash.ini", text); }

    std::string trace() { return PortFixture::unstamped(dir.read("FlashTrace.dbg")); }
    std::string ko() { return PortFixture::unstamped(dir.read("KO.txt")); }

    // The simulator's events, one text each.
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const vxsim::TranscriptEntry& e : printer.transcript()) {
            if (e.dir == vxsim::TranscriptEntry::event)
                out.push_back(e.text);
        }
        return out;
    }
    // Every byte the printer received, in order.
    std::vector<uint8_t> received() const {
        std::vector<uint8_t> out;
        for (const vxsim::TranscriptEntry& e : printer.transcript()) {
            if (e.dir == vxsim::TranscriptEntry::rx)
                out.insert(out.end(), e.bytes.begin(), e.bytes.end());
        }
        return out;
    }
};

}  // namespace vx::test
