#include <gtest/gtest.h>

#include <string>

#include "image_fixture.h"

namespace {

using namespace vx;
using vx::test::ImageFixture;

constexpr uint32_t U = 0xFFFFFFFF;  // "unchanged": the field keeps its sentinel

struct Sections {
    uint16_t start_fw = 20, end_fw = 30, start_FPGA = 31, end_FPGA = 40, start_cg = 41, end_cg = 60;
};

void load(Cls_flash& f, int model, const Sections& s = {}) {
    f.printer_model = model;
    f.start_fw = s.start_fw;
    f.end_fw = s.end_fw;
    f.start_FPGA = s.start_FPGA;
    f.end_FPGA = s.end_FPGA;
    f.start_cg = s.start_cg;
    f.end_cg = s.end_cg;
    f.begin_page = 900;
    f.end_page = 901;
    f.offset_page = 902;
}

struct RangeCase {
    uint16_t flags;
    int model;  // 0: every model 1 to 6
    uint32_t begin, end, offset;
    const char* cleared;  // sections set to 0: any of "fw", "fpga", "cg"
};

const RangeCase cases[] = {
    // row 1
    {SEND_BOOT, 2, 0, 15, 0, ""},
    {SEND_BOOT, 6, 0, 30, 0, "fpga cg"},
    {SEND_BOOT, 1, U, U, U, ""},
    {SEND_BOOT, 3, U, U, U, ""},
    {SEND_BOOT, 5, U, U, U, ""},
    {SEND_BOOT | SEND_FW | SEND_CG, 2, 0, 15, 0, ""},  // boot wins over everything
    // rows 2 to 4
    {SEND_FW | SEND_FPGA | SEND_CG, 0, 20, 60, 0, ""},
    {SEND_FW | SEND_FPGA, 0, 20, 40, 0, "cg"},
    {SEND_FPGA | SEND_CG, 0, 31, 60, 27, "fw"},
    // row 5
    {SEND_FW | SEND_CG, 1, 0, 63, 0, ""},
    {SEND_FW | SEND_CG | KEEP_SETTINGS, 1, 0, 63, 0, ""},
    {SEND_FW | SEND_CG, 2, 16, 60, 16, ""},
    {SEND_FW | SEND_CG, 3, 20, 60, 16, ""},
    {SEND_FW | SEND_CG, 4, 20, 60, 16, ""},
    {SEND_FW | SEND_CG, 5, U, U, U, ""},
    {SEND_FW | SEND_CG, 6, 20, 60, 0, ""},
    // row 6
    {SEND_FW, 1, 0, 31, 0, ""},
    {SEND_FW | KEEP_SETTINGS, 1, 0, 25, 0, ""},
    {SEND_FW, 2, 16, 55, 16, ""},
    {SEND_FW, 3, 20, 30, 16, ""},
    {SEND_FW, 4, 20, 30, 16, ""},
    {SEND_FW, 5, 20, 30, 16, ""},
    {SEND_FW, 6, 20, 30, 0, "fpga cg"},
    {SEND_FW | SEND_FW_1STPAGE, 3, 20, 30, 16, ""},  // row 6 comes first
    // row 7
    {SEND_FW_1STPAGE, 0, 0, 1, 0, ""},
    {SEND_FW_1STPAGE | SEND_CG, 0, 0, 1, 0, ""},
    // row 8
    {SEND_CG, 1, 32, 63, 32, ""},
    {SEND_CG, 2, 64, 60, 64, ""},
    {SEND_CG, 3, 41, 60, 37, ""},
    {SEND_CG, 4, 41, 60, 37, ""},
    {SEND_CG, 5, 41, 60, 37, ""},
    {SEND_CG, 6, 41, 60, 37, "fw fpga"},
    // row 9
    {SEND_FPGA, 0, 31, 40, 27, "fw cg"},
    // row 10
    {0, 0, U, U, U, ""},
    {KEEP_SETTINGS, 0, U, U, U, ""},
};

TEST(SetBeginEndPage, RowsForEveryModel) {
    for (const RangeCase& c : cases) {
        for (int model = 1; model <= 6; ++model) {
            if (c.model != 0 && c.model != model)
                continue;
            SCOPED_TRACE(testing::Message()
                         << "flags 0x" << std::hex << c.flags << std::dec << " model " << model);
            ImageFixture f;
            load(f.flash, model);
            f.flash.set_BeginEndPage(c.flags);
            EXPECT_EQ(f.flash.begin_page, c.begin == U ? 900 : c.begin);
            EXPECT_EQ(f.flash.end_page, c.end == U ? 901 : c.end);
            EXPECT_EQ(f.flash.offset_page, c.offset == U ? 902 : c.offset);
            const std::string cleared = c.cleared;
            const Sections s;
            const bool fw = cleared.find("fw") != std::string::npos;
            const bool fpga = cleared.find("fpga") != std::string::npos;
            const bool cg = cleared.find("cg") != std::string::npos;
            EXPECT_EQ(f.flash.start_fw, fw ? 0 : s.start_fw);
            EXPECT_EQ(f.flash.end_fw, fw ? 0 : s.end_fw);
            EXPECT_EQ(f.flash.start_FPGA, fpga ? 0 : s.start_FPGA);
            EXPECT_EQ(f.flash.end_FPGA, fpga ? 0 : s.end_FPGA);
            EXPECT_EQ(f.flash.start_cg, cg ? 0 : s.start_cg);
            EXPECT_EQ(f.flash.end_cg, cg ? 0 : s.end_cg);
        }
    }
}

TEST(SetBeginEndPage, TraceLinePerRow) {
    const struct {
        uint16_t flags;
        int model;
        const char* line;
    } lines[] = {
        {SEND_BOOT, 2,
         "[FLASH][set_BeginEndPage] SEND_BOOT file begin page=0 file end page=15 file offset "
         "page=0\n"},
        {SEND_FW | SEND_FPGA | SEND_CG, 6,
         "[FLASH][set_BeginEndPage] SEND FW+FPGA+CG file begin page=20 file end page=60 file "
         "offset page=0\n"},
        {SEND_FW | SEND_FPGA, 6,
         "[FLASH][set_BeginEndPage] SEND FW+FPGA - file begin page=20 file end page=40 file "
         "offset page=0\n"},
        {SEND_FPGA | SEND_CG, 6,
         "[FLASH][set_BeginEndPage] SEND FPGA+CG - file begin page=31 file end page=60 file "
         "offset page=27\n"},
        {SEND_FW | SEND_CG, 5,
         "[FLASH][set_BeginEndPage] SEND_FW+CG - file begin page=900 file end page=901 file "
         "offset page=902\n"},
        {SEND_FW, 3,
         "[FLASH][set_BeginEndPage] SEND_FW - file begin page=20 file end page=30 file offset "
         "page=16\n"},
        {SEND_FW_1STPAGE, 1,
         "[FLASH][set_BeginEndPage] SEND_FW_1STPAGE beginpage=0 endpage=1 fileoffsetpage=0\n"},
        {SEND_CG, 2,
         "[FLASH][set_BeginEndPage] SEND CG - file begin page=64 file end page=60 file offset "
         "page=64\n"},
        {SEND_FPGA, 6,
         "[FLASH][set_BeginEndPage] SEND FPGA - file begin page=31 file end page=40 file offset "
         "page=27\n"},
        {0, 3, ""},
    };
    for (const auto& c : lines) {
        ImageFixture f;
        load(f.flash, c.model);
        f.flash.set_BeginEndPage(c.flags);
        EXPECT_EQ(f.trace(), c.line);
    }
}

// Model 5's fixed ranges: the CG row reads from image page 156.
TEST(SetBeginEndPage, Model5CgFromFixedSections) {
    ImageFixture f;
    load(f.flash, 5, {4, 155, 0, 0, 160, 36});
    f.flash.set_BeginEndPage(SEND_CG);
    EXPECT_EQ(f.flash.begin_page, 160u);
    EXPECT_EQ(f.flash.end_page, 36u);
    EXPECT_EQ(f.flash.offset_page, 156u);
}

// A section claimed to start below flash page 4 has no image pages there: the range starts
// at page 4 with image page 0, never at a negative image page.
TEST(SetBeginEndPage, NeverOffsetsBeforeTheImage) {
    const struct {
        uint16_t flags;
        int model;
        Sections sections;
        uint32_t begin, end;
    } cases[] = {
        {SEND_FW, 3, {2, 30, 31, 40, 41, 60}, 4, 30},
        {SEND_FW | SEND_CG, 4, {0, 30, 31, 40, 41, 60}, 4, 60},
        {SEND_CG, 5, {4, 155, 0, 0, 3, 36}, 4, 36},
        {SEND_FPGA, 1, {0, 0, 0, 0, 0, 0}, 4, 0},
        {SEND_FPGA | SEND_CG, 2, {0, 0, 0, 0, 0, 79}, 4, 79},
        {SEND_FW | SEND_CG, 2, {0, 0, 0, 0, 0, 79}, 16, 79},  // model 2: firmware from page 16
    };
    for (const auto& c : cases) {
        ImageFixture f;
        load(f.flash, c.model, c.sections);
        f.flash.set_BeginEndPage(c.flags);
        EXPECT_EQ(f.flash.begin_page, c.begin);
        EXPECT_EQ(f.flash.end_page, c.end);
        EXPECT_LE(f.flash.offset_page, f.flash.begin_page);
        EXPECT_EQ(f.flash.offset_page, c.model == 2 && c.begin == 16 ? 16u : 0u);
    }
}

}  // namespace
