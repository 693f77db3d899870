// The steps the serial and the USB transfers share before their first bank.
#pragma once
#include <cstdint>
#include <vector>

namespace vx {

class Cls_flash;
class MainPageView;
class PortBackend;

// A zeroed transfer buffer of a whole bank and its check bytes, the start trace line and the
// page's start texts.
void begin_transfer(Cls_flash& f, MainPageView& view, const PortBackend& port, const char* tag);

// Model 1's tag text replaces the image's own for this transfer only; never past the end.
void put_tag(std::vector<uint8_t>& image, uint32_t size, const char* tag_text, int model);

// The range must lie inside the image: a reversed range, an offset past the end or a file
// with too few whole pages is refused (traced, and a box in interactive mode) before anything
// is read. `pages` receives the page count of the range.
bool range_in_image(Cls_flash& f, MainPageView& view, const char* tag, uint32_t size,
                    uint64_t& pages);

}  // namespace vx
