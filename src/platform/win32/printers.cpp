#include <windows.h>

#include <new>

#include "platform/win32/win32_services.h"

namespace vx {
namespace {

constexpr DWORD ENUM_FLAGS = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
// A queue may be added between the size query and the read; try a few times, then give up.
constexpr int ENUM_ATTEMPTS = 4;

// The spooler's client library is not a known system DLL: linked at load time it would be
// looked for in the program's folder first. It is loaded from the system folder when needed.
using EnumPrintersFn = BOOL(WINAPI*)(DWORD, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);

BOOL enum_printers(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD count) {
    static const EnumPrintersFn fn = reinterpret_cast<EnumPrintersFn>(
        reinterpret_cast<void*>(system_proc("winspool.drv", "EnumPrintersA")));
    if (fn == nullptr) {
        return FALSE;  // with the loader's error
    }
    return fn(flags, name, level, buffer, size, needed, count);
}

class Win32Printers final : public PrinterQueues {
public:
    bool list(std::vector<PrinterQueue>& out) override {
        out.clear();
        DWORD needed = 0;
        DWORD count = 0;
        if (enum_printers(ENUM_FLAGS, nullptr, 2, nullptr, 0, &needed, &count)) {
            return true;  // nothing to list
        }
        for (int attempt = 0; attempt < ENUM_ATTEMPTS; ++attempt) {
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
                return false;
            }
            std::vector<BYTE> buffer;
            try {
                buffer.assign(needed, 0);
            } catch (const std::bad_alloc&) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return false;
            }
            count = 0;
            if (enum_printers(ENUM_FLAGS, nullptr, 2, buffer.data(), needed, &needed, &count)) {
                const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
                for (DWORD i = 0; i < count; ++i) {
                    out.push_back(PrinterQueue{info[i].pPrinterName ? info[i].pPrinterName : "",
                                               info[i].pPortName ? info[i].pPortName : ""});
                }
                return true;
            }
        }
        return false;
    }
};

}  // namespace

PrinterQueues& win32_printers() {
    static Win32Printers printers;
    return printers;
}

}  // namespace vx
