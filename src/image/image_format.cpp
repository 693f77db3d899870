#include "image/image_format.h"

#include <cstring>

namespace vx {

uint32_t page_of(uint32_t x) {
    if ((x & 0xFFFFu) == 0)
        return x / 16384u;
    // Last page of the 64 KiB block; written without rounding up so 0xFFFFFFFF cannot wrap.
    return (x >> 16) * 4u + 3u;
}

uint16_t file_checksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i)
        sum += data[i];
    return uint16_t(sum);
}

namespace {
bool trailer_at(const uint8_t* data, size_t i) {
    return std::memcmp(data + i, layout::TRAILER_TEXT, layout::TRAILER_TEXT_SIZE) == 0;
}
}  // namespace

uint32_t count_crc_trailers(const uint8_t* data, size_t size) {
    if (size < layout::TRAILER_TEXT_SIZE)
        return 0;
    uint32_t count = 0;
    for (size_t i = 0; i + layout::TRAILER_TEXT_SIZE <= size; ++i) {
        if (trailer_at(data, i))
            ++count;
    }
    return count;
}

uint32_t find_crc_trailer(const uint8_t* data, size_t size, uint32_t n) {
    if (n == 0 || size < layout::TRAILER_TEXT_SIZE)
        return 0;
    for (size_t i = 0; i + layout::TRAILER_TEXT_SIZE <= size; ++i) {
        if (trailer_at(data, i) && --n == 0)
            return uint32_t(i + layout::TRAILER_SIZE);
    }
    return 0;
}

bool trailer_has_crc_text(const uint8_t* trailer) {
    size_t length = 0;
    while (length < layout::TRAILER_SIZE && trailer[length] != 0)
        ++length;
    for (size_t i = 0; i + 4 <= length; ++i) {
        if (std::memcmp(trailer + i, "CRC:", 4) == 0)
            return true;
    }
    return false;
}

namespace layout {

const char* fw_tag(int model) {
    switch (model) {
        case 3:
            return FW3_TAG;
        case 4:
            return FW4_TAG;
        default:
            return nullptr;
    }
}

const char* boot_tag(int model) {
    switch (model) {
        case 2:
            return BOOT2_TAG;
        case 3:
            return BOOT3_TAG;
        case 4:
            return BOOT4_TAG;
        case 5:
        case 6:
            return BOOT56_TAG;
        default:
            return nullptr;
    }
}

uint32_t boot_min_size(int model) {
    switch (model) {
        case 2:
            return BOOT2_MIN_SIZE;
        case 3:
        case 4:
            return BOOT34_MIN_SIZE;
        case 5:
        case 6:
            return BOOT56_MIN_SIZE;
        default:
            return 0;
    }
}

uint64_t max_image_size(int model) {
    constexpr uint64_t PAGE = 16384;
    switch (model) {
        case 1:
            return 256 * PAGE;
        case 3:
        case 4:
        case 5:
        case 6:
            return (65536 - IMAGE_FIRST_FLASH_PAGE) * PAGE;
        default:
            return 65536 * PAGE;
    }
}

}  // namespace layout
uint64_t image_digest(const uint8_t* data, size_t size) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

}  // namespace vx
