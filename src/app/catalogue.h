// Texts shown to the user, by 16-bit id, loaded from flash.mes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vx {

struct Platform;

// Larger catalogues are refused unread.
constexpr uint64_t MAX_CATALOGUE_BYTES = 64u * 1024 * 1024;

class MessageCatalogue {
public:
    explicit MessageCatalogue(Platform& platform) : platform_(platform) {}
    // Reads and parses the file; 0 (after an error box) when it cannot be read or is empty.
    int load_catalogue(const char* path);
    // The "id,text" lines of a file's bytes; replaces what an earlier load read. Parsing
    // stops at the first NUL, as the file reader does.
    void parse(const uint8_t* data, size_t size);
    // Text of the first entry with this id, or "no message available".
    const char* get_message(uint16_t id) const;
    // The text used as a format with one argument; a text whose conversions do not match the
    // argument is shown literally.
    std::string message_int(uint16_t id, long long value) const;
    std::string message_str(uint16_t id, const char* value) const;
    // True when some entry has this id.
    bool has(uint16_t id) const;
    size_t size() const { return entries_.size(); }

private:
    struct Entry {
        uint16_t id;
        std::string text;
    };
    Platform& platform_;
    std::vector<Entry> entries_;
};

}  // namespace vx
