#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/message_ids.h"
#include "app/preflight.h"
#include "app_fixture.h"
#include "image_builder.h"

namespace vx::test {
namespace {

// A catalogue with every text the program uses, each with the conversions it expects; the
// text of `replaced_id` replaced, or left out when `replacement` is null.
std::string good_catalogue(uint16_t replaced_id = 0, const char* replacement = nullptr) {
    std::string mes;
    for (const msg::MessageUse& use : msg::USED_MESSAGES) {
        std::string text = "text";
        for (const char* a = use.args; *a; ++a) {
            if (*a != '?')
                text += *a == 's' ? " %s" : " %d";
        }
        if (use.id == replaced_id && replacement == nullptr)
            continue;
        mes += std::to_string(use.id) + "," +
               (use.id == replaced_id ? std::string(replacement) : text) + "\r\n";
    }
    return mes;
}

std::string image(int model, int seed = 3, vximage::Kind kind = vximage::Kind::fw) {
    vximage::ImageRecipe recipe;
    recipe.model = model;
    recipe.kind = kind;
    recipe.pages = kind == vximage::Kind::fw ? 8 : 0;
    if (kind == vximage::Kind::fw)
        recipe.fw_end = 0x1FFFF;
    recipe.seed = static_cast<uint64_t>(seed);
    std::vector<uint8_t> bytes;
    if (!vximage::build_image(recipe, bytes).empty())
        return "";  // refused as an image by every check
    return std::string(bytes.begin(), bytes.end());
}

enum class Port { free, busy, missing, max_115200, usb_printer };

struct CheckCase {
    const char* name;
    std::string ini;
    std::map<std::string, std::string> files;  // besides flash.ini; flash.mes is the good one
    Port port;
    int exit_code;
    std::vector<const char*> says;  // in this order
};

const std::string A = "[GENERAL]\r\nFILENAME=a.bin\r\nFLASHMODE=2\r\n";
const std::string COM = "[PORT SETTING]\r\nPORT=COM2\r\n";

const CheckCase cases[] = {
    {"good folder: the plan and the estimate",
     "[GENERAL]\r\nFILENAME=a.bin\r\nSEND_CG=1\r\nFLASHMODE=2\r\n[PORT SETTING]\r\nPORT=COM2\r\n",
     {{"a.bin", image(3)}},
     Port::free,
     0,
     {"[GENERAL] FILENAME = \"a.bin\"  (line 2)", "[GENERAL] SEND_FW = 1  (default)",
      "run mode 2, silent", "read OK.txt", "all 40 texts", "valid firmware image for models 3, 5",
      "model 3 (VX3PLUS_CR_MODEL): firmware, tables and fonts (CG) pages 4-11 from image page 0, "
      "8 pages in 2 banks",
      "PORT=COM2: serial port, present and free; DSR on",
      "data 131076 bytes at 115200 bit/s: 11.4 s; fixed waits 6.0 s",
      "a run can succeed for model 3 (VX3PLUS_CR_MODEL); 0 problems, 0 warnings"}},
    {"misspelt key, with its line",
     "[GENERAL]\r\nFILENAME=a.bin\r\nFLASHMODE=2\r\nSend_CGG=1\r\n[PORT SETTING]\r\nPORT=COM2\r\n",
     {{"a.bin", image(3)}},
     Port::free,
     0,
     {"warning: line 4: [GENERAL] Send_CGG is not a key vxflash reads; it is ignored (did you "
      "mean SEND_CG?)",
      "0 problems, 1 warning"}},
    {"table entry naming a missing file",
     "[GENERAL]\r\nFILENAME=a.bin\r\nFLASHMODE=2\r\nCONDITIONAL_TABLE=1\r\n[PORT SETTING]\r\n"
     "PORT=COM2\r\n[CONDITIONAL_TABLE]\r\nRel105VerA01=a.bin\r\nRel106VerA01=gone.bin\r\n",
     {{"a.bin", image(3)}},
     Port::free,
     1,
     {"FILENAME a.bin is not sent",
      "problem: [CONDITIONAL_TABLE] Rel106VerA01 gone.bin cannot "
      "be opened",
      "NO model can run"}},
    {"table entry naming an image for another model",
     "[GENERAL]\r\nFILENAME=a.bin\r\nFLASHMODE=1\r\nCONDITIONAL_TABLE=1\r\n[PORT SETTING]\r\n"
     "PORT=COM2\r\n[CONDITIONAL_TABLE]\r\nRel105VerA01=a.bin\r\nRel106VerA01=b.bin\r\n",
     {{"a.bin", image(3)}, {"b.bin", image(4)}},
     Port::free,
     1,
     {"b.bin: 131072 bytes; a valid firmware image for models 4, 5",
      "problem: the files a run may send are for different models", "a.bin: 3", "b.bin: 4",
      "NO model can run"}},
    {"table missing although asked for",
     (A + "CONDITIONAL_TABLE=1\r\n" + COM),
     {{"a.bin", image(3)}},
     Port::free,
     1,
     {"problem: CONDITIONAL_TABLE=1 but flash.ini has no [CONDITIONAL_TABLE]"}},
    {"catalogue text with a lost conversion",
     (A + COM),
     {{"a.bin", image(3)}, {"flash.mes", good_catalogue(msg::BANK_NUMBER, "Bank %")}},
     Port::free,
     0,
     {"warning: id 14 \"Bank %\": its conversions do not take a number; it is shown literally"}},
    {"catalogue text without its conversion",
     A + COM,
     {{"a.bin", image(3)}, {"flash.mes", good_catalogue(msg::LINE_SPEED, "Line speed")}},
     Port::free,
     0,
     {"warning: id 21 \"Line speed\" has no conversion for a number: it is shown without it"}},
    {"catalogue without a text",
     A + COM,
     {{"a.bin", image(3)}, {"flash.mes", good_catalogue(msg::LPT_REFUSED)}},
     Port::free,
     0,
     {"warning: id 47 is missing"}},
    {"a port whose speed report falls back to 9600",
     A + COM,
     {{"a.bin", image(3)}},
     Port::max_115200,
     0,
     {"data 65538 bytes at 9600 bit/s: 68.3 s",
      "maximum-speed flag 0x00020000, which does not keep BAUD_SEND"}},
    {"USB printer present",
     A + "[PORT SETTING]\r\nPORT=USB01\r\n",
     {{"a.bin", image(3)}},
     Port::usb_printer,
     0,
     {"PORT=USB01: USB printer USB\\VID_7A1E&PID_0030&REV_0100, present and free",
      "65538 bytes over USB", "a run can succeed for model 3"}},
    {"busy port",
     (A + COM),
     {{"a.bin", image(3)}},
     Port::busy,
     1,
     {"problem: PORT=COM2 (serial): in use by another program", "NO model can run"}},
    {"missing port",
     (A + COM),
     {{"a.bin", image(3)}},
     Port::missing,
     1,
     {"problem: PORT=COM2 (serial): no such port"}},
    {"parallel port",
     (A + "[PORT SETTING]\r\nPORT=LPT1\r\n"),
     {{"a.bin", image(3)}},
     Port::free,
     1,
     {"problem: PORT=LPT1 is a parallel port: every run stops with [Error 11]"}},
    {"lower-case usb is a serial port",
     (A + "[PORT SETTING]\r\nPORT=usb01\r\n"),
     {{"a.bin", image(3)}},
     Port::free,
     0,
     {"warning: [PORT SETTING] PORT=usb01 is taken as a serial port"}},
    {"download speed without a code",
     (A + "[PORT SETTING]\r\nPORT=COM2\r\nBAUD_SEND=12345\r\nSIZE=9\r\n"),
     {{"a.bin", image(3)}},
     Port::free,
     1,
     {"problem: [PORT SETTING] BAUD_SEND=12345 has no speed code",
      "warning: [PORT SETTING] SIZE gives 9 data bits"}},
    {"no FILENAME",
     ("[GENERAL]\r\nTRACE=1\r\n" + COM),
     {},
     Port::free,
     1,
     {"problem: [GENERAL] FILENAME is missing or empty"}},
    {"no flash.mes",
     (A + COM),
     {{"a.bin", image(3)}, {"flash.mes", ""}},
     Port::free,
     1,
     {"problem: flash.mes is missing"}},
    {"missing PORT is written by a run, not by the check",
     "[GENERAL]\r\nFILENAME=a.bin\r\nFLASHMODE=2\r\n",
     {{"a.bin", image(3)}},
     Port::free,
     1,
     {"[PORT SETTING] PORT = \"USB01\"  (default; a run writes it into flash.ini)",
      "problem: PORT=USB01 (USB): no printer with USB vendor id 0x7A1E is attached"}},
    {"FPGA selected for a model without one",
     (A + "SEND_FPGA=1\r\n" + COM),
     {{"a.bin", image(3)}},
     Port::free,
     1,
     {"model 3 (VX3PLUS_CR_MODEL): the selection is refused for this model (SEND_FPGA Invalid "
      "operation !)",
      "problem: FILENAME a.bin: the selection sends nothing to any model it is for"}},
    {"boot image given as firmware",
     (A + COM),
     {{"a.bin", image(3, 3, vximage::Kind::boot)}},
     Port::free,
     1,
     {"problem: FILENAME a.bin: the selection sends nothing to any model it is for",
      "it is a boot image for model 3; SEND_BOOT=1 selects that kind"}},
    {"free pages beyond the image",
     (A + "[INTERNAL]\r\nBEGIN_PAGE=4\r\nEND_PAGE=40\r\n" + COM),
     {{"a.bin", image(5)}},
     Port::free,
     1,
     {"run mode 1, unattended (END_PAGE forces it)",
      "model 5 (KD5_ADF_L1_MODEL): end page 40 lies beyond page 12"}},
    {"interactive run on a port a printer queue uses",
     "[GENERAL]\r\nFILENAME=a.bin\r\n"
     "[PORT SETTING]\r\nPORT=COM2\r\n",
     {{"a.bin", image(3)}},
     Port::free,
     1,
     {"run mode 0, interactive",
      "problem: PORT=COM2 is used by the printer queue \"Office\": an interactive run refuses "
      "it"}},
};

// Every file of the folder with its bytes.
std::map<std::string, std::string> snapshot(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        files[e.path().filename().string()] = dir.read(e.path().filename().string());
    return files;
}

class PreflightCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(PreflightCheck, ReportsAndLeavesTheFolderAsItWas) {
    const CheckCase& c = GetParam();
    AppFixture app;
    app.dir.write("flash.ini", c.ini);
    app.dir.write("flash.mes", good_catalogue());
    for (const auto& [name, bytes] : c.files) {
        if (name == "flash.mes" && bytes.empty())
            std::filesystem::remove(app.dir.file(name));
        else
            app.dir.write(name, bytes);
    }
    app.fake.serial.open_fails = c.port == Port::busy || c.port == Port::missing;
    app.fake.serial.configure = [&c](FakeSerialDevice& d) {
        if (c.port == Port::max_115200)
            d.max_baud_flag = MAXBAUD_115200;
    };
    app.fake.serial.failure = c.port == Port::busy ? OpenFailure::busy : OpenFailure::not_found;
    app.fake.printers.queues = {{"Office", "COM2:"}};
    if (c.port == Port::usb_printer)
        app.fake.usb.devices = {{"usb-1", "USB\\VID_7A1E&PID_0030&REV_0100", true, 1}};
    const auto before = snapshot(app.dir);

    std::string report;
    EXPECT_EQ(preflight_check(app.fake.platform, report), c.exit_code) << report;
    size_t at = 0;
    for (const char* text : c.says) {
        const size_t found = report.find(text, at);
        EXPECT_NE(found, std::string::npos) << "missing, or out of order: " << text << "\n"
                                            << report;
        if (found != std::string::npos)
            at = found;
    }
    EXPECT_EQ(snapshot(app.dir), before) << "the check changed the folder";
    for (const std::string& call : app.fake.services.calls)
        EXPECT_EQ(call, "state") << "the check touched the spooler";
}

INSTANTIATE_TEST_SUITE_P(Table, PreflightCheck, testing::ValuesIn(cases), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n) {
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    }
    return n;
});

TEST(PreflightOption, FoundOnlyAsAnArgument) {
    EXPECT_TRUE(has_option("C:\\tools\\vxflash.exe /check", "/check"));
    EXPECT_TRUE(has_option("\"C:\\my tools\\vxflash.exe\"  /CHECK", "/check"));
    EXPECT_FALSE(has_option("\"C:\\a /check\\vxflash.exe\"", "/check"));
    EXPECT_FALSE(has_option("vxflash.exe /checks /tb", "/check"));
    EXPECT_FALSE(has_option("/check", "/check"));
}

}  // namespace
}  // namespace vx::test
