// DLLs from the system folder only. Technicians start the program elevated from download or
// shared folders that others can write to, so a DLL placed beside the program must never be
// loaded: load-time imports are known system DLLs (and common controls bound by the
// manifest), every other DLL is loaded here, from the system folder.
#include <windows.h>

#include "platform/win32/win32_services.h"

namespace vx {

void restrict_dll_search() {
    // Present from Windows 8 on (and on 7 with its loader update); resolved here so the
    // program still starts where it is missing.
    using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto set_directories = reinterpret_cast<SetDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (set_directories == nullptr || !set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryA("");  // at least not the current directory
    }
}

FARPROC system_proc(const char* dll, const char* name) {
    HMODULE module = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        // A system without the search flags: a full path into the system folder.
        char path[MAX_PATH];
        const UINT n = GetSystemDirectoryA(path, MAX_PATH);
        if (n == 0 || n + 1 + lstrlenA(dll) >= MAX_PATH) {
            return nullptr;
        }
        lstrcatA(path, "\\");
        lstrcatA(path, dll);
        module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    // Kept loaded for the life of the process: the caller keeps the function.
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

}  // namespace vx
