// Catalogue texts used as printf formats. The texts come from a file the user edits, so a
// text is only used as a format when its conversions take the arguments the caller passes,
// in order (surplus arguments are ignored, as printf does); otherwise it is shown as it
// stands.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

namespace vx {

enum class FormatArgKind { integer, string };

struct FormatArg {
    FormatArg(long long v) : kind(FormatArgKind::integer), number(v) {}  // NOLINT
    FormatArg(int v) : kind(FormatArgKind::integer), number(v) {}        // NOLINT
    FormatArg(unsigned v) : kind(FormatArgKind::integer), number(v) {}   // NOLINT
    FormatArg(const char* v) : kind(FormatArgKind::string), text(v) {}   // NOLINT
    FormatArgKind kind;
    long long number = 0;
    const char* text = nullptr;
};

// True when each conversion of `format` takes the kind at its place in `kinds`; kinds left
// over are surplus arguments and ignored, a conversion beyond them refuses. Accepted: flags
// "-+ #0", a decimal width and precision (at most 4 digits each), length modifiers hh, h, l,
// ll, and d i u x X c o for integers, s (without a length) for strings; "%%" is a literal
// percent sign. Anything else (*, n, p, floating point, positional arguments, a lone % at
// the end) refuses the text.
bool format_accepts(const char* format, std::initializer_list<FormatArgKind> kinds);

// `text` formatted with `args` when format_accepts says so, else `text` itself. A null text
// gives "". Integers follow the conversion's length: h and hh cut to 16 and 8 bits, none
// and l to 32 bits (as on Windows), ll keeps 64 bits. A null string prints "(null)".
std::string format_catalogue(const char* text, std::initializer_list<FormatArg> args);

}  // namespace vx
