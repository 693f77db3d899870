#include "frontend/console/progress_line.h"

#include <algorithm>
#include <cstdio>

namespace vx {

std::string human_bytes(uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    }
    return text;
}

std::string human_duration(uint64_t seconds) {
    char text[32];
    const uint64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                      static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(m),
                      static_cast<unsigned long long>(s));
    }
    return text;
}

namespace {

constexpr int BAR_CELLS = 24;
constexpr int MIN_BAR_CELLS = 4;
// A status cut shorter than this says nothing any more.
constexpr size_t MIN_STATUS = 12;

// The line's parts after the bar, each with its leading blanks.
struct Parts {
    uint64_t done = 0, total = 0;
    std::string percent;  // "  45%"
    std::string bytes;    // "  1.2 MiB of 2.0 MiB"
    std::string timing;   // "  11.3 KiB/s  1:05 left", or nothing yet
};

Parts parts_of(const ProgressFigures& f) {
    Parts p;
    p.total = f.total_bytes;
    p.done = p.total != 0 && f.done_bytes > p.total ? p.total : f.done_bytes;
    const int percent = p.total == 0 ? 0 : static_cast<int>(p.done * 100 / p.total);
    char text[16];
    std::snprintf(text, sizeof text, " %3d%%", percent);
    p.percent = text;
    p.bytes = "  " + human_bytes(p.done) + " of " + human_bytes(p.total);
    // A rate needs some time and some bytes behind it to mean anything.
    if (f.elapsed_ms >= 1000 && p.done > 0) {
        const double rate = p.done * 1000.0 / static_cast<double>(f.elapsed_ms);
        p.timing = "  " + human_bytes(static_cast<uint64_t>(rate)) + "/s";
        if (p.done < p.total) {
            const uint64_t left = static_cast<uint64_t>((p.total - p.done) / rate + 0.5);
            p.timing += "  " + human_duration(left) + " left";
        }
    }
    return p;
}

std::string bar(const Parts& p, int width) {
    const int cells = width > 0 ? width : 0;
    const int full =
        p.total == 0 ? 0 : static_cast<int>(p.done * static_cast<uint64_t>(cells) / p.total);
    std::string text = "[";
    text.append(static_cast<size_t>(full), '#');
    text.append(static_cast<size_t>(cells - full), '.');
    return text + "]";
}

// Control characters would move the cursor: a tab alone can push the line past the edge.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = ' ';
    }
    return out;
}

// `text` in at most `room` bytes (room >= 4), ending in "..." when cut; never cuts a UTF-8
// character in two.
std::string shortened(const std::string& text, size_t room) {
    if (text.size() <= room)
        return text;
    size_t cut = room - 3;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut) + "...";
}

}  // namespace

std::string progress_line(const ProgressFigures& f, int width) {
    const Parts p = parts_of(f);
    return bar(p, width) + p.percent + p.bytes + p.timing;
}

std::string fitted_progress_line(const ProgressFigures& f, const std::string& status, int columns) {
    const Parts p = parts_of(f);
    std::string text = printable(status);
    if (columns <= 0)
        return bar(p, BAR_CELLS) + p.percent + p.bytes + p.timing + (text.empty() ? "" : "  ") +
               text;
    // Bytes count as columns: an upper bound for UTF-8 text. The last column is left free,
    // as writing into it moves some terminals to the next line.
    const size_t room = static_cast<size_t>(columns) - 1;
    std::string figures = p.percent + p.bytes + p.timing;
    const size_t full_bar = BAR_CELLS + 2;
    // The status gets what the whole bar and every figure leave, or nothing.
    const size_t used = full_bar + figures.size() + 2;
    if (!text.empty() && used + text.size() > room)
        text = room >= used + MIN_STATUS ? shortened(text, room - used) : std::string();
    if (text.empty() && full_bar + figures.size() > room)
        figures = p.percent + p.timing;
    const size_t tail = figures.size() + (text.empty() ? 0 : 2 + text.size());
    int cells = BAR_CELLS;
    if (full_bar + tail > room) {
        const size_t over = std::min<size_t>(full_bar + tail - room, BAR_CELLS);
        cells = std::max(MIN_BAR_CELLS, BAR_CELLS - static_cast<int>(over));
    }
    std::string line = bar(p, cells) + figures + (text.empty() ? "" : "  ") + text;
    // Only a terminal narrower than any in use gets here.
    if (line.size() > room)
        line.resize(room);
    return line;
}

}  // namespace vx
