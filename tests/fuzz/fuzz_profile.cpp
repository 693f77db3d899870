// libFuzzer target: arbitrary bytes as flash.ini, read with every kind of query, then written
// and read back. The first bytes choose the section, key and value of the write, so the
// fuzzer explores names that collide with what the file holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/profile_file.h"

namespace {

// Names and values the program writes: letters, digits, a few signs; never the characters
// that the file syntax gives a meaning to.
std::string word(const uint8_t*& p, const uint8_t* end, size_t max) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.";
    std::string out;
    const size_t n = p < end ? 1 + *p++ % max : 1;
    for (size_t i = 0; i < n && p < end; ++i)
        out += alphabet[*p++ % (sizeof alphabet - 1)];
    return out.empty() ? "X" : out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    const std::string section = word(p, end, 12);
    const std::string key = word(p, end, 12);
    const std::string value = word(p, end, 16);
    const std::string file(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));

    char buf[300];
    namespace rules = vx::profile_rules;
    for (uint32_t cap : {0u, 1u, 2u, 16u, 300u}) {
        rules::get_string(&file, section.c_str(), key.c_str(), "def", buf, cap);
        rules::get_string(&file, section.c_str(), nullptr, "", buf, cap);  // key list
        rules::get_string(&file, nullptr, nullptr, "", buf, cap);          // section list
    }
    rules::get_int(&file, section.c_str(), key.c_str(), -7);

    const std::string written =
        rules::write_string(&file, section.c_str(), key.c_str(), value.c_str());
    const uint32_t n =
        rules::get_string(&written, section.c_str(), key.c_str(), "", buf, sizeof buf);
    if (std::string(buf, n) != value) {
        std::abort();  // what was written does not read back
    }
    return 0;
}
