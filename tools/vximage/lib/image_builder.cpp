#include "image_builder.h"

#include <cstring>

#include "image/image_format.h"

namespace vximage {

namespace L = vx::layout;

namespace {

constexpr uint32_t PAGE = 16384;
constexpr uint32_t BLOCK = 0x10000;
// Flash address of file byte 0 in images of models 3 to 6.
constexpr uint32_t IMAGE_BASE = L::IMAGE_FIRST_FLASH_PAGE * PAGE;

uint64_t splitmix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void put_text(std::vector<uint8_t>& b, uint32_t offset, const char* text, size_t length) {
    std::memcpy(b.data() + offset, text, length);
}

void put_be32(std::vector<uint8_t>& b, uint32_t offset, uint32_t value) {
    b[offset] = uint8_t(value >> 24);
    b[offset + 1] = uint8_t(value >> 16);
    b[offset + 2] = uint8_t(value >> 8);
    b[offset + 3] = uint8_t(value);
}

// A trailer closing the bytes before `offset` (offset is where the trailer begins); its
// checksum covers everything before its own two checksum bytes.
void put_trailer(std::vector<uint8_t>& b, uint32_t offset) {
    put_text(b, offset, L::TRAILER_TEXT, L::TRAILER_TEXT_SIZE);
    const uint16_t sum = vx::file_checksum(b.data(), offset + L::TRAILER_TEXT_SIZE);
    b[offset + 6] = uint8_t(sum >> 8);
    b[offset + 7] = uint8_t(sum);
}

void put_field_text(std::vector<uint8_t>& b, uint32_t offset, const std::string& text) {
    std::memset(b.data() + offset, 0, L::BOOT_TEXT_SIZE);
    std::memcpy(b.data() + offset, text.data(), text.size());
}

struct Built {
    std::vector<uint8_t>& b;
    uint32_t final_trailer = 0;  // offset of the checksum trailer, 0 when none
    bool has_checksum = false;
};

std::string not_for(Breakage what, const ImageRecipe& s) {
    return std::string("--break ") + breakage_name(what) + " does not apply to a " +
           (s.kind == Kind::fw ? "firmware" : "boot") + " image of model " +
           std::to_string(s.model);
}

std::string build_fw(const ImageRecipe& s, uint32_t pages, Built& out) {
    std::vector<uint8_t>& b = out.b;
    const uint32_t size = pages * PAGE;
    const Breakage brk = s.breakage;
    switch (s.model) {
        case 1:
            if (brk == Breakage::tag) {
                put_text(b, L::FW1_TAG_OFFSET, "FLASX", L::FW1_TAG_SIZE);
            } else if (brk == Breakage::none || brk == Breakage::size) {
                put_text(b, L::FW1_TAG_OFFSET, L::FW1_TAG, L::FW1_TAG_SIZE);
            } else {
                return not_for(brk, s);
            }
            return {};
        case 2:
            if (brk == Breakage::short_file)
                return {};  // 16 pages: no room for the tag
            if (pages < 17)
                return "a model-2 firmware image needs at least 17 pages";
            if (brk == Breakage::tag) {
                put_text(b, L::FW2_TAG_OFFSET, "FW_VX3EPLUZ", L::FW2_TAG_SIZE);
            } else if (brk == Breakage::none || brk == Breakage::size) {
                put_text(b, L::FW2_TAG_OFFSET, L::FW2_TAG, L::FW2_TAG_SIZE);
            } else {
                return not_for(brk, s);
            }
            return {};
        case 3:
        case 4: {
            const uint32_t blocks = pages / 8 ? pages / 8 : 1;
            const uint32_t fw_start = s.fw_start.value_or(IMAGE_BASE);
            const uint32_t fw_end = s.fw_end.value_or(IMAGE_BASE + blocks * BLOCK - 1);
            const uint32_t cg_start = s.cg_start.value_or(fw_end + 1);
            std::memset(b.data(), 0, L::FW_HEADER_SIZE);
            const char* tag = L::fw_tag(s.model);
            put_text(b, 0, tag, std::strlen(tag) + 1);
            if (brk == Breakage::tag)
                b[std::strlen(tag) - 1] ^= 0x20;  // case of the last letter
            put_text(b, L::FW_TABLE_OFFSET, L::TABLE_TEXT, L::TABLE_TEXT_SIZE);
            if (brk == Breakage::table)
                b[L::FW_TABLE_OFFSET] = 'X';
            put_text(b, L::FW_INI_TEXT_OFFSET, L::FW_INI_TEXT, L::SECTION_TEXT_SIZE);
            if (brk == Breakage::strings)
                b[L::FW_INI_TEXT_OFFSET] = 'X';
            put_be32(b, L::FW_INI_ADDR_OFFSET, fw_start);
            put_text(b, L::FW_END_TEXT_OFFSET, L::FW_END_TEXT, L::SECTION_TEXT_SIZE);
            put_be32(b, L::FW_END_ADDR_OFFSET, fw_end);
            put_text(b, L::GC_INI_TEXT_OFFSET, L::GC_INI_TEXT, L::SECTION_TEXT_SIZE);
            if (brk == Breakage::gc)
                b[L::GC_INI_TEXT_OFFSET] = 'X';
            put_be32(b, L::GC_INI_ADDR_OFFSET, cg_start);
            break;
        }
        case 5:
            if (brk == Breakage::tag)
                return not_for(brk, s);
            break;
        case 6: {
            if (s.cg_start)
                return "model-6 firmware: the CG section follows the FPGA section";
            const uint32_t third = pages / 12 ? pages / 12 : 1;
            const uint32_t fw_end = s.fw_end.value_or(IMAGE_BASE + third * BLOCK - 1);
            const uint32_t fpga_end = s.fpga_end.value_or(fw_end + third * BLOCK);
            if (fw_end < IMAGE_BASE + L::TRAILER_SIZE - 1 || fpga_end < fw_end + L::TRAILER_SIZE ||
                uint64_t(fpga_end) - IMAGE_BASE + 1 + L::TRAILER_SIZE > size) {
                return "model-6 firmware: the sections do not fit: firmware must end at or above "
                       "0x10007, the FPGA section at least 8 bytes later, and the CG section "
                       "needs 8 bytes before the end of the file";
            }
            if (brk == Breakage::tag)
                return not_for(brk, s);
            const uint32_t t1 = fw_end - IMAGE_BASE + 1 - L::TRAILER_SIZE;
            const uint32_t t2 = fpga_end - IMAGE_BASE + 1 - L::TRAILER_SIZE;
            // Nothing before a section trailer changes later, so its checksum is final here.
            put_trailer(b, t1);
            put_trailer(b, t2);
            if (brk == Breakage::trailer)
                std::memset(b.data() + t1, 0, L::TRAILER_SIZE);
            if (brk == Breakage::extra_trailer) {
                const uint32_t middle = t2 + L::TRAILER_SIZE + (size - t2) / 2;
                if (middle + 2 * L::TRAILER_SIZE > size)
                    return "model-6 firmware: CG too small";
                put_trailer(b, middle);
            }
            break;
        }
        default:
            return "firmware images exist for models 1 to 6";
    }
    if (s.model >= 3) {
        if (brk == Breakage::trailer && s.model != 6) {
            std::memset(b.data() + size - L::TRAILER_SIZE, 0, L::TRAILER_SIZE);
            return {};
        }
        if ((brk == Breakage::table || brk == Breakage::strings || brk == Breakage::gc) &&
            s.model > 4) {
            return not_for(brk, s);
        }
        if (brk == Breakage::extra_trailer && s.model != 6)
            return not_for(brk, s);
        out.final_trailer = size - L::TRAILER_SIZE;
        out.has_checksum = true;
    }
    return {};
}

std::string build_boot(const ImageRecipe& s, uint32_t pages, Built& out) {
    std::vector<uint8_t>& b = out.b;
    const uint32_t size = pages * PAGE;
    const Breakage brk = s.breakage;
    if (s.model < 2 || s.model > 6)
        return "boot images exist for models 2 to 6";
    if (size < L::boot_min_size(s.model)) {
        return "a boot image needs at least 4 pages";
    }
    if (s.text_a.size() > L::BOOT_TEXT_SIZE || s.text_b.size() > L::BOOT_TEXT_SIZE) {
        return "identification texts have at most 8 characters";
    }
    const char* tag = L::boot_tag(s.model);
    if (s.model == 2) {
        if (brk != Breakage::none && brk != Breakage::tag && brk != Breakage::short_file) {
            return not_for(brk, s);
        }
        put_text(b, L::BOOT_HEADER_OFFSET, tag, L::BOOT2_TAG_SIZE);
        if (brk == Breakage::tag)
            b[L::BOOT_HEADER_OFFSET] = 'X';
        put_field_text(b, L::BOOT2_TEXT_A_OFFSET, s.text_a);
        put_field_text(b, L::BOOT2_TEXT_B_OFFSET, s.text_b);
        return {};
    }
    if (brk == Breakage::gc || brk == Breakage::extra_trailer || brk == Breakage::size) {
        return not_for(brk, s);
    }
    std::memset(b.data() + L::BOOT_HEADER_OFFSET, 0, L::BOOT_HEADER_SIZE);
    put_text(b, L::BOOT_HEADER_OFFSET, tag, std::strlen(tag) + 1);
    if (brk == Breakage::tag)
        b[L::BOOT_HEADER_OFFSET + std::strlen(tag) - 1] ^= 0x20;
    put_field_text(b, L::BOOT_TEXT_A_OFFSET, s.text_a);
    put_field_text(b, L::BOOT_TEXT_B_OFFSET, s.text_b);
    put_text(b, L::BOOT_TABLE_OFFSET, L::TABLE_TEXT, L::TABLE_TEXT_SIZE);
    if (brk == Breakage::table)
        b[L::BOOT_TABLE_OFFSET] = 'X';
    put_text(b, L::BOOT_INI_TEXT_OFFSET, L::BOOT_INI_TEXT, L::BOOT_SECTION_TEXT_SIZE);
    if (brk == Breakage::strings)
        b[L::BOOT_INI_TEXT_OFFSET] = 'X';
    put_be32(b, L::BOOT_INI_ADDR_OFFSET, s.boot_start.value_or(0));
    put_text(b, L::BOOT_END_TEXT_OFFSET, L::BOOT_END_TEXT, L::BOOT_SECTION_TEXT_SIZE);
    put_be32(b, L::BOOT_END_ADDR_OFFSET, s.boot_end.value_or(size - 1));
    const uint32_t trailer = s.model >= 5 ? L::BOOT56_TRAILER_OFFSET : size - L::TRAILER_SIZE;
    if (brk == Breakage::trailer) {
        std::memset(b.data() + trailer, 0, L::TRAILER_SIZE);
        return {};
    }
    out.final_trailer = trailer;
    out.has_checksum = true;
    return {};
}

// Random bytes may spell "CRC:"; such a text would count as a trailer, so it is spelled
// differently before the structure is written.
void scrub_trailer_text(std::vector<uint8_t>& b) {
    for (size_t i = 0; i + 4 <= b.size(); ++i) {
        if (std::memcmp(b.data() + i, "CRC:", 4) == 0)
            b[i] = 'c';
    }
}

}  // namespace

uint32_t default_pages(int model, Kind kind) {
    if (kind == Kind::boot)
        return 4;
    switch (model) {
        case 1:
            return 64;
        case 2:
            return 80;
        default:
            return 32;
    }
}

void fill_pseudo_random(std::vector<uint8_t>& bytes, uint64_t seed) {
    uint64_t state = seed;
    size_t i = 0;
    while (i < bytes.size()) {
        uint64_t v = splitmix64(state);
        for (int k = 0; k < 8 && i < bytes.size(); ++k, v >>= 8)
            bytes[i++] = uint8_t(v);
    }
}

std::string build_image(const ImageRecipe& recipe, std::vector<uint8_t>& out) {
    out.clear();
    uint32_t pages = recipe.pages ? recipe.pages : default_pages(recipe.model, recipe.kind);
    if (recipe.kind == Kind::fw && recipe.model == 2 && recipe.breakage == Breakage::short_file) {
        pages = 16;
    }
    if (pages > 16384)
        return "at most 16384 pages (256 MiB)";
    if (recipe.kind == Kind::fw && recipe.breakage == Breakage::short_file && recipe.model != 2) {
        return "a firmware image of whole pages always holds its header; use --break size";
    }
    std::vector<uint8_t> bytes(size_t(pages) * PAGE);
    fill_pseudo_random(bytes, recipe.seed);
    scrub_trailer_text(bytes);
    Built built{bytes};
    std::string error =
        recipe.kind == Kind::fw ? build_fw(recipe, pages, built) : build_boot(recipe, pages, built);
    if (!error.empty())
        return error;

    if (built.has_checksum) {
        put_trailer(bytes, built.final_trailer);
        if (recipe.breakage == Breakage::crc)
            bytes[built.final_trailer + 7] ^= 0x5A;
    } else if (recipe.breakage == Breakage::crc) {
        return not_for(recipe.breakage, recipe);
    }
    if (recipe.breakage == Breakage::size) {
        if (recipe.kind != Kind::fw)
            return not_for(recipe.breakage, recipe);
        bytes.push_back(0);
    }
    if (recipe.breakage == Breakage::short_file && recipe.kind == Kind::boot) {
        bytes.resize(L::boot_min_size(recipe.model) - 1);
    }
    out.swap(bytes);
    return {};
}

namespace {
const struct {
    const char* name;
    Breakage value;
} breakage_table[] = {{"none", Breakage::none},        {"crc", Breakage::crc},
                      {"tag", Breakage::tag},          {"size", Breakage::size},
                      {"trailer", Breakage::trailer},  {"extra-trailer", Breakage::extra_trailer},
                      {"short", Breakage::short_file}, {"table", Breakage::table},
                      {"strings", Breakage::strings},  {"gc", Breakage::gc}};
}  // namespace

const char* breakage_name(Breakage value) {
    for (const auto& n : breakage_table) {
        if (n.value == value)
            return n.name;
    }
    return "?";
}

bool parse_breakage(const std::string& name, Breakage& out) {
    for (const auto& n : breakage_table) {
        if (name == n.name) {
            out = n.value;
            return true;
        }
    }
    return false;
}

const char* breakage_names() {
    return "crc|tag|size|trailer|extra-trailer|short|table|strings|gc";
}

}  // namespace vximage
