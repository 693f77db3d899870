// Layout of firmware and boot images: the page rule, the 16-bit file checksum, the "  CRC:"
// trailers, and the offsets and tags of every model. Shared by the checks and by vximage, so
// the tool builds exactly what the program accepts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vx {

// Flash page of a byte address: a 64 KiB-aligned address gives the page it starts, any other
// address the last page of the 64 KiB block that holds it.
uint32_t page_of(uint32_t x);

// Sum of the bytes modulo 65536.
uint16_t file_checksum(const uint8_t* data, size_t length);

// Positions at which the six bytes "  CRC:" begin.
uint32_t count_crc_trailers(const uint8_t* data, size_t size);

// Offset just past the n-th trailer (n counted from 1), 0 when there is none.
uint32_t find_crc_trailer(const uint8_t* data, size_t size, uint32_t n);

// True when "CRC:" occurs in the 8 bytes at `trailer` before the first zero byte.
bool trailer_has_crc_text(const uint8_t* trailer);

// Pages of `size` bytes, a partial last page counted whole.
inline uint64_t pages_rounded_up(uint64_t size) {
    return size / 16384u + (size % 16384u != 0 ? 1u : 0u);
}

// Big-endian 16 and 32-bit reads.
inline uint16_t read_be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
inline uint32_t read_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// A fixed-size text field up to its first zero byte (all of it when there is none).
inline std::string bounded_text(const char* field, size_t capacity) {
    return std::string(field, std::find(field, field + capacity, '\0'));
}

namespace layout {

constexpr uint32_t TRAILER_SIZE = 8;
constexpr char TRAILER_TEXT[] = "  CRC:";  // 6 bytes, then the checksum high and low byte
constexpr uint32_t TRAILER_TEXT_SIZE = 6;

// What a partial last page is filled up with before it is sent: an erased flash byte.
constexpr uint8_t ERASED_BYTE = 0xFF;

// Images of models 3 to 6 start at flash page 4.
constexpr uint32_t IMAGE_FIRST_FLASH_PAGE = 4;

// ---- firmware images ----
constexpr uint32_t FW1_TAG_OFFSET = 0x70;
constexpr char FW1_TAG[] = "FLASH";
constexpr uint32_t FW1_TAG_SIZE = 5;

constexpr uint32_t FW2_TAG_OFFSET = 0x40000;
constexpr char FW2_TAG[] = "FW_VX3EPLUS";
constexpr uint32_t FW2_TAG_SIZE = 11;

constexpr char FW3_TAG[] = "FW_VX3PLUS";
constexpr char FW4_TAG[] = "FW_VX3PLUS_SC";
constexpr uint32_t FW_HEADER_SIZE = 94;
constexpr uint32_t FW_TABLE_OFFSET = 40;
constexpr char TABLE_TEXT[] = "SECTION TBL:";
constexpr uint32_t TABLE_TEXT_SIZE = 12;
constexpr uint32_t FW_INI_TEXT_OFFSET = 56;
constexpr uint32_t FW_INI_ADDR_OFFSET = 62;
constexpr uint32_t FW_END_TEXT_OFFSET = 66;
constexpr uint32_t FW_END_ADDR_OFFSET = 72;
constexpr uint32_t GC_INI_TEXT_OFFSET = 76;
constexpr uint32_t GC_INI_ADDR_OFFSET = 82;
constexpr char FW_INI_TEXT[] = "FW i: ";
constexpr char FW_END_TEXT[] = "FW e: ";
constexpr char GC_INI_TEXT[] = "GC i: ";
constexpr uint32_t SECTION_TEXT_SIZE = 6;

// Model 5 firmware: fixed ranges.
constexpr uint16_t FW5_START_FW = 4;
constexpr uint16_t FW5_END_FW = 155;
constexpr uint16_t FW5_START_CG = 160;
constexpr uint16_t FW5_END_CG = 36;

constexpr uint32_t FW6_TRAILERS = 3;

// ---- boot images ----
constexpr uint32_t BOOT_HEADER_OFFSET = 0xFF00;
constexpr uint32_t BOOT_HEADER_SIZE = 99;
constexpr uint32_t BOOT_TEXT_A_OFFSET = 0xFF20;
constexpr uint32_t BOOT_TEXT_B_OFFSET = 0xFF28;
constexpr uint32_t BOOT_TEXT_SIZE = 8;
constexpr uint32_t BOOT_TABLE_OFFSET = 0xFF30;
constexpr uint32_t BOOT_INI_TEXT_OFFSET = 0xFF40;
constexpr uint32_t BOOT_INI_ADDR_OFFSET = 0xFF48;
constexpr uint32_t BOOT_END_TEXT_OFFSET = 0xFF4C;
constexpr uint32_t BOOT_END_ADDR_OFFSET = 0xFF54;
constexpr char BOOT_INI_TEXT[] = "Boot i: ";
constexpr char BOOT_END_TEXT[] = "Boot e: ";
constexpr uint32_t BOOT_SECTION_TEXT_SIZE = 8;

constexpr char BOOT2_TAG[] = "BOOT_VX3EPLUS";
constexpr uint32_t BOOT2_TAG_SIZE = 13;
constexpr uint32_t BOOT2_TEXT_A_OFFSET = 0xFF30;
constexpr uint32_t BOOT2_TEXT_B_OFFSET = 0xFF38;
constexpr char BOOT3_TAG[] = "BOOT_VX3PLUS";
constexpr char BOOT4_TAG[] = "BOOT_VX3PLUS_SC";
constexpr char BOOT56_TAG[] = "BOOT_VX3PLUS_ADF";

// Models 5 and 6 keep their trailer inside the first 64 KiB.
constexpr uint32_t BOOT56_TRAILER_OFFSET = 0xFFC8;

// Smallest boot files that hold everything the check reads.
constexpr uint32_t BOOT2_MIN_SIZE = 0xFF40;
constexpr uint32_t BOOT34_MIN_SIZE = BOOT_HEADER_OFFSET + BOOT_HEADER_SIZE;  // 0xFF63
constexpr uint32_t BOOT56_MIN_SIZE = BOOT56_TRAILER_OFFSET + TRAILER_SIZE;   // 0xFFD0

// The firmware tag of a tagged image (models 3 and 4), null otherwise.
const char* fw_tag(int model);
// The boot tag of a model, null for model 1 and unknown models.
const char* boot_tag(int model);
// Smallest boot file the model's check can read, 0 for a model without boot images.
uint32_t boot_min_size(int model);

// Largest image of either kind for a model: as many 16 KiB pages as its header's page numbers
// can name (8 bits for model 1, 16 bits for the others, whose images begin at flash page 4
// from model 3 on). A model not yet known gets the widest bound. Larger files are refused
// before they are read.
uint64_t max_image_size(int model);

}  // namespace layout
// FNV-1a over the bytes: tells a file changed since its check from the one that was checked.
uint64_t image_digest(const uint8_t* data, size_t size);

}  // namespace vx
