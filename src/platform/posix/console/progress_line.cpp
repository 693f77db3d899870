#include "platform/posix/console/progress_line.h"

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

std::string progress_line(const ProgressFigures& f, int width) {
    const uint64_t total = f.total_bytes;
    const uint64_t done = total != 0 && f.done_bytes > total ? total : f.done_bytes;
    const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
    std::string line = "[";
    const int cells = width > 0 ? width : 0;
    const int full = total == 0 ? 0 : static_cast<int>(done * static_cast<uint64_t>(cells) / total);
    line.append(static_cast<size_t>(full), '#');
    line.append(static_cast<size_t>(cells - full), '.');
    char text[64];
    std::snprintf(text, sizeof text, "] %3d%%  ", percent);
    line += text;
    line += human_bytes(done) + " of " + human_bytes(total);
    // A rate needs some time and some bytes behind it to mean anything.
    if (f.elapsed_ms >= 1000 && done > 0) {
        const double rate = done * 1000.0 / static_cast<double>(f.elapsed_ms);
        line += "  " + human_bytes(static_cast<uint64_t>(rate)) + "/s";
        if (done < total) {
            const uint64_t left = static_cast<uint64_t>((total - done) / rate + 0.5);
            line += "  " + human_duration(left) + " left";
        }
    }
    return line;
}

}  // namespace vx
