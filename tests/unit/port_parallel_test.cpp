#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/port_troubles.h"
#include "fake_platform.h"
#include "fake_ports.h"
#include "port/parallel_port.h"

namespace vx::test {
namespace {

struct ParallelFixture {
    TempDir dir;
    FakePlatform fake;
    FakeUsbPrinters usb{fake.clock};
    FakeParallelPorts ports{fake.errors};
    Platform platform{
        fake.clock, fake.errors,   fake.platform.files, fake.platform.profile, fake.serial,
        fake.ui,    fake.services, fake.printers,       fake.registry,         usb,
        ports};
    Reporter report{platform};
    PortTroubleReport port_troubles{report};
    ParallelPort lpt{PortSettings{"LPT1", PortKind::parallel, {}}, ports, fake.errors};

    ParallelFixture() {
        report.set_trace(true);
        report.set_mode(INTERACTIVE_MODE);
    }
    std::string trace() {
        std::string t = dir.read("FlashTrace.dbg");
        for (size_t at = t.find('\r'); at != std::string::npos; at = t.find('\r'))
            t.erase(at, 1);
        return t;
    }
};

bool same(const ParallelTimeouts& a, const ParallelTimeouts& b) {
    return a.read_interval == b.read_interval && a.read_multiplier == b.read_multiplier &&
           a.read_constant == b.read_constant && a.write_multiplier == b.write_multiplier &&
           a.write_constant == b.write_constant;
}

TEST(ParallelTest, OpenSetsTheDeviceTimeouts) {
    ParallelFixture s;
    ASSERT_TRUE(s.lpt.open().ok());
    EXPECT_TRUE(same(s.ports.timeouts, ParallelTimeouts{500, 0, 1000, 500, 5000}));
    EXPECT_EQ(s.ports.debug, (std::vector<std::string>{"Cls_parallel::open", "Open OK"}));
    EXPECT_TRUE(s.lpt.is_open());
    s.lpt.close();
    EXPECT_FALSE(s.lpt.is_open());
    EXPECT_EQ(s.ports.open_devices, 0);
    EXPECT_EQ(s.ports.debug.back(), "Cls_parallel::Close");
    s.lpt.close();  // closing a closed port changes nothing
    EXPECT_EQ(s.ports.open_devices, 0);
}

TEST(ParallelTest, OpenFailures) {
    {
        ParallelFixture s;
        s.ports.open_fails = true;
        s.ports.open_error = 5;
        EXPECT_FALSE(s.lpt.open().ok());
        EXPECT_FALSE(s.lpt.is_open());
        EXPECT_EQ(s.ports.debug,
                  (std::vector<std::string>{"Cls_parallel::open", "CreateFile Error 5"}));
        EXPECT_TRUE(s.fake.ui.boxes.empty());
    }
    for (bool get_fails : {true, false}) {
        ParallelFixture s;  // the time-out record: the port stays open until Close
        s.ports.get_fails = get_fails;
        s.ports.set_fails = !get_fails;
        EXPECT_FALSE(s.lpt.open().ok());
        EXPECT_TRUE(s.lpt.is_open());
        s.lpt.close();
        EXPECT_EQ(s.ports.open_devices, 0);
    }
}

TEST(ParallelTest, ReadTimeoutSetsTheReadTimeoutsOnlyWhenTheyChange) {
    ParallelFixture s;
    ASSERT_TRUE(s.lpt.open().ok());
    const int after_open = s.ports.timeout_writes;
    uint8_t buffer[8];
    s.lpt.read(buffer, sizeof buffer, 0);
    EXPECT_EQ(s.ports.timeout_writes, after_open);
    s.lpt.read(buffer, sizeof buffer, 2000);
    s.lpt.read(buffer, sizeof buffer, 2000);
    EXPECT_EQ(s.ports.timeout_writes, after_open + 1);
    EXPECT_TRUE(same(s.ports.timeouts, ParallelTimeouts{2000, 2000, 2000, 500, 5000}));
    s.lpt.read(buffer, sizeof buffer, 1000);
    EXPECT_EQ(s.ports.timeout_writes, after_open + 2);
    // Every request is waited for 1000 ms, whatever the time-out.
    EXPECT_EQ(s.ports.read_waits, (std::vector<uint32_t>{1000, 1000, 1000, 1000}));

    s.ports.get_fails = true;
    EXPECT_EQ(s.lpt.read(buffer, sizeof buffer, 500), 0);
    EXPECT_EQ(s.ports.read_waits.size(), 4u);  // no request made
}

struct ReadCase {
    const char* name;
    int flash_mode;
    ParallelOutcome outcome;
    int result;
    size_t boxes;
    const char* trace;  // expected trace line, or "" for none
};

TEST(ParallelTest, ReadOutcomes) {
    const std::vector<uint8_t> abc = {'a', 'b', 'c'};
    const ReadCase cases[] = {
        {"done", 0, {PARALLEL_DONE, abc}, 3, 0, ""},
        {"still pending", 0, {PARALLEL_IO_PENDING, {}}, 0, 0, ""},
        {"incomplete with bytes", 0, {PARALLEL_IO_INCOMPLETE, {'a'}}, 1, 0, ""},
        {"time-out", 0, {PARALLEL_TIMEOUT, {}}, 0, 0, ""},
        {"error, interactive", 0, {31, {}}, 0, 1, ""},
        {"error, silent",
         2,
         {31, {}},
         0,
         0,
         "[Cls_parallel][Read_timeout] ** ECP Read Error 31 **\n"},
        {"error, unattended",
         1,
         {1167, {}},
         0,
         0,
         "[Cls_parallel][Read_timeout] ** ECP Read Error 1167 **\n"},
    };
    for (const ReadCase& c : cases) {
        ParallelFixture s;
        s.report.set_mode(c.flash_mode);
        ASSERT_TRUE(s.lpt.open().ok());
        s.ports.reads.push_back(c.outcome);
        uint8_t buffer[8];
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(read_port(s.port_troubles, s.lpt, buffer, sizeof buffer, 0), c.result) << c.name;
        // The buffer is cleared before the request.
        std::vector<uint8_t> want(sizeof buffer, 0);
        std::copy(c.outcome.bytes.begin(), c.outcome.bytes.end(), want.begin());
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + sizeof buffer), want) << c.name;
        ASSERT_EQ(s.fake.ui.boxes.size(), c.boxes) << c.name;
        if (c.boxes) {
            EXPECT_EQ(s.fake.ui.boxes[0].caption, "Read_timeout");
            EXPECT_EQ(s.fake.ui.boxes[0].text, "** ECP Read Error 31 **");
            EXPECT_EQ(s.fake.ui.boxes[0].type, BOX_OK);
        }
        const std::string t = s.trace();
        if (*c.trace) {
            EXPECT_NE(t.find(c.trace), std::string::npos) << c.name << "\n" << t;
        } else {
            EXPECT_EQ(t.find("ECP"), std::string::npos) << c.name;
        }
        EXPECT_NE(
            std::find(s.ports.debug.begin(), s.ports.debug.end(), "read_timeout - INIZIO LETTURA"),
            s.ports.debug.end());
    }
}

TEST(ParallelTest, WriteOutcomes) {
    const uint8_t data[] = {1, 2, 3, 4};
    struct Case {
        const char* name;
        int flash_mode;
        uint32_t write_code;
        bool with_reply;
        int result;
        size_t boxes;
        const char* trace;
    };
    const Case cases[] = {
        {"written, no reply wanted", 0, PARALLEL_DONE, false, 4, 0, ""},
        {"written, reply read", 0, PARALLEL_DONE, true, 2, 0, ""},
        {"pending counts as written", 0, PARALLEL_IO_PENDING, true, 2, 0, ""},
        {"error, interactive", 0, 1117, true, 0, 1, ""},
        {"error, silent", 2, 1117, true, 0, 0,
         "[Cls_parallel][Write_Read_timeout] ** ECP Write Error 1117 **\n"},
    };
    for (const Case& c : cases) {
        ParallelFixture s;
        s.report.set_mode(c.flash_mode);
        ASSERT_TRUE(s.lpt.open().ok());
        s.ports.writes.push_back({c.write_code, {}});
        s.ports.reads.push_back({PARALLEL_DONE, {'o', 'k'}});
        uint8_t reply[8] = {};
        EXPECT_EQ(write_read_port(s.port_troubles, s.lpt, data, sizeof data,
                                  c.with_reply ? reply : nullptr, sizeof reply, 2000),
                  c.result)
            << c.name;
        ASSERT_EQ(s.fake.ui.boxes.size(), c.boxes) << c.name;
        if (c.boxes) {
            EXPECT_EQ(s.fake.ui.boxes[0].caption, "Write_Read_timeout");
            EXPECT_EQ(s.fake.ui.boxes[0].text, "** ECP Write Error 1117 **");
        }
        if (*c.trace) {
            EXPECT_NE(s.trace().find(c.trace), std::string::npos) << c.name;
        }
    }
}

TEST(ParallelTest, ClosedPortAnswersWithTheSystemCodes) {
    ParallelFixture s;
    const uint8_t data[] = {1, 2, 3, 4};
    uint8_t buffer[4];
    s.report.set_mode(SILENT_MODE);
    EXPECT_EQ(write_port(s.port_troubles, s.lpt, data, sizeof data), 0);
    EXPECT_EQ(read_port(s.port_troubles, s.lpt, buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(s.ports.debug, (std::vector<std::string>{"::Write - INVALID_HANDLE_VALUE",
                                                       "read_timeout - INIZIO LETTURA",
                                                       "::Read - INVALID_HANDLE_VALUE"}));
    const std::string t = s.trace();
    EXPECT_NE(t.find("** ECP Write Error 1013 **"), std::string::npos);
    EXPECT_NE(t.find("** ECP Read Error 1012 **"), std::string::npos);
    EXPECT_TRUE(s.fake.ui.boxes.empty());
}

TEST(ParallelTest, PortPresent) {
    struct Case {
        PortProbe probe;
        int present;
    };
    const Case cases[] = {{PortProbe::free, 1},
                          {PortProbe::not_ready, 1},
                          {PortProbe::busy, 0},
                          {PortProbe::denied, 0},
                          {PortProbe::absent, 0}};
    for (const Case& c : cases) {
        ParallelFixture s;
        s.ports.ports["LPT2"] = c.probe;
        EXPECT_EQ(parallel_port_present(s.ports, "LPT2"), c.present != 0)
            << static_cast<int>(c.probe);
        EXPECT_FALSE(parallel_port_present(s.ports, "LPT3"));
    }
}

}  // namespace
}  // namespace vx::test
