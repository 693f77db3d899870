#pragma once
#include <cstdint>

namespace vx {

// Profile-file (INI) access with the semantics of GetPrivateProfileStringA and friends:
// names match without case, every call re-reads the file, writes edit it in place.
class ProfileFile {
public:
    virtual ~ProfileFile() = default;
    // Copies at most size-1 characters and a NUL into buf; returns the count copied.
    // A missing file, section or key yields `def` (trailing blanks removed). size 0: returns 0.
    virtual uint32_t get_string(const char* path, const char* section, const char* key,
                                const char* def, char* buf, uint32_t size) = 0;
    // Leading number of the value (decimal, or 0x/0o/0b), modulo 2^32; `def` when missing or empty.
    virtual uint32_t get_int(const char* path, const char* section, const char* key, int def) = 0;
    // True when the file has a section of this name, with entries or without. False for a
    // missing or unreadable file.
    virtual bool has_section(const char* path, const char* section) = 0;
    // Replaces or adds key=value. False on failure, with the system's last error set.
    virtual bool write_string(const char* path, const char* section, const char* key,
                              const char* value) = 0;
};

}  // namespace vx
