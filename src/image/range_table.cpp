#include "image/range_table.h"

#include "image/constants.h"
#include "image/image_format.h"

namespace vx {

namespace {

// Where a bound of the range comes from: a fixed page or a section field.
enum class Field : uint8_t {
    fixed,
    start_fw,
    end_fw,
    start_FPGA,
    end_FPGA,
    start_cg,
    end_cg,
    vx3e_fw_end,  // model 1 firmware: 25 when the settings pages are kept, else 31
};

struct Bound {
    Field field = Field::fixed;
    uint16_t page = 0;
};

constexpr Bound at(uint16_t page) {
    return {Field::fixed, page};
}
constexpr Bound from(Field field) {
    return {field, 0};
}

// How flash pages map onto image pages.
enum class Map : uint8_t {
    none,         // the model has no range in this row
    boot_check,   // the boot check set the range
    whole_flash,  // image page n is flash page n: offset = begin
    image_start,  // the range starts with image page 0
    section,      // image page n is flash page n + 4: offset = begin - 4
};

struct Cell {
    Map map = Map::none;
    Bound begin, end;
    uint8_t clears = 0;
};

constexpr Cell NONE{};
constexpr Cell BOOT_CHECK{Map::boot_check, {}, {}, 0};

constexpr Cell whole(Bound begin, Bound end) {
    return {Map::whole_flash, begin, end, 0};
}
constexpr Cell from_start(Bound begin, Bound end, uint8_t clears = 0) {
    return {Map::image_start, begin, end, clears};
}
constexpr Cell section(Bound begin, Bound end, uint8_t clears = 0) {
    return {Map::section, begin, end, clears};
}

constexpr int MODELS = 6;

struct Row {
    RangeRow row;
    uint16_t bits;      // all must be set
    Cell cell[MODELS];  // printer models 1 to 6
};

constexpr Bound START_FW = from(Field::start_fw), END_FW = from(Field::end_fw);
constexpr Bound START_FPGA = from(Field::start_FPGA), END_FPGA = from(Field::end_FPGA);
constexpr Bound START_CG = from(Field::start_cg), END_CG = from(Field::end_cg);

// A cell reads only section fields that its model's image checks set; any other field would
// hold a stale value. Only model 6 images have an FPGA section.
// clang-format off
constexpr Row ROWS[] = {
    {RangeRow::boot, SEND_BOOT, {
        NONE,                                                  // no boot images
        whole(at(0), at(15)),
        BOOT_CHECK, BOOT_CHECK, BOOT_CHECK,
        from_start(at(0), END_FW, CLEARS_FPGA | CLEARS_CG)}},
    {RangeRow::fw_fpga_cg, SEND_FW | SEND_FPGA | SEND_CG, {
        NONE, NONE, NONE, NONE, NONE,
        from_start(START_FW, END_CG)}},
    {RangeRow::fw_fpga, SEND_FW | SEND_FPGA, {
        NONE, NONE, NONE, NONE, NONE,
        from_start(START_FW, END_FPGA, CLEARS_CG)}},
    {RangeRow::fpga_cg, SEND_FPGA | SEND_CG, {
        NONE, NONE, NONE, NONE, NONE,
        section(START_FPGA, END_CG, CLEARS_FW)}},
    {RangeRow::fw_cg, SEND_FW | SEND_CG, {
        whole(at(0), at(63)),
        whole(at(16), END_CG),                                 // no check sets its start_fw
        section(START_FW, END_CG), section(START_FW, END_CG),
        NONE,                                                  // no firmware-and-CG range
        from_start(START_FW, END_CG)}},
    {RangeRow::fw, SEND_FW, {
        whole(at(0), from(Field::vx3e_fw_end)),
        whole(at(16), at(55)),
        section(START_FW, END_FW), section(START_FW, END_FW), section(START_FW, END_FW),
        from_start(START_FW, END_FW, CLEARS_FPGA | CLEARS_CG)}},
    {RangeRow::fw_first_page, SEND_FW_1STPAGE, {
        whole(at(0), at(1)), whole(at(0), at(1)), whole(at(0), at(1)),
        whole(at(0), at(1)), whole(at(0), at(1)), whole(at(0), at(1))}},
    {RangeRow::cg, SEND_CG, {
        whole(at(32), at(63)),
        whole(at(64), END_CG),
        section(START_CG, END_CG), section(START_CG, END_CG), section(START_CG, END_CG),
        section(START_CG, END_CG, CLEARS_FW | CLEARS_FPGA)}},
    {RangeRow::fpga, SEND_FPGA, {
        NONE, NONE, NONE, NONE, NONE,
        section(START_FPGA, END_FPGA, CLEARS_FW | CLEARS_CG)}},
};
// clang-format on

uint32_t page_of_bound(Bound b, uint16_t flags, const SectionPages& s) {
    switch (b.field) {
        case Field::fixed:
            return b.page;
        case Field::start_fw:
            return s.start_fw;
        case Field::end_fw:
            return s.end_fw;
        case Field::start_FPGA:
            return s.start_FPGA;
        case Field::end_FPGA:
            return s.end_FPGA;
        case Field::start_cg:
            return s.start_cg;
        case Field::end_cg:
            return s.end_cg;
        case Field::vx3e_fw_end:
            return (flags & KEEP_SETTINGS) ? 25 : 31;
    }
    return 0;
}

}  // namespace

PageRange select_page_range(int model, uint16_t flags, const SectionPages& sections) {
    PageRange r;
    const Row* row = nullptr;
    for (const Row& candidate : ROWS) {
        if ((flags & candidate.bits) == candidate.bits) {
            row = &candidate;
            break;
        }
    }
    if (row == nullptr)
        return r;
    r.row = row->row;
    const Cell cell = model >= 1 && model <= MODELS ? row->cell[model - 1] : NONE;
    switch (cell.map) {
        case Map::none:
            r.status = RangeStatus::no_range;
            return r;
        case Map::boot_check:
            r.status = RangeStatus::boot_check;
            return r;
        default:
            break;
    }
    r.status = RangeStatus::range;
    r.clears = cell.clears;
    r.begin_page = page_of_bound(cell.begin, flags, sections);
    r.end_page = page_of_bound(cell.end, flags, sections);
    switch (cell.map) {
        case Map::whole_flash:
            r.offset_page = r.begin_page;
            break;
        case Map::image_start:
            r.offset_page = 0;
            break;
        default:
            // A section claimed to start below the image has nothing in it for those pages:
            // send from the image's first page rather than index before the image.
            if (r.begin_page < layout::IMAGE_FIRST_FLASH_PAGE) {
                r.start_moved = true;
                r.claimed_start = uint16_t(r.begin_page);
                r.begin_page = layout::IMAGE_FIRST_FLASH_PAGE;
            }
            r.offset_page = r.begin_page - layout::IMAGE_FIRST_FLASH_PAGE;
            break;
    }
    return r;
}

}  // namespace vx
