// A flash context around the fakes for the port, detection and procedure tests, with a small
// catalogue whose texts name their ids.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "app/port_reports.h"
#include "fake_platform.h"

namespace vx::test {

struct PortFixture {
    TempDir dir;  // first: it outlives the context, whose trace file it holds
    FakePlatform fake;
    MessageCatalogue catalogue{fake.platform};
    FlashRun flash{fake.platform, catalogue};
    ProtocolRun protocol = flash.protocol();

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

    // Result files are text files: CR LF on Windows.
    static std::string unstamped(std::string text) {
        for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
            text.erase(at, 1);
        }
        const std::string stamp = "[12:34:56]";
        for (size_t at = text.find(stamp); at != std::string::npos; at = text.find(stamp, at)) {
            text.erase(at, stamp.size());
        }
        return text;
    }
};

// True when every piece occurs in `text`, each after the previous one.
inline ::testing::AssertionResult in_order(const std::string& text,
                                           std::initializer_list<std::string> pieces) {
    size_t at = 0;
    for (const std::string& piece : pieces) {
        const size_t found = text.find(piece, at);
        if (found == std::string::npos) {
            return ::testing::AssertionFailure()
                   << "missing (in order): \"" << piece << "\"\n--- in ---\n"
                   << text;
        }
        at = found + piece.size();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vx::test
