#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "image/range_table.h"
#include "image_fixture.h"

namespace {

using namespace vx;
using vx::test::ImageFixture;

constexpr uint32_t U = 0xFFFFFFFF;  // "unchanged": the field keeps its sentinel

struct Sections {
    uint16_t start_fw = 20, end_fw = 30, start_FPGA = 31, end_FPGA = 40, start_cg = 41, end_cg = 60;
};

void load(test::SessionParts& f, int model, const Sections& s = {}) {
    f.session.printer_model = model;
    f.session.start_fw = s.start_fw;
    f.session.end_fw = s.end_fw;
    f.session.start_FPGA = s.start_FPGA;
    f.session.end_FPGA = s.end_FPGA;
    f.session.start_cg = s.start_cg;
    f.session.end_cg = s.end_cg;
    f.session.begin_page = 900;
    f.session.end_page = 901;
    f.session.offset_page = 902;
}

struct RangeCase {
    uint16_t flags;
    int model;  // 0: every model 1 to 6
    uint32_t begin, end, offset;
    const char* cleared;  // sections set to 0: any of "fw", "fpga", "cg"
    int result = 1;       // 0: no range, nothing changed
};

constexpr int NO_RANGE = 0;

const RangeCase cases[] = {
    // row 1
    {SEND_BOOT, 2, 0, 15, 0, ""},
    {SEND_BOOT, 6, 0, 30, 0, "fpga cg"},
    {SEND_BOOT, 1, U, U, U, "", NO_RANGE},  // no boot images
    {SEND_BOOT, 3, U, U, U, ""},            // the boot check's range stays
    {SEND_BOOT, 5, U, U, U, ""},
    {SEND_BOOT | SEND_FW | SEND_CG, 2, 0, 15, 0, ""},  // boot wins over everything
    // rows 2 to 4: only model-6 images have an FPGA section
    {SEND_FW | SEND_FPGA | SEND_CG, 6, 20, 60, 0, ""},
    {SEND_FW | SEND_FPGA, 6, 20, 40, 0, "cg"},
    {SEND_FPGA | SEND_CG, 6, 31, 60, 27, "fw"},
    // row 5
    {SEND_FW | SEND_CG, 1, 0, 63, 0, ""},
    {SEND_FW | SEND_CG | KEEP_SETTINGS, 1, 0, 63, 0, ""},
    {SEND_FW | SEND_CG, 2, 16, 60, 16, ""},
    {SEND_FW | SEND_CG, 3, 20, 60, 16, ""},
    {SEND_FW | SEND_CG, 4, 20, 60, 16, ""},
    {SEND_FW | SEND_CG, 5, U, U, U, "", NO_RANGE},
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
    {SEND_FPGA, 6, 31, 40, 27, "fw cg"},
    // row 10
    {0, 0, U, U, U, "", NO_RANGE},
    {KEEP_SETTINGS, 0, U, U, U, "", NO_RANGE},
};

// Models without an FPGA section have no range in the FPGA rows.
const uint16_t fpga_rows[] = {SEND_FW | SEND_FPGA | SEND_CG, SEND_FW | SEND_FPGA,
                              SEND_FPGA | SEND_CG, SEND_FPGA};

void expect_range(ImageFixture& f, uint16_t flags, int model, const RangeCase& c) {
    SCOPED_TRACE(testing::Message()
                 << "flags 0x" << std::hex << flags << std::dec << " model " << model);
    load(f, model);
    EXPECT_EQ(set_transfer_range(f.session, f.report, flags), c.result);
    EXPECT_EQ(f.session.begin_page, c.begin == U ? 900 : c.begin);
    EXPECT_EQ(f.session.end_page, c.end == U ? 901 : c.end);
    EXPECT_EQ(f.session.offset_page, c.offset == U ? 902 : c.offset);
    const std::string cleared = c.cleared;
    const Sections s;
    const bool fw = cleared.find("fw") != std::string::npos;
    const bool fpga = cleared.find("fpga") != std::string::npos;
    const bool cg = cleared.find("cg") != std::string::npos;
    EXPECT_EQ(f.session.start_fw, fw ? 0 : s.start_fw);
    EXPECT_EQ(f.session.end_fw, fw ? 0 : s.end_fw);
    EXPECT_EQ(f.session.start_FPGA, fpga ? 0 : s.start_FPGA);
    EXPECT_EQ(f.session.end_FPGA, fpga ? 0 : s.end_FPGA);
    EXPECT_EQ(f.session.start_cg, cg ? 0 : s.start_cg);
    EXPECT_EQ(f.session.end_cg, cg ? 0 : s.end_cg);
}

TEST(SetBeginEndPage, RowsForEveryModel) {
    for (const RangeCase& c : cases) {
        for (int model = 1; model <= 6; ++model) {
            if (c.model != 0 && c.model != model)
                continue;
            ImageFixture f;
            expect_range(f, c.flags, model, c);
        }
    }
    for (uint16_t flags : fpga_rows) {
        for (int model = 1; model <= 5; ++model) {
            ImageFixture f;
            expect_range(f, flags, model, {flags, model, U, U, U, "", NO_RANGE});
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
        {SEND_FW | SEND_CG, 6,
         "[FLASH][set_BeginEndPage] SEND_FW+CG - file begin page=20 file end page=60 file "
         "offset page=0\n"},
        {SEND_BOOT, 3,
         "[FLASH][set_BeginEndPage] SEND_BOOT file begin page=900 file end page=901 file "
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
        load(f, c.model);
        set_transfer_range(f.session, f.report, c.flags);
        EXPECT_EQ(f.trace(), c.line);
    }
}

// Model 5's fixed ranges: the CG row reads from image page 156.
TEST(SetBeginEndPage, Model5CgFromFixedSections) {
    ImageFixture f;
    load(f, 5, {4, 155, 0, 0, 160, 36});
    set_transfer_range(f.session, f.report, SEND_CG);
    EXPECT_EQ(f.session.begin_page, 160u);
    EXPECT_EQ(f.session.end_page, 36u);
    EXPECT_EQ(f.session.offset_page, 156u);
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
        {SEND_FPGA, 6, {4, 10, 0, 20, 21, 30}, 4, 20},
        {SEND_FPGA | SEND_CG, 6, {4, 10, 2, 20, 21, 79}, 4, 79},
        {SEND_FW | SEND_CG, 2, {0, 0, 0, 0, 0, 79}, 16, 79},  // model 2: firmware from page 16
    };
    for (const auto& c : cases) {
        ImageFixture f;
        load(f, c.model, c.sections);
        EXPECT_EQ(set_transfer_range(f.session, f.report, c.flags), 1);
        EXPECT_EQ(f.session.begin_page, c.begin);
        EXPECT_EQ(f.session.end_page, c.end);
        EXPECT_LE(f.session.offset_page, f.session.begin_page);
        EXPECT_EQ(f.session.offset_page, c.model == 2 && c.begin == 16 ? 16u : 0u);
    }
}

// A row without a range for the model must not send whatever range was left from before:
// a silent model-5 run with firmware and CG would otherwise write image page 0 into flash
// page 0, the boot area, and report success.
TEST(SetBeginEndPage, NoRangeForTheModelIsRefusedAndTraced) {
    const struct {
        int model;
        uint16_t flags;
        const char* line;
    } cases[] = {
        {5, SEND_FW | SEND_CG,
         "[FLASH][set_BeginEndPage] No page range for model 5 and send mode 0x6 !\n"},
        {5, SEND_FW | SEND_CG | KEEP_SETTINGS,
         "[FLASH][set_BeginEndPage] No page range for model 5 and send mode 0xe !\n"},
        {1, SEND_BOOT, "[FLASH][set_BeginEndPage] No page range for model 1 and send mode 0x1 !\n"},
        {2, SEND_FW | SEND_FPGA,
         "[FLASH][set_BeginEndPage] No page range for model 2 and send mode 0x12 !\n"},
        {3, SEND_FW | SEND_FPGA | SEND_CG,
         "[FLASH][set_BeginEndPage] No page range for model 3 and send mode 0x16 !\n"},
        {0, SEND_FW, "[FLASH][set_BeginEndPage] No page range for model 0 and send mode 0x2 !\n"},
        {7, SEND_FW_1STPAGE,
         "[FLASH][set_BeginEndPage] No page range for model 7 and send mode 0x4000 !\n"},
    };
    for (const auto& c : cases) {
        ImageFixture f;
        f.session.printer_model = c.model;  // the construction's range: pages 0 to 0
        EXPECT_EQ(set_transfer_range(f.session, f.report, c.flags), 0) << c.line;
        EXPECT_EQ(f.trace(), c.line);
        EXPECT_EQ(f.session.begin_page, 0u);
        EXPECT_EQ(f.session.end_page, 0u);
        EXPECT_EQ(f.session.offset_page, 0u);
    }
}

// What the context holds after a step's image check: the fields it set, stale values in the
// others.
SectionPages given_or_stale(const SectionPages& from, uint8_t gives, uint16_t stale) {
    auto pick = [&](uint8_t bit, uint16_t value) { return (gives & bit) ? value : stale; };
    return {pick(GIVES_START_FW, from.start_fw),     pick(GIVES_END_FW, from.end_fw),
            pick(GIVES_START_FPGA, from.start_FPGA), pick(GIVES_END_FPGA, from.end_FPGA),
            pick(GIVES_START_CG, from.start_cg),     pick(GIVES_END_CG, from.end_cg)};
}

// Over every combination of send-mode bits: a range reads only section fields that the
// step's image check set, and the boot check's range is kept only where that check sets one.
TEST(SelectPageRange, NeverBuildsOnFieldsTheImageLeftUnset) {
    constexpr uint16_t STALE = 0x7777;
    const uint16_t bits[] = {SEND_BOOT, SEND_FW,         SEND_CG,  KEEP_SETTINGS,
                             SEND_FPGA, SEND_FW_1STPAGE, SEND_FREE};
    for (int model = 1; model <= 6; ++model) {
        const auto fw_image = test::make_image(model, vximage::Kind::fw);
        const FwLayout fw = check_fw_image(fw_image.data(), fw_image.size(), model);
        ASSERT_EQ(fw.outcome.fault, ImageFault::none);
        BootLayout boot;
        if (model != 1) {
            const auto boot_image = test::make_image(model, vximage::Kind::boot);
            boot = check_boot_image(boot_image.data(), boot_image.size(), model);
            ASSERT_EQ(boot.outcome.fault, ImageFault::none);
        }
        const SectionPages after_boot = given_or_stale(
            {boot.start_fw, boot.end_fw}, boot.gives_fw ? GIVES_START_FW | GIVES_END_FW : 0, STALE);
        const SectionPages after_fw = given_or_stale(fw.sections, fw.gives, STALE);
        for (unsigned combo = 0; combo < (1u << std::size(bits)); ++combo) {
            uint16_t flags = 0;
            for (size_t b = 0; b < std::size(bits); ++b) {
                if (combo & (1u << b))
                    flags |= bits[b];
            }
            SCOPED_TRACE(testing::Message()
                         << "model " << model << " flags 0x" << std::hex << flags);
            const PageRange r =
                select_page_range(model, flags, (flags & SEND_BOOT) ? after_boot : after_fw);
            if (r.status == RangeStatus::range) {
                EXPECT_NE(r.begin_page, STALE);
                EXPECT_NE(r.end_page, STALE);
                EXPECT_LE(r.offset_page, r.begin_page);
            }
            if (r.status == RangeStatus::boot_check) {
                EXPECT_TRUE(boot.gives_range);
            }
            EXPECT_EQ(r.status == RangeStatus::no_row, r.row == RangeRow::none);
        }
    }
}

}  // namespace
