#include "image/image_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vx::page_of;

TEST(PageOf, BlockStartsAndEnds) {
    const struct {
        uint32_t address;
        uint32_t page;
    } cases[] = {
        {0x0, 0},
        {0x1, 3},
        {0xFFFF, 3},
        {0x10000, 4},
        {0x10001, 7},
        {0x12345, 7},
        {0x26FFFF, 155},
        {0x270000, 156},
        {0xFFFF0000, 0x3FFFC},
        {0xFFFFFFFF, 0x3FFFF},  // no wrap when rounding up
    };
    for (const auto& c : cases)
        EXPECT_EQ(page_of(c.address), c.page) << std::hex << c.address;
}

std::string bytes(const char* text, size_t n) {
    return std::string(text, n);
}
const uint8_t* u8(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(FileChecksum, SumsBytesModulo65536) {
    const std::string ff(300, '\xFF');  // 76500 = 0x12AD4
    EXPECT_EQ(vx::file_checksum(u8(ff), ff.size()), 0x2AD4);
    EXPECT_EQ(vx::file_checksum(u8(ff), 0), 0);
    const std::string a = "ab", b = "ba";  // order does not count
    EXPECT_EQ(vx::file_checksum(u8(a), 2), vx::file_checksum(u8(b), 2));
}

TEST(CrcTrailers, CountsAndFindsOnlyTwoSpacesCrcColon) {
    const struct {
        std::string data;
        uint32_t count;
        uint32_t first_end;  // find_crc_trailer(1)
        uint32_t third_end;  // find_crc_trailer(3)
    } cases[] = {
        {"", 0, 0, 0},
        {"  CRC", 0, 0, 0},             // shorter than the text
        {"  CRC:", 1, 8, 0},            // at the very end: counted, offset past 8 bytes
        {"xCRC:xx  CRC:ab", 1, 15, 0},  // "CRC:" without two spaces is not counted
        {"   CRC:", 1, 9, 0},           // three spaces: one position matches
        {"  CRC:..  CRC:..  CRC:..", 3, 8, 24},
        {"  CRC:..  CRC:..  CRC:..  CRC:..", 4, 8, 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(vx::count_crc_trailers(u8(c.data), c.data.size()), c.count);
        EXPECT_EQ(vx::find_crc_trailer(u8(c.data), c.data.size(), 1), c.first_end);
        EXPECT_EQ(vx::find_crc_trailer(u8(c.data), c.data.size(), 3), c.third_end);
        EXPECT_EQ(vx::find_crc_trailer(u8(c.data), c.data.size(), 0), 0u);
    }
}

TEST(CrcTrailers, TextSearchStopsAtZeroByte) {
    const struct {
        std::string trailer;
        bool found;
    } cases[] = {
        {bytes("  CRC:\x00\x00", 8), true},  // checksum bytes may be zero
        {bytes("xxxxCRC:", 8), true},        // anywhere within the 8 bytes
        {bytes("\0 CRC:ab", 8), false},      // zero byte first: an empty text
        {bytes(" \0CRC:ab", 8), false},     {bytes("  CRC\0ab", 8), false},
        {bytes("  crc:ab", 8), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vx::trailer_has_crc_text(u8(c.trailer)), c.found);
}

}  // namespace
