// Images written byte by byte at literal offsets, with nothing taken from the program's
// layout constants or from vximage's builder: a wrong offset or tag in those cannot pass
// here just because the builder and the checker share it.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "image/image_check.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& b, size_t at, std::initializer_list<uint8_t> bytes) {
    for (uint8_t v : bytes)
        b.at(at++) = v;
}

// The text's characters; a terminator only where the literal spells one ("...\0").
void put(Bytes& b, size_t at, const std::string& text) {
    for (char c : text)
        b.at(at++) = uint8_t(c);
}

// "  CRC:" at `at`, then the 16-bit sum of every byte before the sum itself, high byte first.
void trailer(Bytes& b, size_t at) {
    put(b, at, {0x20, 0x20, 0x43, 0x52, 0x43, 0x3A});
    uint32_t sum = 0;
    for (size_t i = 0; i < at + 6; ++i)
        sum += b[i];
    put(b, at + 6, {uint8_t(sum >> 8), uint8_t(sum)});
}

// Filler that is not zero and spells no text the checks look for.
Bytes filled(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = uint8_t(0x41 + i % 23);
    return b;
}

// Models 3 and 4: firmware 0x10000-0x4FFFF (pages 4-19), CG from 0x50000 (page 20).
Bytes tagged_firmware(const std::string& tag_and_zero) {
    Bytes b = filled(24 * 16384);
    put(b, 0, tag_and_zero);
    put(b, 40, "SECTION TBL:");
    put(b, 56, "FW i: ");
    put(b, 62, {0x00, 0x01, 0x00, 0x00});
    put(b, 66, "FW e: ");
    put(b, 72, {0x00, 0x04, 0xFF, 0xFF});
    put(b, 76, "GC i: ");
    put(b, 82, {0x00, 0x05, 0x00, 0x00});
    trailer(b, 24 * 16384 - 8);
    return b;
}

// Boot header of models 3 to 6 in the last 256 bytes of the first 64 KiB.
void boot_header(Bytes& b, const std::string& tag_and_zero, std::initializer_list<uint8_t> start,
                 std::initializer_list<uint8_t> end) {
    put(b, 0xFF00, std::string(99, '\0'));
    put(b, 0xFF00, tag_and_zero);
    put(b, 0xFF20, std::string("V1.02\0", 6));
    put(b, 0xFF28, std::string("ABCDEFGH", 8));  // no terminator: shown cut to 7
    put(b, 0xFF30, "SECTION TBL:");
    put(b, 0xFF40, "Boot i: ");
    put(b, 0xFF48, start);
    put(b, 0xFF4C, "Boot e: ");
    put(b, 0xFF54, end);
}

struct FwCase {
    const char* name;
    int model;
    Bytes image;
    uint32_t pages, max_page;
    uint8_t gives;
    vx::SectionPages s;
    uint32_t trailer_end[3];
};

TEST(LiteralLayout, FirmwareImagesOfEveryModel) {
    Bytes m1 = filled(2 * 16384);
    put(m1, 0x70, "FLASH");
    Bytes m2 = filled(17 * 16384);
    put(m2, 0x40000, "FW_VX3EPLUS");
    Bytes m5 = filled(3 * 16384);
    trailer(m5, 3 * 16384 - 8);
    // Model 6: trailers end at 0x10000, 0x20000 and the end of 16 pages (0x40000).
    Bytes m6 = filled(16 * 16384);
    put(m6, 0xFFF8, {0x20, 0x20, 0x43, 0x52, 0x43, 0x3A, 0x12, 0x34});  // sum not checked
    put(m6, 0x1FFF8, {0x20, 0x20, 0x43, 0x52, 0x43, 0x3A, 0x00, 0x00});
    trailer(m6, 0x3FFF8);

    const uint8_t fw_cg =
        vx::GIVES_START_FW | vx::GIVES_END_FW | vx::GIVES_START_CG | vx::GIVES_END_CG;
    const FwCase cases[] = {
        {"model 1", 1, m1, 2, 2, 0, {}, {}},
        {"model 2", 2, m2, 17, 17, vx::GIVES_END_CG, {0, 0, 0, 0, 0, 16}, {}},
        {"model 3",
         3,
         tagged_firmware(std::string("FW_VX3PLUS\0", 11)),
         24,
         28,
         fw_cg,
         {4, 19, 0, 0, 20, 27},
         {}},
        {"model 4",
         4,
         tagged_firmware(std::string("FW_VX3PLUS_SC\0", 14)),
         24,
         28,
         fw_cg,
         {4, 19, 0, 0, 20, 27},
         {}},
        {"model 5", 5, m5, 3, 7, fw_cg, {4, 155, 0, 0, 160, 36}, {}},
        {"model 6", 6, m6, 16, 19, 0x3F, {4, 7, 8, 11, 12, 19}, {0x10000, 0x20000, 0x40000}},
    };
    for (const FwCase& c : cases) {
        SCOPED_TRACE(c.name);
        const vx::FwLayout r = vx::check_fw_image(c.image.data(), c.image.size(), c.model);
        ASSERT_EQ(r.outcome.fault, vx::ImageFault::none);
        EXPECT_EQ(r.pages, c.pages);
        EXPECT_EQ(r.max_page, c.max_page);
        EXPECT_EQ(r.gives, c.gives);
        EXPECT_EQ(r.sections.start_fw, c.s.start_fw);
        EXPECT_EQ(r.sections.end_fw, c.s.end_fw);
        EXPECT_EQ(r.sections.start_FPGA, c.s.start_FPGA);
        EXPECT_EQ(r.sections.end_FPGA, c.s.end_FPGA);
        EXPECT_EQ(r.sections.start_cg, c.s.start_cg);
        EXPECT_EQ(r.sections.end_cg, c.s.end_cg);
        for (int n = 0; n < 3; ++n)
            EXPECT_EQ(r.trailer_end[n], c.trailer_end[n]);
    }
}

TEST(LiteralLayout, BootImagesOfEveryModel) {
    // Model 2: tag at 0xFF00, texts at 0xFF30 and 0xFF38, nothing after them needed.
    Bytes m2 = filled(0xFF40);
    put(m2, 0xFF00, "BOOT_VX3EPLUS");
    put(m2, 0xFF30, "BOOT-A-1");
    put(m2, 0xFF38, std::string("B\0\0\0\0\0\0\0", 8));
    // Model 3: boot 0x0-0xFFFF, trailer in the last 8 bytes of 5 pages.
    Bytes m3 = filled(5 * 16384);
    boot_header(m3, std::string("BOOT_VX3PLUS\0", 13), {0x00, 0x00, 0x00, 0x00},
                {0x00, 0x00, 0xFF, 0xFF});
    trailer(m3, 5 * 16384 - 8);
    // Model 4: boot 0x10000-0x1FFFF.
    Bytes m4 = filled(8 * 16384);
    boot_header(m4, std::string("BOOT_VX3PLUS_SC\0", 16), {0x00, 0x01, 0x00, 0x00},
                {0x00, 0x01, 0xFF, 0xFF});
    trailer(m4, 8 * 16384 - 8);
    // Models 5 and 6: trailer at 0xFFC8 whatever the size; the addresses' upper bytes do not
    // count. The smallest such file ends 0x30 bytes short of its fourth page.
    Bytes m5 = filled(0xFFD0);
    boot_header(m5, std::string("BOOT_VX3PLUS_ADF\0", 17), {0x00, 0x01, 0x00, 0x00},
                {0xAB, 0xCD, 0xFF, 0xFF});
    trailer(m5, 0xFFC8);
    Bytes m6 = filled(6 * 16384);
    boot_header(m6, std::string("BOOT_VX3PLUS_ADF\0", 17), {0x00, 0x01, 0x00, 0x00},
                {0x00, 0x00, 0x12, 0x34});
    trailer(m6, 0xFFC8);
    Bytes m6_short = m5;  // the same bytes, as a model-6 image

    const struct {
        const char* name;
        int model;
        const Bytes& image;
        const char *text_a, *text_b;
        bool gives_range;
        uint32_t pages, max_page, begin, last, offset;
    } cases[] = {
        {"model 2", 2, m2, "BOOT-A-1", "B", false, 4, 4, 0, 0, 0},
        {"model 3", 3, m3, "V1.02", "ABCDEFG", true, 5, 9, 0, 3, 0},
        {"model 4", 4, m4, "V1.02", "ABCDEFG", true, 8, 12, 4, 7, 4},
        {"model 5", 5, m5, "V1.02", "ABCDEFG", true, 4, 8, 0, 3, 0},
        {"model 6", 6, m6, "V1.02", "ABCDEFG", true, 6, 6, 0, 5, 0},
        // The page holding the header and trailer is part of the range.
        {"model 6, 0xFFD0 bytes", 6, m6_short, "V1.02", "ABCDEFG", true, 4, 4, 0, 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const vx::BootLayout r = vx::check_boot_image(c.image.data(), c.image.size(), c.model);
        ASSERT_EQ(r.outcome.fault, vx::ImageFault::none);
        EXPECT_STREQ(r.text_a, c.text_a);
        EXPECT_STREQ(r.text_b, c.text_b);
        EXPECT_EQ(r.gives_range, c.gives_range);
        EXPECT_EQ(r.pages, c.pages);
        EXPECT_EQ(r.max_page, c.max_page);
        EXPECT_EQ(r.begin_page, c.begin);
        EXPECT_EQ(r.last_page, c.last);
        EXPECT_EQ(r.offset_page, c.offset);
        EXPECT_EQ(r.gives_fw, c.model == 6);
        if (c.model == 6) {
            EXPECT_EQ(r.start_fw, c.begin);
            EXPECT_EQ(r.end_fw, c.last);
        }
    }
}

// The same images with one field a byte away from where it belongs are refused.
TEST(LiteralLayout, FieldsOneByteOffAreRefused) {
    Bytes m1 = filled(16384);
    put(m1, 0x71, "FLASH");
    EXPECT_EQ(vx::check_fw_image(m1.data(), m1.size(), 1).outcome.fault,
              vx::ImageFault::missing_tag);

    Bytes m3 = tagged_firmware(std::string("FW_VX3PLUS\0", 11));
    put(m3, 40, "xSECTION TBL:");
    trailer(m3, m3.size() - 8);
    EXPECT_EQ(vx::check_fw_image(m3.data(), m3.size(), 3).outcome.fault, vx::ImageFault::table);

    Bytes boot = filled(0xFFD0);
    boot_header(boot, std::string("BOOT_VX3PLUS_ADF\0", 17), {0, 0, 0, 0}, {0, 0, 0xFF, 0xFF});
    trailer(boot, 0xFFC7);  // one byte early: the stored sum is not where it is read
    EXPECT_NE(vx::check_boot_image(boot.data(), boot.size(), 6).outcome.fault,
              vx::ImageFault::none);
}

}  // namespace
