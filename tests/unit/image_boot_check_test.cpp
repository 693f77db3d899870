#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "image_fixture.h"

namespace {

using vx::ImageFault;
using vx::test::check_boot;
using vx::test::ImageFixture;
using vx::test::make_image;
using vximage::Breakage;
using vximage::Kind;

TEST(CheckBoot, ImagesPassExactlyTheirModels) {
    const std::set<int> accepted_by[] = {{}, {}, {2}, {3}, {4}, {5, 6}, {5, 6}};
    for (int made = 2; made <= 6; ++made) {
        const auto image = make_image(made, Kind::boot);
        for (int model = 1; model <= 6; ++model) {
            ImageFixture f;
            EXPECT_EQ(check_boot(f, model, image), accepted_by[made].count(model) ? 1 : 0)
                << "boot image for " << made << " checked as " << model;
        }
    }
}

TEST(CheckBoot, EachBrokenImageFailsForItsReason) {
    const struct {
        int model;
        Breakage breakage;
        ImageFault fault;
        const char* line;
    } cases[] = {
        {2, Breakage::tag, ImageFault::missing_tag, ""},
        {2, Breakage::short_file, ImageFault::too_short,
         "[FLASH][CheckBootFile] File too short for boot header ! size=65343 need=65344\n"},
        {3, Breakage::short_file, ImageFault::too_short,
         "[FLASH][CheckBootFile] File too short for boot header ! size=65378 need=65379\n"},
        {5, Breakage::short_file, ImageFault::too_short,
         "[FLASH][CheckBootFile] File too short for boot header ! size=65487 need=65488\n"},
        {3, Breakage::trailer, ImageFault::crc_text,
         "[FLASH][CheckBootFile] Invalid file CRC str !\n"},
        {6, Breakage::trailer, ImageFault::crc_text,
         "[FLASH][CheckBootFile] Invalid file CRC str !\n"},
        {4, Breakage::crc, ImageFault::crc_value, "[FLASH][CheckBootFile] Invalid CRC ("},
        {5, Breakage::crc, ImageFault::crc_value, "[FLASH][CheckBootFile] Invalid CRC ("},
        {3, Breakage::tag, ImageFault::tag, "[FLASH][CheckBootFile] Invalid boot TAG \n"},
        {6, Breakage::tag, ImageFault::tag, "[FLASH][CheckBootFile] Invalid boot TAG \n"},
        {4, Breakage::table, ImageFault::table, "[FLASH][CheckBootFile] Invalid Table \n"},
        {5, Breakage::strings, ImageFault::section_strings,
         "[FLASH][CheckBootFile] Invalid boot str \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "model " << c.model << " " << vximage::breakage_name(c.breakage));
        ImageFixture f;
        vx::CheckOutcome outcome;
        // An exactly sized copy: a read past its end shows up under the sanitizers.
        const auto built = make_image(c.model, Kind::boot, c.breakage);
        const std::vector<uint8_t> image(built.begin(), built.end());
        EXPECT_EQ(check_boot(f, c.model, image, &outcome), 0);
        EXPECT_EQ(outcome.fault, c.fault);
        if (*c.line) {
            EXPECT_NE(f.trace().find(c.line), std::string::npos) << f.trace();
        } else {
            EXPECT_EQ(f.trace(), "");
        }
    }
}

TEST(CheckBoot, Model1HasNoBootImage) {
    ImageFixture f;
    std::strcpy(f.session.boot_text_a, "old");
    EXPECT_EQ(check_boot(f, 1, make_image(3, Kind::boot)), 0);
    EXPECT_EQ(f.trace(), "[FLASH][CheckBootFile] UNKNOWN Printer model \n");
    EXPECT_STREQ(f.session.boot_text_a, "");  // cleared at the dispatch
}

TEST(CheckBoot, RangesByModel) {
    const struct {
        int model;
        uint32_t pages, start, end;
        uint32_t begin_page, end_page, max_page;
        const char* line;
    } cases[] = {
        {3, 4, 0x0, 0xFFFF, 0, 3, 8,
         "[FLASH][CheckBootFile] begin_page=0 endpage=3 offsetpage=0\n"},
        {4, 8, 0x10000, 0x1FFFF, 4, 7, 12,
         "[FLASH][CheckBootFile] begin_page=4 endpage=7 offsetpage=4\n"},
        // Models 5 and 6 read 16-bit addresses: 0x00010000 is start 0.
        {5, 8, 0x00010000, 0x0001FFFF, 0, 3, 12,
         "[FLASH][CheckBootFile] begin_page=0 endpage=3 offsetpage=0\n"},
        // Model 6 sends up to the image's last page whatever the end address says.
        {6, 8, 0x00010000, 0x1234, 0, 7, 8, "[FLASH][CheckBootFile] begin_page=0 endpage=7 \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        ImageFixture f;
        vximage::ImageRecipe recipe;
        recipe.model = c.model;
        recipe.kind = Kind::boot;
        recipe.pages = c.pages;
        recipe.boot_start = c.start;
        recipe.boot_end = c.end;
        ASSERT_EQ(check_boot(f, c.model, make_image(recipe)), 1);
        EXPECT_EQ(f.session.begin_page, c.begin_page);
        EXPECT_EQ(f.session.offset_page, c.begin_page);
        EXPECT_EQ(f.session.end_page, c.end_page);
        EXPECT_EQ(f.session.max_page, c.max_page);
        if (c.model == 6) {
            EXPECT_EQ(f.session.start_fw, c.begin_page);
            EXPECT_EQ(f.session.end_fw, c.end_page);
        }
        EXPECT_NE(f.trace().find(c.line), std::string::npos) << f.trace();
    }
}

TEST(CheckBoot, Model5ChecksumCoversOnlyTheFirst64K) {
    ImageFixture f;
    vximage::ImageRecipe recipe;
    recipe.model = 5;
    recipe.kind = Kind::boot;
    recipe.pages = 8;
    auto image = make_image(recipe);
    for (size_t i = 0xFFD0; i < image.size(); i += 1000)
        image[i] ^= 0xFF;
    EXPECT_EQ(check_boot(f, 5, image), 1);
}

TEST(CheckBoot, IdentificationTexts) {
    const struct {
        int model;
        const char* text;
        const char* shown;  // what the 9-byte field holds
    } cases[] = {
        {3, "V1.02", "V1.02"},
        {3, "12345678", "1234567"},  // no zero byte within 8: cut to 7
        {6, "ABCDEFGH", "ABCDEFG"},
        {2, "12345678", "12345678"},  // model 2 copies 8 bytes as they are
        {2, "AB", "AB"},
    };
    for (const auto& c : cases) {
        ImageFixture f;
        vximage::ImageRecipe recipe;
        recipe.model = c.model;
        recipe.kind = Kind::boot;
        recipe.text_a = c.text;
        recipe.text_b = "B";
        ASSERT_EQ(check_boot(f, c.model, make_image(recipe)), 1);
        EXPECT_STREQ(f.session.boot_text_a, c.shown);
        EXPECT_STREQ(f.session.boot_text_b, "B");
        EXPECT_EQ(f.session.boot_text_a[8], 0);
    }
}

TEST(CheckBoot, HeaderSizedFilesAreEnoughAndOneByteLessIsNot) {
    for (int model = 2; model <= 6; ++model) {
        const uint32_t need = vx::layout::boot_min_size(model);
        ImageFixture f;
        vx::CheckOutcome outcome;
        const std::vector<uint8_t> short_file(need - 1, 0x20);
        EXPECT_EQ(check_boot(f, model, short_file, &outcome), 0);
        EXPECT_EQ(outcome.fault, ImageFault::too_short) << model;
        const std::vector<uint8_t> exact(need, 0x20);
        check_boot(f, model, exact, &outcome);
        EXPECT_NE(outcome.fault, ImageFault::too_short) << model;
    }
    // A model-2 boot image cut right after its texts still passes.
    ImageFixture f;
    auto image = make_image(2, Kind::boot);
    image.resize(vx::layout::BOOT2_MIN_SIZE);
    image.shrink_to_fit();
    EXPECT_EQ(check_boot(f, 2, image), 1);
}

// A boot image may end inside a page. That page counts and is sent filled up with erased
// bytes, so no byte of the file is left behind while the run reports success; a model-6
// image of 0xFFD0 bytes would otherwise lose the page with its header and trailer.
TEST(CheckBootFile, PartialLastPageIsInTheRangeAndSent) {
    const struct {
        int model;
        uint32_t built_pages;
        size_t size;
        uint32_t max_page, end_page;
        const char* line;
    } cases[] = {
        {6, 4, 0xFFD0, 4, 3, "[FLASH][CheckBootFile] begin_page=0 endpage=3 \n"},
        {6, 8, 7 * 16384 + 1, 8, 7, "[FLASH][CheckBootFile] begin_page=0 endpage=7 \n"},
        {5, 4, 0xFFD0, 8, 3, "[FLASH][CheckBootFile] begin_page=0 endpage=3 offsetpage=0\n"},
        {3, 4, 0xFFF0, 8, 3, "[FLASH][CheckBootFile] begin_page=0 endpage=3 offsetpage=0\n"},
        {2, 16, 15 * 16384 + 1, 16, 15, ""},  // range 0-15 from the page range rows
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " size " << c.size);
        ImageFixture f;
        vximage::ImageRecipe recipe;
        recipe.model = c.model;
        recipe.kind = Kind::boot;
        recipe.pages = c.built_pages;
        recipe.boot_end = 0xFFFF;
        auto image = make_image(recipe);
        image.resize(c.size);
        if (c.model == 3) {  // its trailer closes the file
            const size_t at = c.size - vx::layout::TRAILER_SIZE;
            std::memcpy(&image[at], "  CRC:", 6);
            const uint16_t sum = vx::file_checksum(image.data(), at + 6);
            image[at + 6] = uint8_t(sum >> 8);
            image[at + 7] = uint8_t(sum);
        }
        f.dir->write("boot.bin", std::string(image.begin(), image.end()));
        std::snprintf(f.config.fw_filename, sizeof f.config.fw_filename, "boot.bin");
        f.session.printer_model = c.model;

        ASSERT_EQ(check_boot_file(f.session, f.report, f.fake.platform.files, f.config.fw_filename),
                  1);
        EXPECT_EQ(f.session.max_page, c.max_page);
        if (*c.line) {
            EXPECT_NE(f.trace().find(c.line), std::string::npos) << f.trace();
        }
        ASSERT_EQ(set_transfer_range(f.session, f.report, vx::SEND_BOOT), 1);
        EXPECT_EQ(f.session.end_page, c.end_page);
        EXPECT_LE(f.session.end_page, f.session.max_page);  // what the header accepts

        std::vector<uint8_t> loaded;
        const uint32_t size = load_image_for_transfer(f.session, f.report, f.fake.platform.files,
                                                      f.config.fw_filename, loaded);
        // What the transfer takes: whole pages, the range inside them, the last byte sent.
        const uint64_t file_pages = size / vx::PAGE_SIZE;
        const uint64_t sent_pages = f.session.end_page - f.session.begin_page + 1;
        EXPECT_LE(f.session.offset_page + sent_pages, file_pages);
        EXPECT_LE((c.size - 1) / vx::PAGE_SIZE, f.session.offset_page + sent_pages - 1);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), loaded.begin()));
    }
}

TEST(CheckBootFile, MissingFileLeavesOnlyATrace) {
    ImageFixture f;
    std::snprintf(f.config.fw_filename, sizeof f.config.fw_filename, "boot.bin");
    f.session.printer_model = 3;
    EXPECT_EQ(check_boot_file(f.session, f.report, f.fake.platform.files, f.config.fw_filename), 0);
    EXPECT_FALSE(f.dir->exists("KO.txt"));
    EXPECT_EQ(f.trace(),
              "[FLASH][CheckBootFile] Boot FileName = boot.bin\n"
              "[FLASH][CheckBootFile] Cannot open file = boot.bin\n");
    const auto image = make_image(3, Kind::boot);
    f.dir->write("boot.bin", std::string(image.begin(), image.end()));
    EXPECT_EQ(check_boot_file(f.session, f.report, f.fake.platform.files, f.config.fw_filename), 1);
}

}  // namespace
