// The protocol's parts with COM1 leading to the in-process printer simulator, on the fake
// clock: the protocol talks to a printer that was written from the wire description, not
// from our sending code.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "printer.h"
#include "session_fixture.h"
#include "sim_serial.h"

namespace vx::test {

struct SimPlatform {
    FakePlatform fake;
    vxsim::Printer printer;
    SimSerialPorts serial{fake.clock, printer};
    Platform platform{
        fake.clock,    fake.errors,       fake.platform.files,   fake.platform.profile,
        serial,        fake.ui,           fake.services,         fake.printers,
        fake.registry, fake.platform.usb, fake.platform.parallel};
    explicit SimPlatform(vxsim::Config cfg) : printer(std::move(cfg), 0) {}
};

struct SimFixture : SimPlatform, ProtocolParts {
    explicit SimFixture(vxsim::Config cfg)
        : SimPlatform(std::move(cfg)), ProtocolParts(platform, true) {
        std::snprintf(config.ini_path, sizeof config.ini_path, "%s",
                      dir->file("flash.ini").c_str());
    }

    void open() { ASSERT_TRUE(open_port()); }
    void ini(const std::string& text) { dir->write("flash.ini", text); }

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
