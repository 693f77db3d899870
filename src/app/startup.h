// Program entry logic shared by both front-ends.
#pragma once
#include <string>

namespace vx {

class Cls_flash;
class MessageCatalogue;

// Runs start-up on the calling thread and returns the process exit code. `command_line` is
// the whole command line, program path included.
int run_startup(Cls_flash& flash, MessageCatalogue& catalogue, const std::string& command_line,
                void* instance);

}  // namespace vx
