#include "platform/profile_lines.h"

namespace vx::profile_lines {
namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

char fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && is_blank(s[b]))
        ++b;
    while (e > b && is_blank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

std::vector<Line> parse(const std::string& s) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < s.size()) {
        Line l;
        l.begin = pos;
        l.end = pos;
        while (l.end < s.size() && s[l.end] != '\r' && s[l.end] != '\n')
            ++l.end;
        l.next = l.end;
        if (l.next < s.size()) {
            l.next += (s[l.next] == '\r' && l.next + 1 < s.size() && s[l.next + 1] == '\n') ? 2 : 1;
        }
        std::string t = trim(s.substr(l.begin, l.end - l.begin));
        size_t close = t.rfind(']');
        if (t.empty()) {
            l.kind = Kind::blank;
        } else if (t[0] == '[' && close != std::string::npos && close > 0) {
            l.kind = Kind::section;
            l.name = trim(t.substr(1, close - 1));
        } else {
            l.kind = Kind::entry;
            size_t eq = t.find('=');
            l.name = trim(t.substr(0, eq));
            if (eq != std::string::npos) {
                l.has_value = true;
                l.value = trim(t.substr(eq + 1));
            }
        }
        lines.push_back(std::move(l));
        pos = lines.back().next;
    }
    return lines;
}

}  // namespace vx::profile_lines
