#include "platform/posix/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/profile_lines.h"

namespace vx {
namespace {

// Larger files are treated as unreadable rather than read into memory on every call.
constexpr uintmax_t MAX_PROFILE_BYTES = 16u * 1024 * 1024;

using profile_lines::Kind;
using profile_lines::Line;
using profile_lines::parse;
using profile_lines::same_name;
using profile_lines::trim;

constexpr size_t npos = static_cast<size_t>(-1);

// Index of the first header with this name; only that section is ever searched.
size_t find_section(const std::vector<Line>& lines, const std::string& section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::section && same_name(lines[i].name, section))
            return i;
    }
    return npos;
}

size_t find_key(const std::vector<Line>& lines, size_t header, const std::string& key) {
    for (size_t i = header + 1; i < lines.size() && lines[i].kind != Kind::section; ++i) {
        if (lines[i].kind == Kind::entry && same_name(lines[i].name, key))
            return i;
    }
    return npos;
}

std::string value_of(const std::string* file, const char* section, const char* key,
                     const std::string& def) {
    if (file == nullptr || section == nullptr || key == nullptr)
        return def;
    std::vector<Line> lines = parse(*file);
    size_t header = find_section(lines, trim(section));
    if (header == npos)
        return def;
    size_t k = find_key(lines, header, trim(key));
    if (k == npos || !lines[k].has_value)
        return def;
    std::string v = lines[k].value;
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

bool read_file(const char* path, std::string& out, int& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st)) {
        error = ENOENT;
        return false;
    }
    if (fs::is_directory(st)) {
        error = EISDIR;
        return false;
    }
    // Never open a pipe or device: the read could wait for ever.
    if (!fs::is_regular_file(st) || fs::file_size(path, ec) > MAX_PROFILE_BYTES || ec) {
        error = EINVAL;
        return false;
    }
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        error = errno;
        return false;
    }
    out.clear();
    char chunk[8192];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        out.append(chunk, n);
        if (out.size() > MAX_PROFILE_BYTES)
            break;
    }
    bool ok = !std::ferror(f) && out.size() <= MAX_PROFILE_BYTES;
    error = ok ? 0 : EIO;
    std::fclose(f);
    return ok;
}

// Writes `content` to a new file beside `path` and renames it over `path`, so a full disk or
// a crash leaves either the old file or the new one whole, never a part of either. The new
// file takes the old one's permission bits and, where allowed, its owner (a new file gets
// 0666 less the umask); a link named `path` is replaced, never written through. Returns 0 or
// the errno of the step that failed; the new file is removed then.
int replace_file(const char* path, const std::string& content) {
    std::string temp;
    int fd = -1;
    for (int i = 0; fd < 0 && i < 100; ++i) {
        temp = std::string(path) + ".new" + std::to_string(::getpid()) + "." + std::to_string(i);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    struct stat st;
    if (::lstat(path, &st) == 0 && S_ISREG(st.st_mode)) {
        // Only root may keep another user's ownership; anyone else's new file stays theirs.
        const bool owner_kept = ::fchown(fd, st.st_uid, st.st_gid) == 0;
        (void)owner_kept;
        ::fchmod(fd, st.st_mode & 07777);
    }
    int error = 0;
    size_t done = 0;
    while (error == 0 && done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno != EINTR)
            error = errno;
        else if (n > 0)
            done += static_cast<size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temp.c_str());
    return error;
}

bool is_utf16(const std::string& s) {
    return s.size() >= 2 && static_cast<uint8_t>(s[0]) == 0xFF &&
           static_cast<uint8_t>(s[1]) == 0xFE;
}

}  // namespace

namespace profile_rules {

uint32_t get_string(const std::string* file, const char* section, const char* key, const char* def,
                    char* buf, uint32_t size) {
    if (size == 0 || buf == nullptr)
        return 0;
    std::string d = def ? def : "";
    while (!d.empty() && d.back() == ' ')
        d.pop_back();
    std::string v = value_of(file, section, key, d);
    size_t n = std::min<size_t>(std::strlen(v.c_str()), size - 1);
    std::memcpy(buf, v.data(), n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
}

uint32_t get_int(const std::string* file, const char* section, const char* key, int def) {
    char buf[30];
    if (get_string(file, section, key, "", buf, sizeof buf) == 0)
        return static_cast<uint32_t>(def);
    const char* p = buf;
    while (*p != '\0' && static_cast<uint8_t>(*p) <= 0x20)
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    uint32_t base = 10;
    if (p[0] == '0' && p[1] == 'x') {
        base = 16;
        p += 2;
    } else if (p[0] == '0' && p[1] == 'o') {
        base = 8;
        p += 2;
    } else if (p[0] == '0' && p[1] == 'b') {
        base = 2;
        p += 2;
    }
    uint32_t value = 0;
    for (;; ++p) {
        uint32_t digit;
        if (*p >= '0' && *p <= '9') {
            digit = static_cast<uint32_t>(*p - '0');
        } else if (*p >= 'a' && *p <= 'f') {
            digit = static_cast<uint32_t>(*p - 'a' + 10);
        } else if (*p >= 'A' && *p <= 'F') {
            digit = static_cast<uint32_t>(*p - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base)
            break;
        value = value * base + digit;  // modulo 2^32
    }
    return negative ? 0u - value : value;
}

bool has_section(const std::string* file, const char* section) {
    if (file == nullptr || section == nullptr)
        return false;
    return find_section(parse(*file), trim(section)) != npos;
}

std::string write_string(const std::string* file, const char* section, const char* key,
                         const char* value) {
    std::string s = file ? *file : std::string();
    const std::string sec = trim(section ? section : "");
    const std::string k = trim(key ? key : "");
    const std::string v = value ? value : "";
    std::vector<Line> lines = parse(s);
    size_t header = find_section(lines, sec);
    if (header == npos) {
        if (!s.empty() && s.back() != '\r' && s.back() != '\n')
            s += "\r\n";
        return s + "[" + sec + "]\r\n" + k + "=" + v + "\r\n";
    }
    size_t found = find_key(lines, header, k);
    if (found != npos) {
        const Line& l = lines[found];
        return s.substr(0, l.begin) + l.name + "=" + v + s.substr(l.end);
    }
    size_t last = header;  // last line of the section that is not blank
    for (size_t i = header + 1; i < lines.size() && lines[i].kind != Kind::section; ++i) {
        if (lines[i].kind != Kind::blank)
            last = i;
    }
    const Line& l = lines[last];
    std::string add = k + "=" + v + "\r\n";
    if (l.next == l.end)
        add = "\r\n" + add;  // the file's last line had no line end
    return s.substr(0, l.next) + add + s.substr(l.next);
}

}  // namespace profile_rules

uint32_t FileProfile::get_string(const char* path, const char* section, const char* key,
                                 const char* def, char* buf, uint32_t size) {
    std::string content;
    int error = 0;
    bool ok = path && read_file(path, content, error) && !is_utf16(content);
    return profile_rules::get_string(ok ? &content : nullptr, section, key, def, buf, size);
}

uint32_t FileProfile::get_int(const char* path, const char* section, const char* key, int def) {
    std::string content;
    int error = 0;
    bool ok = path && read_file(path, content, error) && !is_utf16(content);
    return profile_rules::get_int(ok ? &content : nullptr, section, key, def);
}

bool FileProfile::has_section(const char* path, const char* section) {
    std::string content;
    int error = 0;
    bool ok = path && read_file(path, content, error) && !is_utf16(content);
    return profile_rules::has_section(ok ? &content : nullptr, section);
}

bool FileProfile::write_string(const char* path, const char* section, const char* key,
                               const char* value) {
    if (path == nullptr || section == nullptr || key == nullptr) {
        errors_.set_last_error(EINVAL);
        return false;
    }
    std::string content;
    int error = 0;
    bool have = read_file(path, content, error);
    if (!have && error != ENOENT) {
        errors_.set_last_error(static_cast<uint32_t>(error));
        return false;
    }
    if (have && is_utf16(content)) {
        errors_.set_last_error(EILSEQ);
        return false;
    }
    std::string out = profile_rules::write_string(have ? &content : nullptr, section, key, value);
    const int failed = replace_file(path, out);
    if (failed != 0)
        errors_.set_last_error(static_cast<uint32_t>(failed));
    return failed == 0;
}

}  // namespace vx
