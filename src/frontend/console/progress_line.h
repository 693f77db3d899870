// The console's progress line: both bars of the main page folded into one line with the
// percentage, the bytes sent, the rate and the time left.
#pragma once
#include <cstdint>
#include <string>

namespace vx {

struct ProgressFigures {
    uint64_t done_bytes = 0;
    uint64_t total_bytes = 0;
    uint64_t elapsed_ms = 0;  // since the first byte went out
};

// "[#####.....]  45%  1.2 MiB of 2.0 MiB  11.3 KiB/s  1:05 left". `width` is the number of
// cells of the bar. Rate and time left are left out until there is something to measure.
std::string progress_line(const ProgressFigures& f, int width);

// The progress line followed by `status` (the bank and what it waits for), made to fit in
// `columns` terminal columns; 0 means no limit. A line wider than the terminal wraps, and a
// redraw in place then leaves copies behind, so parts give way in this order: the status text
// is shortened, then dropped, then the byte counts, then bar cells. The bar, the percentage,
// the rate and the time left stay.
std::string fitted_progress_line(const ProgressFigures& f, const std::string& status, int columns);

// "512 B", "11.3 KiB", "2.0 MiB".
std::string human_bytes(uint64_t bytes);
// "0:07", "1:05", "1:02:03".
std::string human_duration(uint64_t seconds);

}  // namespace vx
