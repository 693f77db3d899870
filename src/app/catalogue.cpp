// flash.mes: "id,text" lines read once at start-up.
#include "app/catalogue.h"

#include <climits>
#include <cstdio>
#include <string>

#include "app/flash_run.h"
#include "app/message_format.h"

namespace vx {
namespace {

constexpr size_t TEXT_LIMIT = 258;      // longer texts are cut, the rest of the line skipped
constexpr size_t ID_FIELD_LIMIT = 259;  // likewise for the id field
constexpr const char* NO_MESSAGE = "no message available";
// A catalogue larger than this is refused rather than read into memory.

bool is_space(uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// atoi: white space, a sign, digits; saturates at the int range like the C library, then
// keeps the low 16 bits.
uint16_t parse_id(const std::string& field) {
    size_t i = 0;
    while (i < field.size() && is_space(static_cast<uint8_t>(field[i])))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        negative = field[i++] == '-';
    long long value = 0;
    while (i < field.size() && field[i] >= '0' && field[i] <= '9') {
        value = value * 10 + (field[i++] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int>(value)));
}

std::string with_path(const char* format, const char* path) {
    int n = std::snprintf(nullptr, 0, format, path);
    if (n < 0)
        return format;
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, path);
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace

int MessageCatalogue::load_catalogue(const char* path) {
    const char* shown = path ? path : "";
    entries_.clear();  // a new load replaces what an earlier one read
    std::vector<uint8_t> bytes;
    FileReadResult r = platform_.files.read_whole(shown, bytes, MAX_CATALOGUE_BYTES);
    switch (r.failed_at) {
        case FileStage::ok:
            break;
        case FileStage::open:
            platform_.errors.set_last_error(r.error);
            system_error_box(platform_, with_path("CreateFile : %s", shown).c_str());
            return 0;
        case FileStage::size:
            platform_.errors.set_last_error(r.error);
            system_error_box(platform_, with_path("GetFileSize : %s", shown).c_str());
            return 0;
        case FileStage::alloc:
        case FileStage::too_large:
            platform_.errors.set_last_error(r.error);
            system_error_box(platform_, "VirtualAlloc FAILED !");
            return 0;
        case FileStage::read:
            platform_.errors.set_last_error(r.error);
            system_error_box(platform_, with_path("ReadFile : %s", shown).c_str());
            return 0;
    }
    if (bytes.empty()) {
        // Nothing to allocate for an empty file: the same report as a failed allocation.
        system_error_box(platform_, "VirtualAlloc FAILED !");
        return 0;
    }

    parse(bytes.data(), bytes.size());
    return 1;
}

void MessageCatalogue::parse(const uint8_t* data, size_t size) {
    entries_.clear();
    std::vector<uint8_t> bytes(data, data + size);
    // Two NULs after the data: skipping the byte that ended an id field may step over the
    // first one.
    bytes.push_back(0);
    bytes.push_back(0);
    entries_.reserve(1000);
    size_t p = 0;
    while (bytes[p] != 0) {
        std::string field;
        while (bytes[p] != ',' && bytes[p] != 0) {
            if (field.size() < ID_FIELD_LIMIT)
                field += static_cast<char>(bytes[p]);
            ++p;
        }
        ++p;  // the comma, or the NUL that ended the field
        std::string text;
        while (bytes[p] != '\r' && bytes[p] != '\n' && bytes[p] != 0) {
            if (text.size() < TEXT_LIMIT)
                text += static_cast<char>(bytes[p]);
            ++p;
        }
        entries_.push_back({parse_id(field), std::move(text)});
    }
}

const char* MessageCatalogue::get_message(uint16_t id) const {
    for (const Entry& e : entries_) {
        if (e.id == id)
            return e.text.c_str();
    }
    return NO_MESSAGE;
}

bool MessageCatalogue::has(uint16_t id) const {
    for (const Entry& e : entries_) {
        if (e.id == id)
            return true;
    }
    return false;
}

std::string MessageCatalogue::message_int(uint16_t id, long long value) const {
    return format_catalogue(get_message(id), {value});
}

std::string MessageCatalogue::message_str(uint16_t id, const char* value) const {
    return format_catalogue(get_message(id), {value});
}

}  // namespace vx
