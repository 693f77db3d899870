// The flash procedure: its endings, the model rules, the check boxes and the choice of the
// transfer sequence. Transfers are stopped at the header (an unsupported download speed), so
// each row shows which range it chose and which error line its header failure writes.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "flash/send_thread.h"
#include "image_fixture.h"
#include "port_fixture.h"
#include "recording_view.h"

namespace vx::test {
namespace {

const uint8_t SYNC[7] = {0, 0x05, 0x16, 0x17, 0x18, 0x1A, 0x20};

struct Procedure : RunFixture {
    RecordingMainView view;
    send_thread_args args{&view, &flash};

    // A printer of `model` (0: silent) behind COM1.
    void printer(int model) {
        fake.serial.configure = [model](FakeSerialDevice& d) {
            if (model == 0)
                return;
            d.on_write = [model](FakeSerialDevice& dev, const uint8_t* data, uint32_t n) {
                if (n == 3 && data[0] == 0x1B && data[1] == 0x7D && data[2] == 0x7B) {
                    dev.incoming.push_back(SYNC[model]);
                }
            };
        };
    }
    void image(int model, vximage::Kind kind,
               vximage::Breakage breakage = vximage::Breakage::none) {
        const std::vector<uint8_t> bytes = make_image(model, kind, breakage);
        dir.write("image.bin", std::string(bytes.begin(), bytes.end()));
        std::snprintf(flash.config.fw_filename, sizeof flash.config.fw_filename, "%s",
                      dir.file("image.bin").c_str());
    }
    void silent() { args.view = nullptr; }
    int run() { return send_thread(args); }
};

// ---- endings before any transfer ----

struct EndingCase {
    const char* name;
    int flash_mode;
    int model;  // the printer's; 0 silent
    uint16_t send_mode;
    std::function<void(Procedure&)> setup;
    int exit_code;
    std::string trace;
    std::string ko;
    std::string connection;  // control 1012; "-" untouched
    std::vector<int> closes;
};

class Endings : public ::testing::TestWithParam<EndingCase> {};

TEST_P(Endings, Table) {
    const EndingCase& c = GetParam();
    Procedure p;
    p.flash.report.set_mode(c.flash_mode);
    p.flash.config.send_mode = c.send_mode;
    p.printer(c.model);
    if (c.setup)
        c.setup(p);
    EXPECT_EQ(p.run(), c.exit_code);
    EXPECT_TRUE(in_order(p.trace(), {"[FLASH][send_thread] Send Thread Start !\n",
                                     "[FLASH][send_thread] open_port \n", c.trace}));
    EXPECT_EQ(p.ko(), c.ko);
    if (c.connection == "-") {
        EXPECT_EQ(p.view.texts.count(Field::connection), 0u);
    } else {
        EXPECT_EQ(p.view.texts[Field::connection], c.connection);
    }
    EXPECT_EQ(p.view.results, c.closes);
}

const std::string OPEN_ERROR = "[FLASH][send_thread] open_port Error !\n";

INSTANTIATE_TEST_SUITE_P(
    Procedure, Endings,
    ::testing::Values(
        EndingCase{"open_fails",
                   1,
                   2,
                   SEND_FW,
                   [](Procedure& p) { p.fake.serial.open_fails = true; },
                   0,
                   OPEN_ERROR,
                   "[Error 3] Error opening printer port.\n",
                   "M4",
                   {0}},
        EndingCase{"dsr_off",
                   1,
                   2,
                   SEND_FW,
                   [](Procedure& p) {
                       p.fake.serial.configure = [](FakeSerialDevice& d) { d.modem = 0; };
                   },
                   0,
                   OPEN_ERROR,
                   "[Error 5] Printer OFF. - portname COM1\n"
                   "[Error 3] Error opening printer port.\n",
                   "M4",
                   {0}},
        EndingCase{"open_fails_silent",
                   2,
                   2,
                   SEND_FW,
                   [](Procedure& p) {
                       p.fake.serial.open_fails = true;
                       p.silent();
                   },
                   0,
                   OPEN_ERROR,
                   "[Error 3] Error opening printer port.\n",
                   "-",
                   {}},
        EndingCase{"model_not_detected",
                   1,
                   0,
                   SEND_FW,
                   nullptr,
                   0,
                   "[FLASH][send_thread]CheckPrinterModel Error !\n",
                   "[Error 9] Printer not answering.\n",
                   "M38",
                   {0}},
        EndingCase{"free_pages_refused_model3",
                   1,
                   3,
                   SEND_FREE,
                   nullptr,
                   0,
                   "[FLASH][send_thread] SEND FREE PAGES Invalid operation !\n",
                   "",
                   "M44",
                   {0}},
        EndingCase{"free_pages_refused_model4",
                   1,
                   4,
                   SEND_FREE,
                   nullptr,
                   0,
                   "[FLASH][send_thread] SEND FREE PAGES Invalid operation !\n",
                   "",
                   "M44",
                   {0}},
        EndingCase{"boot_refused_model1",
                   1,
                   1,
                   SEND_BOOT,
                   nullptr,
                   0,
                   "[FLASH][send_thread] SEND_BOOT Invalid operation !\n",
                   "",
                   "M44",
                   {0}},
        EndingCase{"fpga_refused_model2",
                   1,
                   2,
                   SEND_FW | SEND_FPGA,
                   nullptr,
                   0,
                   "[FLASH][send_thread] SEND_FPGA Invalid operation !\n",
                   "",
                   "M44",
                   {0}},
        EndingCase{"fpga_refused_model5",
                   1,
                   5,
                   SEND_FPGA,
                   nullptr,
                   0,
                   "[FLASH][send_thread] SEND_FPGA Invalid operation !\n",
                   "",
                   "M44",
                   {0}},
        EndingCase{"nothing_selected", 1, 2, KEEP_SETTINGS, nullptr, 1, "", "", "-", {1}},
        EndingCase{"interactive_never_posts", 0, 2, 0, nullptr, 1, "", "", "-", {}},
        EndingCase{"interactive_boot_box_model1",
                   0,
                   1,
                   SEND_FW,
                   [](Procedure& p) { p.view.checks[ImageBox::boot] = true; },
                   0,
                   "[FLASH][send_thread] SEND_BOOT Invalid operation !\n",
                   "",
                   "M44",
                   {}},
        EndingCase{"interactive_indeterminate_box_is_unset",
                   0,
                   2,
                   0,
                   [](Procedure& p) { p.view.checks[ImageBox::firmware] = false; },
                   1,
                   "",
                   "",
                   "-",
                   {}},
        EndingCase{"interactive_fpga_box_model2",
                   0,
                   2,
                   0,
                   [](Procedure& p) { p.view.checks[ImageBox::fpga] = true; },
                   0,
                   "[FLASH][send_thread] SEND_FPGA Invalid operation !\n",
                   "",
                   "M44",
                   {}},
        EndingCase{"update_decision_without_release_answer",
                   1,
                   2,
                   SEND_FW,
                   [](Procedure& p) { p.flash.config.conditional_table = true; },
                   0,
                   "[FLASH][UpdateMustBeDone] FW Release request failure.\n",
                   "[Error 12] FW Release request failure ! \n",
                   "-",
                   {0}},
        EndingCase{"image_check_fails",
                   1,
                   2,
                   SEND_FW,
                   [](Procedure& p) { p.image(2, vximage::Kind::fw, vximage::Breakage::tag); },
                   0,
                   "[FLASH][send_thread] SEND_FW \n",
                   "[Error 7] Invalid firmware file format.\n",
                   "-",
                   {0}},
        EndingCase{"boot_check_fails_without_ko_line",
                   1,
                   2,
                   SEND_BOOT,
                   [](Procedure& p) {
                       std::snprintf(p.flash.config.fw_filename, sizeof p.flash.config.fw_filename,
                                     "missing.bin");
                   },
                   0,
                   "[FLASH][send_thread] SEND_BOOT \n",
                   "",
                   "-",
                   {0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProcedureBoxes, KeepSettingsDisabledUnlessModel1) {
    for (int model : {1, 2, 6}) {
        Procedure p;
        p.flash.report.set_mode(INTERACTIVE_MODE);
        p.printer(model);
        EXPECT_EQ(p.run(), 1);
        const bool disabled =
            !p.view.disabled.empty() && p.view.disabled[0] == ImageBox::keep_settings;
        EXPECT_EQ(disabled, model != 1) << model;
        EXPECT_EQ(p.flash.cursor.busy, 0u);
        EXPECT_EQ(p.fake.serial.open_devices, 0);
    }
}

TEST(ProcedureBoxes, InvalidImageBoxOnlyInInteractiveMode) {
    Procedure p;
    p.flash.report.set_mode(INTERACTIVE_MODE);
    p.printer(2);
    p.view.checks[ImageBox::firmware] = true;
    std::snprintf(p.flash.config.fw_filename, sizeof p.flash.config.fw_filename, "missing.bin");
    EXPECT_EQ(p.run(), 0);
    EXPECT_EQ(p.view.texts[Field::transfer], "M45");
    ASSERT_FALSE(p.fake.ui.boxes.empty());
    EXPECT_EQ(p.fake.ui.boxes.back().caption, "M2");
    EXPECT_EQ(p.fake.ui.boxes.back().text, "M45");
    EXPECT_TRUE(p.view.results.empty());
}

// ---- which sequence row runs ----

struct RowCase {
    const char* name;
    int model;
    uint16_t send_mode;
    vximage::Kind kind;
    std::vector<std::string> trace;
    bool error_10;
    std::string status;  // control 1019 before the header
    int begin, end;      // -1: not checked
};

class Rows : public ::testing::TestWithParam<RowCase> {};

TEST_P(Rows, ChoosesTheSequence) {
    const RowCase& c = GetParam();
    Procedure p;
    p.flash.report.set_mode(1);
    p.flash.config.send_mode = c.send_mode;
    p.flash.config.send_baud = 12345;  // refused by the header, after the range is chosen
    p.printer(c.model);
    p.image(c.model, c.kind);
    if (c.send_mode & SEND_FREE) {
        p.flash.session.begin_page = 2;
        p.flash.session.end_page = 3;
    }
    EXPECT_EQ(p.run(), 0);
    const std::string trace = p.trace();
    for (const std::string& line : c.trace)
        EXPECT_TRUE(in_order(trace, {line}));
    EXPECT_EQ(p.ko(), c.error_10 ? "[Error 10] Init Download Error.\n" : "");
    if (!c.status.empty()) {
        EXPECT_TRUE(std::find(p.view.text_log.begin(), p.view.text_log.end(),
                              std::make_pair(Field::transfer, c.status)) != p.view.text_log.end())
            << c.status;
    }
    EXPECT_EQ(p.view.texts[Field::transfer], "M2");  // the header failure
    if (c.begin >= 0) {
        EXPECT_EQ(p.flash.session.begin_page, static_cast<uint32_t>(c.begin));
        EXPECT_EQ(p.flash.session.end_page, static_cast<uint32_t>(c.end));
        const std::string range = "range 0 " + std::to_string(c.end - c.begin + 1);
        EXPECT_EQ(p.view.progress_log.empty() ? "" : p.view.progress_log[0], range);
    }
    EXPECT_EQ(p.view.results, std::vector<int>{0});
    EXPECT_EQ(p.fake.serial.open_devices, 0);
    EXPECT_EQ(p.flash.cursor.busy, 0u);
}

using vximage::Kind;
INSTANTIATE_TEST_SUITE_P(
    Procedure, Rows,
    ::testing::Values(RowCase{"m1_fw_cg_full",
                              1,
                              SEND_FW | SEND_CG,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_FW + SEND_CG \n",
                               "[FLASH][send_thread] SEND_FW + SEND_CG FULL MODE \n"},
                              false,
                              "M42",
                              0,
                              63},
                      RowCase{"m1_three_steps",
                              1,
                              SEND_FW | SEND_CG | KEEP_SETTINGS,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_FW + SEND_CG \n",
                               "[FLASH][send_thread] Step 1 : SEND_FW with tag null\n"},
                              true,
                              "M42",
                              0,
                              25},
                      RowCase{"m1_cg",
                              1,
                              SEND_CG,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_CG \n"},
                              false,
                              "M43",
                              32,
                              63},
                      RowCase{"m2_fw",
                              2,
                              SEND_FW,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_FW \n"},
                              false,
                              "M42",
                              -1,
                              -1},
                      RowCase{"m2_boot",
                              2,
                              SEND_BOOT,
                              Kind::boot,
                              {"[FLASH][send_thread] SEND_BOOT \n"},
                              true,
                              "M46 TEXT-A_TEXT-B",
                              -1,
                              -1},
                      RowCase{"m2_free",
                              2,
                              SEND_FREE | SEND_FW,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_FREE \n"},
                              true,
                              "",
                              -1,
                              -1},
                      RowCase{"m6_fw_cg_adds_fpga",
                              6,
                              SEND_FW | SEND_CG,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_FW + SEND_FPGA + SEND_CG \n"},
                              false,
                              "M42",
                              -1,
                              -1},
                      RowCase{"m6_fw_fpga",
                              6,
                              SEND_FW | SEND_FPGA,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_FW + SEND_FPGA\n"},
                              false,
                              "M42",
                              -1,
                              -1},
                      RowCase{"m6_fpga_cg",
                              6,
                              SEND_FPGA | SEND_CG,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_FPGA + SEND_CG\n"},
                              false,
                              "M42",
                              -1,
                              -1},
                      RowCase{"m6_fpga",
                              6,
                              SEND_FPGA,
                              Kind::fw,
                              {"[FLASH][send_thread] SEND_FPGA \n"},
                              false,
                              "M42",
                              -1,
                              -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProcedureBar, PagesBarRangeIsSixteenBits) {
    Procedure p;
    p.flash.report.set_mode(1);
    p.flash.config.send_mode = SEND_FW;
    p.flash.config.send_baud = 12345;
    p.printer(2);
    p.image(2, Kind::fw);
    EXPECT_EQ(p.run(), 0);
    ASSERT_GE(p.view.progress_log.size(), 2u);
    const uint16_t pages =
        static_cast<uint16_t>(p.flash.session.end_page - p.flash.session.begin_page + 1);
    EXPECT_EQ(p.view.progress_log[0], "range 0 " + std::to_string(pages));
    EXPECT_EQ(p.view.progress_log[1], "step 4 0");
}

}  // namespace
}  // namespace vx::test
