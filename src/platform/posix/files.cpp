#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/posix/posix_fd.h"
#include "platform/posix/posix_platform.h"

namespace vx {
namespace {

class PosixFiles final : public FileSystem {
public:
    bool exists(const std::string& path) override {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }
    void remove(const std::string& path) override { ::unlink(path.c_str()); }
    // Unchanged: names are case-sensitive here, so an upper-cased path would not exist.
    std::string startup_directory() override {
        std::string buf(PATH_MAX, '\0');
        if (::getcwd(buf.data(), buf.size()) == nullptr)
            return {};
        buf.resize(std::char_traits<char>::length(buf.c_str()));
        return buf;
    }
    char path_separator() override { return '/'; }

    // "Without sharing": an exclusive advisory lock, taken without waiting; a file another
    // process holds locked fails at the open step like a sharing violation on Windows.
    // O_NONBLOCK and the regular-file test keep a pipe or device named like the file from
    // blocking the program.
    FileReadResult read_whole(const std::string& path, std::vector<uint8_t>& out,
                              uint64_t max_size) override {
        out.clear();
        FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0)
            return {FileStage::open, static_cast<uint32_t>(errno)};
        struct stat st;
        if (::fstat(fd.get(), &st) != 0)
            return {FileStage::size, static_cast<uint32_t>(errno)};
        if (!S_ISREG(st.st_mode)) {
            return {FileStage::open, static_cast<uint32_t>(S_ISDIR(st.st_mode) ? EISDIR : EINVAL)};
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return {FileStage::open, static_cast<uint32_t>(errno)};
        }
        if (static_cast<uint64_t>(st.st_size) > max_size)
            return {FileStage::too_large, static_cast<uint32_t>(EFBIG)};
        if (st.st_size == 0) {
            errno = EINVAL;  // what a zero-size allocation reports; the caller shows it
            return {};
        }
        out.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < out.size()) {
            ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return {FileStage::read, static_cast<uint32_t>(errno)};
            if (n == 0)
                break;  // the file shrank meanwhile
            got += static_cast<size_t>(n);
        }
        out.resize(got);
        return {};
    }

    // The name is looked at without following it, opened without following it and without
    // emptying, and the open file is checked again (the name may have been swapped meanwhile):
    // only a regular file with one link is then emptied or appended to. O_NONBLOCK keeps the
    // open of a pipe swapped in at the last moment from waiting for a reader.
    WriteOpen open_for_writing(const std::string& path, bool append) override {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && !plain(st))
            return refused(S_ISDIR(st.st_mode) ? EISDIR : ELOOP);
        const int mode = append ? O_APPEND : 0;
        FileDescriptor fd(::open(
            path.c_str(),
            O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | mode, 0666));
        if (fd.get() < 0) {
            if (errno == ELOOP || errno == ENXIO)  // a link, or a pipe without a reader
                return refused(errno);
            return {};
        }
        if (::fstat(fd.get(), &st) != 0)
            return {};
        if (!plain(st))
            return refused(ELOOP);
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if ((!append && ::ftruncate(fd.get(), 0) != 0) || flags < 0 ||
            ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
            return {};
        }
        WriteOpen out;
        out.file.reset(::fdopen(fd.get(), append ? "a" : "w"));
        if (out.file)
            fd.release();
        return out;
    }

private:
    static bool plain(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }
    static WriteOpen refused(int error) {
        errno = error;
        WriteOpen out;
        out.refused = true;
        return out;
    }
};

}  // namespace

FileSystem& posix_files() {
    static PosixFiles files;
    return files;
}

}  // namespace vx
