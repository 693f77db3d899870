// Program entry logic shared by both front-ends.
#pragma once
#include <string>

namespace vx {

class FlashRun;
class MessageCatalogue;
class SheetRunner;
struct Platform;
struct send_thread_args;

// The flash procedure as silent mode runs it (the entry points pass send_thread, tests their own).
using FlashWorker = int (*)(const send_thread_args&);

// Runs start-up on the calling thread and returns the process exit code. `command_line` is
// the whole command line, program path included. `sheet` is the front-end's property sheet.
int run_startup(FlashRun& flash, MessageCatalogue& catalogue, const std::string& command_line,
                void* instance, SheetRunner& sheet, FlashWorker worker);

// dir + separator + file, without looking at how dir ends (a drive root such as "C:\" gives
// two backslashes). Empty when the result would not fit in a 260-character path.
std::string build_path(Platform& platform, const std::string& dir, const char* file);

}  // namespace vx
