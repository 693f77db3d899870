#include "app/message_format.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace vx {
namespace {

enum class Length { none, hh, h, l, ll };

struct Conversion {
    size_t begin = 0;  // index of '%'
    size_t end = 0;    // one past the conversion character
    std::string flags;
    int width = -1;
    int precision = -1;
    Length length = Length::none;
    char conv = 0;
};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Up to four digits; more would let a text ask for megabytes of padding.
bool read_number(const char* s, size_t& i, int& out) {
    int digits = 0;
    out = 0;
    while (is_digit(s[i])) {
        if (++digits > 4)
            return false;
        out = out * 10 + (s[i] - '0');
        ++i;
    }
    return true;
}

// Splits a format into its conversions; false when one of them is not one we can check.
bool parse(const char* s, std::vector<Conversion>& out) {
    for (size_t i = 0; s[i] != '\0'; ++i) {
        if (s[i] != '%')
            continue;
        Conversion c;
        c.begin = i++;
        if (s[i] == '%') {
            continue;  // literal percent sign
        }
        while (s[i] == '-' || s[i] == '+' || s[i] == ' ' || s[i] == '#' || s[i] == '0') {
            c.flags += s[i++];
        }
        if (is_digit(s[i]) && !read_number(s, i, c.width))
            return false;
        if (s[i] == '.') {
            ++i;
            if (!read_number(s, i, c.precision))
                return false;  // "%.d" reads as precision 0
        }
        if (s[i] == 'h') {
            ++i;
            c.length = Length::h;
            if (s[i] == 'h') {
                ++i;
                c.length = Length::hh;
            }
        } else if (s[i] == 'l') {
            ++i;
            c.length = Length::l;
            if (s[i] == 'l') {
                ++i;
                c.length = Length::ll;
            }
        }
        switch (s[i]) {
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                break;
            case 'c':
                if (c.precision >= 0 || c.length != Length::none)
                    return false;
                break;
            case 's':
                if (c.length != Length::none)
                    return false;  // wide strings: not ours
                break;
            default:
                return false;  // '*', 'n', 'p', floating point, '$', end of text, ...
        }
        c.conv = s[i];
        c.end = i + 1;
        out.push_back(c);
    }
    return true;
}

FormatArgKind kind_of(char conv) {
    return conv == 's' ? FormatArgKind::string : FormatArgKind::integer;
}

// Like printf, surplus arguments are ignored: the conversions take the leading arguments in
// order. A conversion without an argument would read past what the caller passed.
bool matches(const std::vector<Conversion>& convs, std::initializer_list<FormatArgKind> kinds) {
    if (convs.size() > kinds.size())
        return false;
    const FormatArgKind* k = kinds.begin();
    for (const Conversion& c : convs) {
        if (kind_of(c.conv) != *k++)
            return false;
    }
    return true;
}

template <typename T>
void append_formatted(std::string& out, const std::string& conversion_text, T value) {
    int n = std::snprintf(nullptr, 0, conversion_text.c_str(), value);
    if (n <= 0)
        return;
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::snprintf(buf.data(), buf.size(), conversion_text.c_str(), value);
    out.append(buf.data(), static_cast<size_t>(n));
}

void append_conversion(std::string& out, const Conversion& c, const FormatArg& arg) {
    std::string conversion_text = "%" + c.flags;
    if (c.width >= 0)
        conversion_text += std::to_string(c.width);
    if (c.precision >= 0)
        conversion_text += "." + std::to_string(c.precision);
    const long long v = arg.number;
    switch (c.conv) {
        case 's':
            append_formatted(out, conversion_text + "s", arg.text ? arg.text : "(null)");
            return;
        case 'c':
            append_formatted(out, conversion_text + "c",
                             static_cast<int>(static_cast<unsigned char>(v)));
            return;
        case 'd':
        case 'i': {
            long long s = v;
            if (c.length == Length::hh)
                s = static_cast<int8_t>(v);
            if (c.length == Length::h)
                s = static_cast<int16_t>(v);
            if (c.length == Length::none || c.length == Length::l)
                s = static_cast<int32_t>(v);
            append_formatted(out, conversion_text + "lld", s);
            return;
        }
        default: {
            unsigned long long u = static_cast<unsigned long long>(v);
            if (c.length == Length::hh)
                u = static_cast<uint8_t>(v);
            if (c.length == Length::h)
                u = static_cast<uint16_t>(v);
            if (c.length == Length::none || c.length == Length::l)
                u = static_cast<uint32_t>(v);
            append_formatted(out, conversion_text + "ll" + c.conv, u);
            return;
        }
    }
}

}  // namespace

bool format_accepts(const char* format, std::initializer_list<FormatArgKind> kinds) {
    if (format == nullptr)
        return false;
    std::vector<Conversion> convs;
    return parse(format, convs) && matches(convs, kinds);
}

std::string format_catalogue(const char* text, std::initializer_list<FormatArg> args) {
    if (text == nullptr)
        return {};
    std::vector<Conversion> convs;
    if (!parse(text, convs) || convs.size() > args.size())
        return text;
    const FormatArg* a = args.begin();
    for (const Conversion& c : convs) {
        if (kind_of(c.conv) != (a++)->kind)
            return text;
    }

    std::string out;
    const FormatArg* arg = args.begin();
    size_t conv = 0;
    for (size_t i = 0; text[i] != '\0';) {
        if (conv < convs.size() && i == convs[conv].begin) {
            append_conversion(out, convs[conv], *arg++);
            i = convs[conv++].end;
        } else if (text[i] == '%' && text[i + 1] == '%') {
            out += '%';
            i += 2;
        } else {
            out += text[i++];
        }
    }
    return out;
}

}  // namespace vx
