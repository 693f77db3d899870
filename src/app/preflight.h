// The preflight check of a rollout folder: flash.ini, flash.mes, the images and the port,
// read as a run would read them, without a printer and without changing anything on disk.
#pragma once
#include <string>

namespace vx {

class FileSystem;
struct Platform;

// Checks the folder the program starts in and puts the report into `report`. Returns 0 when
// a run could succeed for at least one printer model, 1 otherwise (the report names why).
// Reads only: no flash.ini write-back, no result files, no spooler change; the port is
// opened only to see that it is there and free, and closed again at once.
int preflight_check(Platform& platform, std::string& report);

// The report's file beside flash.ini, for callers that cannot read a console.
constexpr const char* CHECK_REPORT_FILE = "CHECK.txt";

// Writes the report to CHECK_REPORT_FILE in the current folder (replacing an earlier one);
// false when it cannot be written.
bool save_check_report(FileSystem& files, const std::string& report);

// True when an argument of the whole command line (program path first) is `option`, in any
// letter case: "/check" on Windows.
bool has_option(const std::string& command_line, const char* option);

}  // namespace vx
