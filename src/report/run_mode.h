// Run modes (flash.ini FLASHMODE): interactive shows the property sheet and its boxes, the
// unattended mode (1) shows the main page alone, silent shows nothing.
#pragma once

namespace vx {

constexpr int INTERACTIVE_MODE = 0;
constexpr int SILENT_MODE = 2;

}  // namespace vx
