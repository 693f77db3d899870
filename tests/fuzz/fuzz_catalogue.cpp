// libFuzzer target: arbitrary bytes as flash.mes, then every text used as a format with the
// argument lists the program passes. A text must never read an argument it was not given.
#include <cstddef>
#include <cstdint>

#include "app/catalogue.h"
#include "app/message_format.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static vx::MessageCatalogue catalogue(vx::native_platform());
    catalogue.parse(data, size);
    for (uint32_t id = 0; id < 64; ++id) {
        const char* text = catalogue.get_message(static_cast<uint16_t>(id));
        vx::format_catalogue(text, {});
        vx::format_catalogue(text, {static_cast<long long>(id) - 32});
        vx::format_catalogue(text, {"image.bin"});
        vx::format_catalogue(text, {"printer", "COM1", "COM1"});
        vx::format_catalogue(text, {"6, 0, 0, 5", "x86 001"});
        vx::format_catalogue(text, {nullptr});
    }
    // The texts themselves, as formats over the same lists.
    const std::string whole(reinterpret_cast<const char*>(data), size);
    vx::format_catalogue(whole.c_str(), {1, 2});
    vx::format_catalogue(whole.c_str(), {"a", 7});
    return 0;
}
