// The toolkit's key under HKEY_LOCAL_MACHINE. Opened for reading only: we never write there,
// and asking for more access fails for a standard user, which would hide the toolkit's
// choice. The toolkit is a 32-bit program, so its key lives in the 32-bit view; a 64-bit
// process must ask for that view or it reads the wrong branch.
#include <windows.h>

#include "platform/win32/win32_services.h"

namespace vx {
namespace {

constexpr const char* TOOLKIT_KEY = "SOFTWARE\\Norvane\\Vx3EToolKit\\InstallOption";

class Win32ToolkitKey final : public ToolkitKey {
public:
    explicit Win32ToolkitKey(HKEY key) : key_(key) {}
    ~Win32ToolkitKey() override { RegCloseKey(key_); }
    Win32ToolkitKey(const Win32ToolkitKey&) = delete;
    Win32ToolkitKey& operator=(const Win32ToolkitKey&) = delete;

    bool read_value(const char* name, uint8_t* buffer, uint32_t capacity, uint32_t& size) override {
        DWORD type = 0;
        DWORD bytes = capacity;
        const LONG rc = RegQueryValueExA(key_, name, nullptr, &type, buffer, &bytes);
        if (rc != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(rc));
            size = 0;
            return false;
        }
        size = bytes;
        return true;
    }

private:
    HKEY key_;
};

class Win32Registry final : public ToolkitRegistry {
public:
    std::unique_ptr<ToolkitKey> open_toolkit_key() override {
        HKEY key = nullptr;
        const LONG rc =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, TOOLKIT_KEY, 0, KEY_READ | KEY_WOW64_32KEY, &key);
        if (rc != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(rc));
            return nullptr;
        }
        return std::make_unique<Win32ToolkitKey>(key);
    }
};

}  // namespace

ToolkitRegistry& win32_registry() {
    static Win32Registry registry;
    return registry;
}

}  // namespace vx
