// Shared driver of the profile probes: the same queries answered by the system's profile
// functions (Windows, under Wine) and by ours (POSIX), printed in one format so the two
// outputs can be compared byte for byte.
//
//   probe FILE SECTION KEY DEFAULT SIZE      one string query
//   probe --int FILE SECTION KEY DEFAULT     one integer query
//   probe --batch DIR                        queries from stdin, file names relative to DIR:
//       S|file|section|key|default|size
//       I|file|section|key|default
// Fields use \\, \| (or \x7c), \t, \r, \n and \xHH escapes; a field that is exactly \N passes a
// null pointer. Each answer line repeats the query, then "=> " and the result.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace vx::probe {

struct Field {
    std::string text;
    bool null = false;
    const char* ptr() const { return null ? nullptr : text.c_str(); }
};

inline int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits on unescaped '|' and resolves the escapes.
inline std::vector<Field> split_fields(const std::string& line) {
    std::vector<Field> out(1);
    std::string raw;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '|') {
            out.back().null = raw == "\\N";
            raw.clear();
            out.emplace_back();
            continue;
        }
        raw += c;
        if (c != '\\' || i + 1 >= line.size()) {
            out.back().text += c;
            continue;
        }
        char e = line[++i];
        raw += e;
        switch (e) {
            case 't':
                out.back().text += '\t';
                break;
            case 'r':
                out.back().text += '\r';
                break;
            case 'n':
                out.back().text += '\n';
                break;
            case 'x':
                if (i + 2 < line.size() && hex_digit(line[i + 1]) >= 0 &&
                    hex_digit(line[i + 2]) >= 0) {
                    out.back().text +=
                        static_cast<char>(hex_digit(line[i + 1]) * 16 + hex_digit(line[i + 2]));
                    raw += line[i + 1];
                    raw += line[i + 2];
                    i += 2;
                } else {
                    out.back().text += e;
                }
                break;
            default:
                out.back().text += e;
                break;  // \\, \| and anything else: the character
        }
    }
    out.back().null = raw == "\\N";
    return out;
}

inline std::string escape(const char* data, size_t n) {
    std::string out;
    char hex[8];
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '|') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

constexpr unsigned char SENTINEL = 0xA5;
constexpr uint32_t MAX_SIZE = 1u << 16;

// "count|value|end": end tells what follows the copied characters: "nul", "untouched"
// (the byte after them was not written), or the byte written there.
inline std::string string_query(ProfileFile& profile, const std::string& path, const Field& section,
                                const Field& key, const Field& def, uint32_t size) {
    if (size > MAX_SIZE)
        size = MAX_SIZE;
    std::vector<char> buf(size + 8, static_cast<char>(SENTINEL));
    const uint32_t n =
        profile.get_string(path.c_str(), section.ptr(), key.ptr(), def.ptr(), buf.data(), size);
    std::string out = std::to_string(n) + "|";
    if (n > size + 7) {
        return out + "count beyond buffer";
    }
    out += escape(buf.data(), n) + "|";
    const unsigned char after = static_cast<unsigned char>(buf[n]);
    if (after == 0) {
        out += "nul";
    } else if (after == SENTINEL) {
        out += "untouched";
    } else {
        out += escape(&buf[n], 1);
    }
    return out;
}

inline std::string int_query(ProfileFile& profile, const std::string& path, const Field& section,
                             const Field& key, int def) {
    return std::to_string(profile.get_int(path.c_str(), section.ptr(), key.ptr(), def));
}

inline std::string answer(ProfileFile& profile, const std::string& dir, char sep,
                          const std::string& line) {
    const std::vector<Field> f = split_fields(line);
    if (f.empty() || f[0].text.empty())
        return "bad query";
    const std::string path =
        dir.empty() ? f.size() > 1 ? f[1].text : "" : dir + sep + (f.size() > 1 ? f[1].text : "");
    if (f[0].text == "S" && f.size() == 6) {
        return string_query(profile, path, f[2], f[3], f[4],
                            static_cast<uint32_t>(std::strtoul(f[5].text.c_str(), nullptr, 10)));
    }
    if (f[0].text == "I" && f.size() == 5) {
        return int_query(profile, path, f[2], f[3],
                         static_cast<int>(std::strtol(f[4].text.c_str(), nullptr, 10)));
    }
    return "bad query";
}

inline int main(ProfileFile& profile, char sep, int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--batch") == 0) {
        const std::string dir = argv[2];
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() || line[0] == '#')
                continue;
            std::printf("%s => %s\n", line.c_str(), answer(profile, dir, sep, line).c_str());
        }
        std::fflush(stdout);
        return 0;
    }
    auto field = [](const char* s) { return Field{s, false}; };
    if (argc == 6 && std::strcmp(argv[1], "--int") == 0) {
        std::printf("%s\n", int_query(profile, argv[2], field(argv[3]), field(argv[4]),
                                      static_cast<int>(std::strtol(argv[5], nullptr, 10)))
                                .c_str());
        return 0;
    }
    if (argc == 6) {
        std::printf("%s\n",
                    string_query(profile, argv[1], field(argv[2]), field(argv[3]), field(argv[4]),
                                 static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10)))
                        .c_str());
        return 0;
    }
    std::fprintf(stderr,
                 "usage: %s FILE SECTION KEY DEFAULT SIZE | --int FILE SECTION KEY DEFAULT | "
                 "--batch DIR < queries\n",
                 argv[0]);
    return 2;
}

}  // namespace vx::probe
