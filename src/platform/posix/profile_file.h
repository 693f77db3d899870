// Profile files (flash.ini) with the observable behaviour of the Windows profile functions:
// names match without case, every call re-reads the file, a write changes one line (or adds
// one) and keeps every other byte. Plain C++ file I/O, so it builds and is tested anywhere.
#pragma once
#include <cstdint>
#include <string>

#include "platform/profile.h"
#include "platform/system_error.h"

namespace vx {

// The rules on a file's bytes; `file` null stands for a missing or unreadable file.
namespace profile_rules {
uint32_t get_string(const std::string* file, const char* section, const char* key, const char* def,
                    char* buf, uint32_t size);
uint32_t get_int(const std::string* file, const char* section, const char* key, int def);
bool has_section(const std::string* file, const char* section);
// The new contents after writing key=value.
std::string write_string(const std::string* file, const char* section, const char* key,
                         const char* value);
}  // namespace profile_rules

class FileProfile final : public ProfileFile {
public:
    explicit FileProfile(SystemErrors& errors) : errors_(errors) {}
    uint32_t get_string(const char* path, const char* section, const char* key, const char* def,
                        char* buf, uint32_t size) override;
    uint32_t get_int(const char* path, const char* section, const char* key, int def) override;
    bool has_section(const char* path, const char* section) override;
    // Fails with errno-style codes in the last error: ENOENT for a missing directory, EISDIR
    // for a directory, EILSEQ for a UTF-16 file (not edited), or what the open/write reported.
    bool write_string(const char* path, const char* section, const char* key,
                      const char* value) override;

private:
    SystemErrors& errors_;
};

}  // namespace vx
