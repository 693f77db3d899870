// The lines of a profile file (flash.ini) as the profile functions see them: sections,
// entries and blank lines, each with where it lies in the file. The POSIX profile functions
// read and edit through this, and the preflight check lists entries with their line numbers.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace vx::profile_lines {

enum class Kind { blank, section, entry };

// One physical line: content [begin, end), the next line starts at `next` (after one CR LF,
// CR or LF; equal to end for a last line without a line end).
struct Line {
    size_t begin = 0, end = 0, next = 0;
    Kind kind = Kind::blank;
    std::string name;
    bool has_value = false;
    std::string value;
};

std::vector<Line> parse(const std::string& s);

// Blanks and tabs off both ends.
std::string trim(const std::string& s);

// Names match without regard to ASCII case.
bool same_name(const std::string& a, const std::string& b);

}  // namespace vx::profile_lines
