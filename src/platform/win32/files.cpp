#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <new>

#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"

namespace vx {
namespace {

// Read in slices so one call never asks for more than a DWORD can count.
constexpr DWORD READ_SLICE = 1u << 20;

FileReadResult failed(FileStage stage, DWORD error) {
    return FileReadResult{stage, static_cast<uint32_t>(error)};
}

FileReadResult read_all(const std::string& path, std::vector<uint8_t>& out, uint64_t max_size) {
    UniqueFileHandle file = own_file_handle(CreateFileA(
        path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return failed(FileStage::open, GetLastError());
    }
    DWORD high = 0;
    SetLastError(NO_ERROR);  // a size of 0xFFFFFFFF is valid; only the error tells
    const DWORD size = GetFileSize(file.get(), &high);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return failed(FileStage::size, GetLastError());
    }
    if ((uint64_t(high) << 32 | size) > max_size) {
        return failed(FileStage::too_large, ERROR_FILE_TOO_LARGE);
    }
    try {
        out.assign(size, 0);
    } catch (const std::bad_alloc&) {
        out.clear();
        return failed(FileStage::alloc, ERROR_NOT_ENOUGH_MEMORY);
    }
    DWORD done = 0;
    while (done < size) {
        const DWORD want = size - done < READ_SLICE ? size - done : READ_SLICE;
        DWORD got = 0;
        if (!ReadFile(file.get(), out.data() + done, want, &got, nullptr)) {
            const DWORD error = GetLastError();
            out.clear();
            return failed(FileStage::read, error);
        }
        if (got == 0) {  // the file shrank under us
            out.clear();
            return failed(FileStage::read, ERROR_HANDLE_EOF);
        }
        done += got;
    }
    return {};
}

class Win32Files final : public FileSystem {
public:
    bool exists(const std::string& path) override {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    void remove(const std::string& path) override { DeleteFileA(path.c_str()); }

    std::string startup_directory() override {
        char buf[MAX_PATH] = {};
        const DWORD n = GetCurrentDirectoryA(MAX_PATH, buf);
        if (n == 0 || n >= MAX_PATH) {
            return {};  // unreadable, or longer than the program's path buffers
        }
        CharUpperA(buf);
        return std::string(buf, n);
    }

    char path_separator() override { return '\\'; }

    FileReadResult read_whole(const std::string& path, std::vector<uint8_t>& out,
                              uint64_t max_size) override {
        out.clear();
        const FileReadResult result = read_all(path, out, max_size);
        // The handle is closed by now; leave the failing step's error as the last error.
        if (result.failed_at != FileStage::ok) {
            SetLastError(result.error);
        }
        return result;
    }

    // Opened without emptying and without following a reparse point (a symbolic link or
    // junction is opened as itself); the open handle must then show a disk file with one link
    // and no reparse point before it is emptied. A console or pipe name is refused too.
    WriteOpen open_for_writing(const std::string& path, bool append) override {
        UniqueFileHandle handle = own_file_handle(CreateFileA(
            path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!handle) {
            return {};
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileType(handle.get()) != FILE_TYPE_DISK ||
            !GetFileInformationByHandle(handle.get(), &info) || info.nNumberOfLinks != 1 ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
            SetLastError(ERROR_INVALID_NAME);
            WriteOpen out;
            out.refused = true;
            return out;
        }
        if (!append && (SetFilePointer(handle.get(), 0, nullptr, FILE_BEGIN) != 0 ||
                        !SetEndOfFile(handle.get()))) {
            return {};
        }
        // Text mode, so "\n" is written as CR LF.
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()),
                                       _O_TEXT | (append ? _O_APPEND : 0));
        if (fd < 0) {
            return {};
        }
        handle.release();  // the descriptor owns it now
        WriteOpen out;
        out.file.reset(_fdopen(fd, append ? "a" : "w"));
        if (!out.file) {
            _close(fd);
        }
        return out;
    }
};

}  // namespace

FileSystem& win32_files() {
    static Win32Files files;
    return files;
}

}  // namespace vx
