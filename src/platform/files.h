#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// Where a whole-file read stopped; each stage has its own report in the callers. too_large:
// the file is larger than the caller's limit and was not read.
enum class FileStage { ok, open, size, alloc, read, too_large };

struct FileReadResult {
    FileStage failed_at = FileStage::ok;
    uint32_t error = 0;  // system error code of the failing step
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// A file opened for writing, or why not: `refused` when the name is a link, a file with more
// than one name, a pipe, a device or a directory. A refused file is left as it was.
struct WriteOpen {
    UniqueFile file;
    bool refused = false;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // True when the path's attributes can be read (a directory counts).
    virtual bool exists(const std::string& path) = 0;
    // Deletes a file; a missing file is not an error.
    virtual void remove(const std::string& path) = 0;
    // The current directory as start-up uses it to find flash.ini: upper-cased on Windows
    // (the file system ignores case there), unchanged on POSIX. Empty when it cannot be read.
    virtual std::string startup_directory() = 0;
    // The separator start-up puts between a directory and a file name.
    virtual char path_separator() = 0;
    // Opens an existing file for reading without sharing and reads all of it into `out`.
    // A zero-length file succeeds with an empty `out`; one larger than `max_size` bytes fails
    // with too_large before anything is allocated or read.
    virtual FileReadResult read_whole(const std::string& path, std::vector<uint8_t>& out,
                                      uint64_t max_size) = 0;
    // Opens a file for writing in text mode, created when absent: emptied first, or with
    // `append` written at its end. Only a plain file with this one name is written: the
    // program may run with rights its folder's other users lack, so a link planted under
    // this name must not lead its output (or the emptying) to another file. Nothing is
    // changed before that is known, and nothing waits: a pipe or device of that name neither
    // blocks the program nor receives its output.
    virtual WriteOpen open_for_writing(const std::string& path, bool append) = 0;
};

}  // namespace vx
