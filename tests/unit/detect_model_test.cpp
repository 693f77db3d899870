// Download-mode entry and model detection against a scripted printer.
#include <gtest/gtest.h>

#include <vector>

#include "flash/transfer_texts.h"
#include "port_fixture.h"
#include "recording_view.h"

namespace vx::test {
namespace {

const std::vector<uint8_t> DOWNLOAD_CMD = {0x1B, 0x7D, 0x7B};

// A printer that answers the download command with `sync`.
void answers(FakeSerialDevice& d, uint8_t sync) {
    d.on_write = [sync](FakeSerialDevice& dev, const uint8_t* data, uint32_t n) {
        if (n == 3 && data[0] == 0x1B && data[1] == 0x7D && data[2] == 0x7B) {
            dev.incoming.push_back(sync);
        }
    };
}

// A printer already in download mode, sending its sync character by itself.
void announces(FakeSerialDevice& d, uint8_t sync) {
    d.on_purge = [sync](FakeSerialDevice& dev) { dev.incoming.push_back(sync); };
}

struct ModelCase {
    uint8_t sync;
    int model;
    const char* forced_line;
    const char* normal_line;
};

const ModelCase MODELS[] = {
    {0x05, 1, "[FLASH][DetectPrinterModel] $$$$ VX3E_MODE detected $$$$\n\n",
     "[FLASH][DetectPrinterModel] $$$$ VX3E_MODE detected $$$$\n\n"},
    {0x16, 2, "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_MODEL detected $$$$\n\n",
     "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_MODEL detected $$$$\n\n"},
    {0x17, 3, "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_CR_MODEL detected $$$$\n\n",
     "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_CR_MODEL detected $$$$\n\n"},
    {0x18, 4, "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_SC_MODEL detected $$$$\n\n",
     "[FLASH][DetectPrinterModel] $$$$ VX3PLUS_SC_MODEL detected $$$$\n\n"},
    {0x1A, 5, "[FLASH][DetectPrinterModel] $$$$ KD5_ADF_L1_MODEL detected $$$$\n\n",
     "[FLASH][DetectPrinterModel] $$$$ KD5_ADF_MODEL_L1 detected $$$$\n\n"},
    {0x20, 6, "[FLASH][DetectPrinterModel] $$$$ KD5_ADF_L2_MODEL detected $$$$\n\n",
     "[FLASH][DetectPrinterModel] $$$$ KD5_ADF_MODEL detected $$$$\n\n"},
};

class Detect : public ::testing::TestWithParam<ModelCase> {};

// The printer answers the download command, or announces itself before any command (forced
// sync): either way the configured line follows RTS.
TEST_P(Detect, AnsweredOrAnnounced) {
    const ModelCase& c = GetParam();
    for (bool forced : {false, true}) {
        SCOPED_TRACE(forced ? "announced" : "answered");
        PortSession f;
        f.config.line.baud = 19200;
        FakeSerialDevice& dev = f.open();
        forced ? announces(dev, c.sync) : answers(dev, c.sync);
        EXPECT_TRUE(detect_printer_model(f.run, f.port()).ok());
        EXPECT_EQ(f.session.printer_model, c.model);
        EXPECT_TRUE(f.session.in_download_mode);
        EXPECT_EQ(f.session.printer_announced, forced);
        EXPECT_EQ(dev.written, forced ? std::vector<uint8_t>{} : DOWNLOAD_CMD);
        EXPECT_EQ(dev.rts_raised, 1);
        EXPECT_EQ(dev.state.baud, 19200u);
        EXPECT_EQ(f.ko(), "");
        char sync_line[160];
        if (forced) {
            std::snprintf(
                sync_line, sizeof sync_line,
                "[FLASH][DetectPrinterModel] FLASH FORCED_SYNC PROCEDURE - SYNC_CHAR = 0x%x \n",
                c.sync);
            EXPECT_TRUE(in_order(
                f.trace(),
                {"[FLASH][DetectPrinterModel] received 1 bytes.\n",
                 "[FLASH][DetectPrinterModel] FLASH FORCED_SYNC PROCEDURE - SYNC_CHAR "
                 "0x16=Vx3plus 0x05=Vx3E 0x17=Vx3plusNE 0x18=Vx3plusNE Scanner 0x1A=KD5-ADF-L1 "
                 "0x20=KD5-ADF) \n",
                 sync_line, c.forced_line}));
            continue;
        }
        std::snprintf(sync_line, sizeof sync_line,
                      "[Cls_flash][DetectPrinterModel] RECEIVED SYNC_REPLY_CODE = 0x%x - "
                      "0x16=Vx3plus 0x05=Vx3E 0x17=Vx3plusNE 0x18=Vx3plusNE Scanner)) \n",
                      c.sync);
        EXPECT_TRUE(in_order(
            f.trace(),
            {"\n[FLASH][DetectPrinterModel]\n", "[FLASH][DetectPrinterModel] received 0 bytes.\n",
             "[FLASH][DetectPrinterModel] FLASH NOT FORCED_SYNC PROCEDURE.\n",
             "[Cls_flash][DetectPrinterModel] Cmd ESC {} sent \n",
             "[Cls_flash][DetectPrinterModel] received 1 bytes.\n", sync_line, c.normal_line}));
    }
}

INSTANTIATE_TEST_SUITE_P(AllModels, Detect, ::testing::ValuesIn(MODELS));

TEST(DetectFailures, WrongSyncCharacterNormalAndForced) {
    {
        PortSession f;
        answers(f.open(), 0x06);
        EXPECT_FALSE(detect_printer_model(f.run, f.port()).ok());
        EXPECT_EQ(f.session.printer_model, 0);
        EXPECT_TRUE(
            in_order(f.trace(), {"[FLASH][DetectPrinterModel] Incorrect SYNC CHAR ! !\n\n"}));
        EXPECT_EQ(f.ko(), "");
    }
    {
        PortSession f;
        announces(f.open(), 0x06);
        EXPECT_FALSE(detect_printer_model(f.run, f.port()).ok());
        const std::string trace = f.trace();
        EXPECT_TRUE(in_order(trace, {"[FLASH][DetectPrinterModel] Incorrect SYNC CHAR !\n\n"}));
        EXPECT_EQ(trace.find("! !"), std::string::npos);
    }
}

TEST(DetectFailures, SilentPrinterIsNotAnswering) {
    PortSession f;
    f.open();
    const uint64_t before = f.fake.clock.now;
    const Detection detection = detect_printer_model(f.run, f.port());
    EXPECT_EQ(detection.outcome, DetectOutcome::no_answer);
    report_detection(f.report, detection);
    EXPECT_TRUE(in_order(f.trace(), {"[Cls_flash][DetectPrinterModel] received 0 bytes.\n",
                                     "[FLASH][DetectPrinterModel] SYNC_CHAR not received !\n\n"}));
    EXPECT_EQ(f.ko(), "[Error 9] Printer not answering.\n");
    // The 500 ms probe and the 10 s wait for the reply, on the fake clock.
    EXPECT_EQ(f.fake.clock.now - before, 1000u + 20000u);
}

TEST(DetectFailures, UnreadableModemStatusFailsTheWireCheck) {
    PortSession f;
    FakeSerialDevice& dev = f.open();
    answers(dev, 0x16);
    dev.modem_fails = true;
    EXPECT_FALSE(detect_printer_model(f.run, f.port()).ok());
    EXPECT_TRUE(dev.written.empty());
    EXPECT_TRUE(in_order(f.trace(), {"Function GetCommModemStatus Error",
                                     "[FLASH][DetectPrinterModel] check_wire Error !\n\n"}));
}

TEST(DetectEmulation, SwitchOffRunsFirstAndRtsIsLeftAlone) {
    PortSession f;
    f.config.ibm_emulation = 1;
    FakeSerialDevice& dev = f.open();
    answers(dev, 0x16);
    EXPECT_TRUE(detect_printer_model(f.run, f.port()).ok());
    // Raised for the one state query only (no emulation answered it), low afterwards.
    EXPECT_EQ(dev.rts_raised, 1);
    EXPECT_FALSE(dev.rts);
    EXPECT_TRUE(dev.dtr);
    const std::vector<uint8_t> expected = {0x1B, 0x5B, 0x63, 0x04, 0x00, 0x01, 0xCC,
                                           0x01, 0x01, 0x1B, 0x5B, 0x63, 0x04, 0x00,
                                           0x01, 0xC5, 0x01, 0x01, 0x1B, 0x7D, 0x7B};
    EXPECT_EQ(dev.written, expected);
    EXPECT_TRUE(in_order(f.trace(), {"[FLASH][send_download_cmd] disable_4722_emulation !\n",
                                     "[Cls_flash][DetectPrinterModel] Cmd ESC {} sent \n"}));
}

TEST(DetectUsb, NeverProbedForForcedSync) {
    PortSession f;
    f.port_settings = {"USB01", PortKind::usb, {}};
    EXPECT_FALSE(detect_printer_model(f.run, f.port()).ok());  // no USB access in this build
    const std::string trace = f.trace();
    EXPECT_EQ(trace.find("[FLASH][DetectPrinterModel] received"), std::string::npos);
    EXPECT_TRUE(in_order(trace, {"FLASH NOT FORCED_SYNC PROCEDURE", "Cmd ESC {} sent"}));
}

// ---- send_download_cmd ----

TEST(SendDownloadCmd, InDownloadModeAlreadySendsNothing) {
    RunFixture f;
    FakeSerialDevice& dev = f.open();
    f.flash.session.in_download_mode = true;
    RecordingMainView view;
    PageTransferReport texts(f.catalogue, f.report, f.fake.clock, view);
    ProtocolRun run = f.flash.protocol();
    EXPECT_EQ(send_download_cmd(run, texts, f.port()), EntryOutcome::in_download_mode);
    EXPECT_TRUE(dev.written.empty());
    EXPECT_EQ(view.texts[Field::printer_status], "M19");
    EXPECT_EQ(view.texts[Field::pc_status], "M19");
    EXPECT_EQ(view.texts[Field::reply], "");
}

struct DownloadCmdCase {
    const char* name;
    int reply;  // -1: silence
    int result;
    int model;
    bool stx_line;
};

class SendDownloadCmd : public ::testing::TestWithParam<DownloadCmdCase> {};

TEST_P(SendDownloadCmd, AsksThePrinter) {
    const DownloadCmdCase& c = GetParam();
    RunFixture f;
    f.flash.report.set_mode(INTERACTIVE_MODE);
    FakeSerialDevice& dev = f.open();
    if (c.reply >= 0)
        answers(dev, static_cast<uint8_t>(c.reply));
    // The device goes away when the port closes: keep what it was sent.
    std::vector<uint8_t> sent;
    auto reply = dev.on_write;
    dev.on_write = [&sent, reply](FakeSerialDevice& d, const uint8_t* data, uint32_t n) {
        sent.insert(sent.end(), data, data + n);
        if (reply)
            reply(d, data, n);
    };
    f.flash.session.in_download_mode = false;
    NullMainView silent;
    PageTransferReport texts(f.catalogue, f.report, f.fake.clock, silent);
    ProtocolRun run = f.flash.protocol();
    EXPECT_EQ(send_download_cmd(run, texts, f.port()) == EntryOutcome::in_download_mode,
              c.result == 1);
    EXPECT_EQ(sent, DOWNLOAD_CMD);
    EXPECT_EQ(f.flash.session.printer_model, c.model);
    const std::string trace = f.trace();
    EXPECT_TRUE(in_order(trace, {"[FLASH][send_download_cmd] send_download_cmd\n",
                                 "[Cls_flash][send_download_cmd] Cmd ESC {} sent \n"}));
    EXPECT_EQ(trace.find("STX_REPLY_CODE not received") != std::string::npos, c.stx_line);
    if (c.result) {
        EXPECT_TRUE(f.flash.session.in_download_mode);
        EXPECT_TRUE(f.port_open());
        EXPECT_TRUE(f.fake.ui.boxes.empty());
    } else {
        EXPECT_FALSE(f.port_open());  // closed
        ASSERT_EQ(f.fake.ui.boxes.size(), 1u);
        EXPECT_EQ(f.fake.ui.boxes[0].caption, "M2");
        EXPECT_EQ(f.fake.ui.boxes[0].text, "M4");
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, SendDownloadCmd,
                         ::testing::Values(DownloadCmdCase{"model3", 0x17, 1, 3, false},
                                           DownloadCmdCase{"model6", 0x20, 1, 6, false},
                                           DownloadCmdCase{"unknown", 0x06, 0, 0, true},
                                           DownloadCmdCase{"silence", -1, 0, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vx::test
