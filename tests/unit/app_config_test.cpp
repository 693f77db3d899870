#include <gtest/gtest.h>

#include "app_fixture.h"

namespace vx::test {
namespace {

struct ConfigCase {
    const char* name;
    const char* ini;
    uint16_t send_mode;
    int flash_mode;
    bool trace_on;
    const char* port_after_rc;  // port_name after read_config
};

const ConfigCase config_cases[] = {
    {"defaults", "[GENERAL]\r\nFILENAME=a.bin\r\n[PORT SETTING]\r\nPORT=COM2\r\n", SEND_FW, 0,
     false, "COM2"},
    {"no filename reads nothing",
     "[GENERAL]\r\nTRACE=1\r\nFLASHMODE=2\r\nSEND_CG=1\r\n[PORT SETTING]\r\nPORT=COM2\r\n", 0, 0,
     false, ""},
    {"empty filename", "[GENERAL]\r\nFILENAME=\r\nTRACE=1\r\n", 0, 0, false, ""},
    {"end page forces unattended",
     "[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=2\r\nKEEP_SETTINGS=1\r\n[INTERNAL]\r\nEND_PAGE=10\r\n"
     "[PORT SETTING]\r\nPORT=COM1\r\n",
     SEND_FREE, 1, false, "COM1"},
    {"end page over interactive", "[GENERAL]\r\nFILENAME=a\r\n[INTERNAL]\r\nEND_PAGE=1\r\n",
     SEND_FREE, 1, false, "USB01"},
    {"boot wins", "[GENERAL]\r\nFILENAME=a\r\nSEND_BOOT=1\r\nSEND_FW=1\r\nSEND_CG=1\r\n", SEND_BOOT,
     0, false, "USB01"},
    {"nothing selected", "[GENERAL]\r\nFILENAME=a\r\nSEND_FW=0\r\n", 0, 0, false, "USB01"},
    {"all bits",
     "[GENERAL]\r\nFILENAME=a\r\nSEND_CG=1\r\nSEND_FPGA=7\r\nKEEP_SETTINGS=1\r\nFLASHMODE=3\r\n",
     SEND_FW | SEND_CG | SEND_FPGA | KEEP_SETTINGS, 3, false, "USB01"},
    {"trace 256 is off", "[GENERAL]\r\nFILENAME=a\r\nTRACE=256\r\n", SEND_FW, 0, false, "USB01"},
    {"trace 257 is on", "[GENERAL]\r\nFILENAME=a\r\nTRACE=257\r\n", SEND_FW, 0, true, "USB01"},
    {"names ignore case", "[general]\r\nfilename=a\r\nTrace=1\r\nflashmode=2\r\n", SEND_FW, 2, true,
     "USB01"},
};

class ReadConfig : public testing::TestWithParam<ConfigCase> {};

TEST_P(ReadConfig, Fields) {
    const ConfigCase& c = GetParam();
    AppFixture app;
    app.ini(c.ini);
    app.flash.read_config();
    EXPECT_EQ(app.flash.config.send_mode, c.send_mode);
    EXPECT_EQ(app.flash.report.mode(), c.flash_mode);
    EXPECT_EQ(app.flash.report.tracing(), c.trace_on);
    EXPECT_STREQ(app.flash.config.port_name, c.port_after_rc);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadConfig, testing::ValuesIn(config_cases), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n) {
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    }
    return n;
});

TEST(Config, NumbersAndDefaults) {
    AppFixture app;
    app.ini(
        "[GENERAL]\r\nFILENAME=fw.bin\r\nIBM_EMULATION=1\r\nCONDITIONAL_TABLE=1\r\n"
        "[INTERNAL]\r\nBEGIN_PAGE=3\r\nOFFSET_PAGE=2\r\n"
        "[PORT SETTING]\r\nPORT=COM3\r\nPARITY=258\r\nSIZE=264\r\nSTOP=2\r\nVIRTUAL_COM=1\r\n");
    app.flash.read_config();
    EXPECT_STREQ(app.flash.config.fw_filename, "fw.bin");
    EXPECT_EQ(app.flash.session.begin_page, 3u);
    EXPECT_EQ(app.flash.session.end_page, 0u);
    EXPECT_EQ(app.flash.session.offset_page, 2u);
    EXPECT_EQ(app.flash.config.ibm_emulation, 1);
    EXPECT_TRUE(app.flash.config.conditional_table);
    EXPECT_TRUE(app.flash.config.virtual_com);
    EXPECT_EQ(app.flash.config.config_baud, 9800u);  // not 9600
    EXPECT_EQ(app.flash.config.send_baud, 115200u);
    EXPECT_EQ(app.flash.config.line.parity, 2);  // low 8 bits of 258
    EXPECT_EQ(app.flash.read_port_settings(), 1);
    EXPECT_EQ(app.flash.config.line.baud, 9600u);
    EXPECT_EQ(app.flash.config.line.data_bits, 8);  // 264 keeps its low 8 bits
    EXPECT_EQ(app.flash.config.saved_parity, 258);
    EXPECT_EQ(app.flash.config.line.stop_bits, 2);
}

struct PortCase {
    const char* port;
    uint16_t type;
};

TEST(Config, PortTypeFromTheFirstThreeCharacters) {
    const PortCase cases[] = {{"COM1", COM_PORT},         {"USB01", USB_PORT}, {"LPT1", LPT_PORT},
                              {"com1", COM_PORT},         {"usb01", COM_PORT}, {"lpt1", COM_PORT},
                              {"/dev/ttyUSB0", COM_PORT}, {"CO", COM_PORT}};
    for (const PortCase& c : cases) {
        AppFixture app;
        app.ini(std::string("[PORT SETTING]\r\nPORT=") + c.port + "\r\n");
        app.flash.config.port_type = 0;
        app.flash.read_port_settings();
        EXPECT_EQ(app.flash.config.port_type, c.type) << c.port;
        EXPECT_STREQ(app.flash.config.port_name, c.port);
    }
}

TEST(Config, MissingPortIsWrittenBack) {
    {
        AppFixture app;  // with FILENAME: read_config writes USB01 first
        app.ini("[GENERAL]\r\nFILENAME=a\r\n");
        app.flash.read_config();
        app.flash.read_port_settings();
        EXPECT_EQ(app.dir.read("flash.ini"),
                  "[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=USB01\r\n");
        EXPECT_EQ(app.flash.config.port_type, USB_PORT);
    }
    {
        AppFixture app;  // without: read_port_settings writes COM1
        app.ini("; settings\r\n[PORT SETTING]\r\nPORT=\r\nBAUD=4800\r\n");
        app.flash.read_config();
        app.flash.read_port_settings();
        EXPECT_EQ(app.dir.read("flash.ini"),
                  "; settings\r\n[PORT SETTING]\r\nPORT=COM1\r\nBAUD=4800\r\n");
        EXPECT_EQ(app.flash.config.line.baud, 4800u);
        EXPECT_EQ(app.flash.config.port_type, COM_PORT);
    }
}

TEST(Config, SetPortSettingsAppliesSerialValuesOnlyOnCom) {
    AppFixture app;
    app.ini("[PORT SETTING]\r\nPORT=USB01\r\nBAUD=4800\r\nSIZE=7\r\nPARITY=1\r\nSTOP=0\r\n");
    app.flash.read_port_settings();
    app.flash.set_port_settings("COM3", 19200, 8, 2, 2, 9);
    EXPECT_STREQ(app.flash.config.port_name, "COM3");
    EXPECT_EQ(app.flash.config.port_type, USB_PORT);  // unchanged
    EXPECT_EQ(app.flash.config.line.baud, 4800u);
    app.flash.write_port_settings();
    EXPECT_EQ(app.dir.read("flash.ini"),
              "[PORT SETTING]\r\nPORT=COM3\r\nBAUD=4800\r\nSIZE=7\r\nPARITY=1\r\nSTOP=0\r\n");

    app.flash.config.port_type = COM_PORT;
    app.flash.config.line.parity = 0;
    app.flash.set_port_settings("COM4", 19200, 8, 2, 2, 9);
    EXPECT_EQ(app.flash.config.line.parity, 0);  // the line keeps its parity until the next start
    app.flash.write_port_settings();
    EXPECT_EQ(app.dir.read("flash.ini"),
              "[PORT SETTING]\r\nPORT=COM4\r\nBAUD=19200\r\nSIZE=8\r\nPARITY=2\r\nSTOP=2\r\n");

    std::string long_name(300, 'C');
    app.flash.set_port_settings(long_name.c_str(), 1, 1, 1, 1, 1);
    EXPECT_EQ(std::string(app.flash.config.port_name), long_name.substr(0, 259));
}

TEST(Config, FailedPortWriteIsReported) {
    AppFixture app;
    std::string missing = app.dir.file("no-such-dir/flash.ini");
    missing.copy(app.flash.config.ini_path, missing.size());
    app.flash.config.ini_path[missing.size()] = '\0';
    app.fake.errors.code = 3;
    app.flash.write_port_name("COM2");
    ASSERT_EQ(app.fake.ui.boxes.size(), 1u);
    EXPECT_EQ(app.fake.ui.boxes[0].caption, "Error : " + missing);

    app.flash.report.set_mode(2);
    app.flash.report.set_trace(true);
    app.flash.write_port_settings();  // one report for PORT, the numeric writes are ignored
    app.flash.report.set_trace(false);
    EXPECT_EQ(app.fake.ui.boxes.size(), 1u);
    std::string trace = read_lines(app.dir, "FlashTrace.dbg");
    EXPECT_NE(trace.find("[FLASH][flash_last_error_msg] Function " + missing + " Error "),
              std::string::npos);
    EXPECT_EQ(trace.find("[12:34:56]", 1), std::string::npos);  // one line only
}

}  // namespace
}  // namespace vx::test
