#include <gtest/gtest.h>

#include <set>

#include "image/image_format.h"
#include "image_fixture.h"

namespace {

using vx::ImageFault;
using vx::test::check_fw;
using vx::test::ImageFixture;
using vx::test::make_image;
using vximage::Breakage;
using vximage::Kind;

// An image made for one model passes exactly these models' checks: model 5 takes any file
// with a good final trailer, model 6 any with exactly three trailers.
TEST(CheckFw, ImagesPassExactlyTheirModels) {
    const std::set<int> accepted_by[] = {{}, {1}, {2}, {3, 5}, {4, 5}, {5}, {5, 6}};
    for (int made = 1; made <= 6; ++made) {
        const auto image = make_image(made, Kind::fw);
        for (int model = 1; model <= 6; ++model) {
            ImageFixture f;
            EXPECT_EQ(check_fw(f, model, image), accepted_by[made].count(model) ? 1 : 0)
                << "image for " << made << " checked as " << model;
        }
    }
}

TEST(CheckFw, EachBrokenImageFailsForItsReason) {
    const struct {
        int model;
        Breakage breakage;
        ImageFault fault;
        const char* line;  // trace line the failure leaves, "" for none
    } cases[] = {
        {1, Breakage::tag, ImageFault::missing_tag, ""},
        {1, Breakage::size, ImageFault::size_not_pages,
         "[FLASH][CheckFwFile] Invalid FileSize !\n"},
        {2, Breakage::tag, ImageFault::missing_tag, ""},
        {2, Breakage::short_file, ImageFault::too_short,
         "[FLASH][CheckFwFile] File too short for fw TAG ! pages=16\n"},
        {3, Breakage::crc, ImageFault::crc_value, "[FLASH][CheckFwFile] Invalid CRC ("},
        {3, Breakage::trailer, ImageFault::crc_text,
         "[FLASH][CheckFwFile] Invalid file CRC str !\n"},
        {3, Breakage::tag, ImageFault::tag, "[FLASH][CheckFwFile] Invalid fw TAG !\n"},
        {4, Breakage::tag, ImageFault::tag, "[FLASH][CheckFwFile] Invalid fw TAG !\n"},
        {3, Breakage::table, ImageFault::table, "[FLASH][CheckFwFile] Invalid table !\n"},
        {4, Breakage::strings, ImageFault::section_strings,
         "[FLASH][CheckFwFile] Invalid Inifw str !\n"},
        {3, Breakage::gc, ImageFault::gc_string, "[FLASH][CheckFwFile] Invalid gc ini str !\n"},
        {5, Breakage::crc, ImageFault::crc_value, "[FLASH][CheckFwFile] Invalid CRC ("},
        {5, Breakage::size, ImageFault::size_not_pages,
         "[FLASH][CheckFwFile] Invalid FileSize !\n"},
        {6, Breakage::trailer, ImageFault::trailer_count,
         "[FLASH][CheckFwFile] Invalid number of CRC \n"},
        {6, Breakage::extra_trailer, ImageFault::trailer_count,
         "[FLASH][CheckFwFile] Invalid number of CRC \n"},
        {6, Breakage::crc, ImageFault::crc_value, "[FLASH][CheckFwFile] Invalid CRC ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "model " << c.model << " " << vximage::breakage_name(c.breakage));
        ImageFixture f;
        vx::CheckOutcome outcome;
        EXPECT_EQ(check_fw(f, c.model, make_image(c.model, Kind::fw, c.breakage), &outcome), 0);
        EXPECT_EQ(outcome.fault, c.fault);
        if (*c.line) {
            EXPECT_NE(f.trace().find(c.line), std::string::npos) << f.trace();
        } else {
            EXPECT_EQ(f.trace(), "");
        }
    }
}

TEST(CheckFw, CrcLineGivesComputedThenStored) {
    ImageFixture f;
    auto image = make_image(3, Kind::fw);
    const uint16_t stored = vx::read_be16(&image[image.size() - 2]);
    image[image.size() - 1] ^= 1;
    vx::CheckOutcome outcome;
    EXPECT_EQ(check_fw(f, 3, image, &outcome), 0);
    const std::string expected = "[FLASH][CheckFwFile] Invalid CRC (" + std::to_string(stored) +
                                 " " + std::to_string(stored ^ 1) + ")\n";
    EXPECT_NE(f.trace().find(expected), std::string::npos) << f.trace();
}

TEST(CheckFw, AnyChangedByteButTheLastTwoFailsTheChecksumAndASwapDoesNot) {
    const auto image = make_image(4, Kind::fw);
    for (size_t at : {size_t(100), image.size() / 2, image.size() - 8}) {
        ImageFixture f;
        auto changed = image;
        changed[at] ^= 0x40;
        vx::CheckOutcome outcome;
        EXPECT_EQ(check_fw(f, 4, changed, &outcome), 0);
        EXPECT_EQ(outcome.fault, ImageFault::crc_value) << at;
    }
    ImageFixture f;
    auto swapped = image;
    std::swap(swapped[200], swapped[30000]);
    EXPECT_EQ(check_fw(f, 4, swapped), 1);
}

TEST(CheckFw, TaggedImageSetsSectionsAndLimits) {
    ImageFixture f;
    vximage::ImageRecipe recipe;
    recipe.model = 3;
    recipe.pages = 100;
    recipe.fw_start = 0x10000;
    recipe.fw_end = 0x26FFFF;
    recipe.cg_start = 0x270000;
    f.session.offset_page = 7;
    EXPECT_EQ(check_fw(f, 3, make_image(recipe)), 1);
    EXPECT_EQ(f.session.start_fw, 4);
    EXPECT_EQ(f.session.end_fw, 155);
    EXPECT_EQ(f.session.start_cg, 156);
    EXPECT_EQ(f.session.end_cg, 103);
    EXPECT_EQ(f.session.max_page, 104u);
    const std::string trace = f.trace();
    for (const char* line : {
             "[FLASH][_4ByteToPage] Array[00 01 00 00] -> Page=4 \n",
             "[FLASH][_4ByteToPage] Array[00 26 ff ff] -> Page=155 \n",
             "[FLASH][CheckFwFile] start_fw=4 end_fw=155 offset=7\n",
             "[FLASH][_4ByteToPage] Array[00 27 00 00] -> Page=156 \n",
             "[FLASH][CheckFwFile] start_cg=156 end_cg=103\n",
         }) {
        EXPECT_NE(trace.find(line), std::string::npos) << line << trace;
    }
}

TEST(CheckFw, PageFieldsWrapAt16Bits) {
    ImageFixture f;
    vximage::ImageRecipe recipe;
    recipe.model = 4;
    recipe.fw_start = 0x40000000;  // page 0x10000
    recipe.fw_end = 0xFFFFFFFF;    // page 0x3FFFF
    recipe.cg_start = 0x40010000;  // page 0x10004
    EXPECT_EQ(check_fw(f, 4, make_image(recipe)), 1);
    EXPECT_EQ(f.session.start_fw, 0);
    EXPECT_EQ(f.session.end_fw, 0xFFFF);
    EXPECT_EQ(f.session.start_cg, 4);

    ImageFixture g;  // SEND_FREE range of model 5 keeps the low 16 bits
    g.config.send_mode = vx::SEND_FREE;
    g.session.begin_page = 0x12345;
    g.session.end_page = 0x1FFFF;
    EXPECT_EQ(check_fw(g, 5, make_image(5, Kind::fw)), 1);
    EXPECT_EQ(g.session.start_fw, 0x2345);
    EXPECT_EQ(g.session.end_fw, 0xFFFF);
}

TEST(CheckFw, UntaggedModel5UsesFixedRangesUnlessFree) {
    const struct {
        uint16_t send_mode;
        uint16_t start_fw, end_fw;
    } cases[] = {
        {vx::SEND_FW, 4, 155},
        {vx::SEND_FREE | vx::SEND_FW, 4, 155},  // only exactly SEND_FREE takes the ini range
        {vx::SEND_FREE, 10, 20},
    };
    for (const auto& c : cases) {
        ImageFixture f;
        f.config.send_mode = c.send_mode;
        f.session.begin_page = 10;
        f.session.end_page = 20;
        ASSERT_EQ(check_fw(f, 5, make_image(5, Kind::fw)), 1);
        EXPECT_EQ(f.session.start_fw, c.start_fw);
        EXPECT_EQ(f.session.end_fw, c.end_fw);
        EXPECT_EQ(f.session.start_cg, 160);
        EXPECT_EQ(f.session.end_cg, 36);
        EXPECT_EQ(f.session.max_page, 36u);  // 32 pages + 4
    }
}

TEST(CheckFw, ThreeSectionImageEndsWhereTrailersEnd) {
    const struct {
        uint32_t first_trailer_end;  // file offset just past the firmware trailer
        uint16_t end_fw;
    } cases[] = {{0x20000, 11}, {0x1F000, 10}, {0x10, 6}};
    for (const auto& c : cases) {
        ImageFixture f;
        vximage::ImageRecipe recipe;
        recipe.model = 6;
        recipe.pages = 40;
        recipe.fw_end = 0x10000 + c.first_trailer_end - 1;
        recipe.fpga_end = 0x10000 + 0x40000 - 1;  // trailer ends at 0x40000: page 16 + 3
        ASSERT_EQ(check_fw(f, 6, make_image(recipe)), 1);
        EXPECT_EQ(f.session.start_fw, 4);
        EXPECT_EQ(f.session.end_fw, c.end_fw);
        EXPECT_EQ(f.session.start_FPGA, c.end_fw + 1);
        EXPECT_EQ(f.session.end_FPGA, 19);
        EXPECT_EQ(f.session.start_cg, 20);
        EXPECT_EQ(f.session.end_cg,
                  43);  // trailer at the end of 40 pages: page_of(0xA0000) + 3
        EXPECT_EQ(f.session.max_page, 43u);
        EXPECT_NE(f.trace().find("[FLASH][CheckFwFile] FW CRC OFFSET=" +
                                 std::to_string(c.first_trailer_end) + "\n"),
                  std::string::npos);
    }
}

TEST(CheckFw, Model2SetsCgEndFromPageCount) {
    ImageFixture f;
    f.session.start_fw = 77;  // not this model's field: kept
    EXPECT_EQ(check_fw(f, 2, make_image(2, Kind::fw)), 1);
    EXPECT_EQ(f.session.end_cg, 79);
    EXPECT_EQ(f.session.max_page, 80u);
    EXPECT_EQ(f.session.start_fw, 77);
}

TEST(CheckFw, UnknownModelAndEmptyImage) {
    const auto image = make_image(3, Kind::fw);
    for (int model : {0, 7, -1}) {
        ImageFixture f;
        vx::CheckOutcome outcome;
        EXPECT_EQ(check_fw(f, model, image, &outcome), 0);
        EXPECT_EQ(outcome.fault, ImageFault::unknown_model);
        EXPECT_EQ(f.trace(), "[FLASH][CheckFwFile] UNKNOWN PR MODEL !\n");
    }
    ImageFixture f;
    EXPECT_EQ(check_fw(f, 3, {}), 0);
    EXPECT_EQ(f.trace(), "[FLASH][CheckFwFile] Error dw_file_size = 0\n");
}

// Exactly-sized buffers let the sanitizers catch a read past the end.
TEST(CheckFw, SmallestFilesAreReadWithinBounds) {
    for (int model = 1; model <= 6; ++model) {
        ImageFixture f;
        std::vector<uint8_t> one_page(16384, ' ');
        EXPECT_EQ(check_fw(f, model, one_page), 0) << model;
    }
}

TEST(CheckFwFile, MissingFileIsReportedAsError6) {
    ImageFixture f;
    std::snprintf(f.config.fw_filename, sizeof f.config.fw_filename, "absent.bin");
    f.session.printer_model = 3;
    EXPECT_EQ(check_firmware_file(f.session, f.report, f.fake.platform.files, f.config.fw_filename,
                                  f.config.send_mode),
              0);
    EXPECT_EQ(f.ko(), "[Error 6] Cannot open firmware file = absent.bin .\n");
    const std::string trace = f.trace();
    EXPECT_EQ(trace.rfind("[FLASH][CheckFwFile] Firmware FileName = absent.bin\n"
                          "[FLASH][CheckFwFile] Cannot open file = absent.bin error=",
                          0),
              0u)
        << trace;
}

TEST(CheckFwFile, ReadsTheNamedFile) {
    ImageFixture f;
    const auto image = make_image(4, Kind::fw);
    f.dir->write("fw.bin", std::string(image.begin(), image.end()));
    std::snprintf(f.config.fw_filename, sizeof f.config.fw_filename, "fw.bin");
    f.session.printer_model = 4;
    EXPECT_EQ(check_firmware_file(f.session, f.report, f.fake.platform.files, f.config.fw_filename,
                                  f.config.send_mode),
              1);
    EXPECT_EQ(f.session.max_page, 36u);
    EXPECT_FALSE(f.dir->exists("KO.txt"));
}

}  // namespace
