// A fake port plus a session: what a protocol step works on, with no application around it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/port_troubles.h"
#include "fake_platform.h"
#include "protocol/printer_protocol.h"

namespace vx::test {

// A result or trace file without its "[hh:mm:ss]" stamps; CR LF (Windows) made "\n".
inline std::string unstamped(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    const std::string stamp = "[12:34:56]";
    for (size_t at = text.find(stamp); at != std::string::npos; at = text.find(stamp, at)) {
        text.erase(at, stamp.size());
    }
    return text;
}

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

// A run's settings, session and reporter over `platform`. With files, the run lives in a
// fresh temporary directory, where the reporter writes its trace and KO.txt; without, nothing
// is traced and the code under test must write no result file.
struct SessionParts {
    std::optional<TempDir> dir;  // first: it outlives the reporter's trace file
    Reporter report;
    RunConfig config;
    DownloadSession session;

    SessionParts(Platform& platform, bool files) : report(platform) {
        if (files) {
            dir.emplace();
            report.set_trace(true);
        }
    }
    std::string trace() const { return unstamped(dir->read("FlashTrace.dbg")); }
    std::string ko() const { return unstamped(dir->read("KO.txt")); }
};

// What a protocol step works on, and the port it talks through.
struct ProtocolParts : SessionParts {
    std::vector<uint8_t> sent_bank = std::vector<uint8_t>(TX_BUFFER_SIZE);
    std::atomic<bool> stop{false};
    PortTroubleReport troubles{report};
    ProtocolRun run;
    PortSettings port_settings{"COM1", PortKind::serial, {}};

    ProtocolParts(Platform& platform, bool files)
        : SessionParts(platform, files), run{platform, report,    troubles, config,
                                             session,  sent_bank, stop} {
        report.set_mode(SILENT_MODE);
    }
    // The port `port_settings` names, made at first use.
    PortBackend& port() {
        if (backend == nullptr)
            backend = make_port_backend(run.platform, port_settings);
        return *backend;
    }
    // Opens the port on the boot line, as the procedure does before the detection.
    bool open_port() { return port().open().ok() && port().start(true).ok(); }

private:
    std::unique_ptr<PortBackend> backend;
};

struct FakePlatformHolder {
    FakePlatform fake;
};

// The parts over the fakes: COM1 leads to a scripted FakeSerialDevice.
struct PortSession : FakePlatformHolder, ProtocolParts {
    explicit PortSession(bool files = true) : ProtocolParts(fake.platform, files) {}

    // Opens COM1 and returns its far end.
    FakeSerialDevice& open() {
        EXPECT_TRUE(open_port());
        return *fake.serial.last;
    }
};

}  // namespace vx::test
