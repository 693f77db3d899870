// libFuzzer target: arbitrary bytes as the printer's release answer, through the release text
// to the CONDITIONAL_TABLE key. Any read past the answer, a key longer than 20 characters, or
// a key that does not take its parts from the release text is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/emulation.h"
#include "protocol/update_decision.h"

namespace {

void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exactly sized copy at most as long as one read, so a read one byte too far is caught.
    const size_t count = std::min<size_t>(size, vx::RELEASE_ANSWER_MAX);
    std::vector<uint8_t> answer(data, data + count);

    std::string text;
    const bool ok = vx::release_text(answer.data(), answer.size(), text);
    check(ok == (count >= 4));
    if (!ok)
        return 0;
    check(text.size() <= count - 4);
    check(text.find('\0') == std::string::npos);

    const std::string key = vx::release_key(text);
    check(key.size() <= vx::RELEASE_KEY_MAX);
    check(key.rfind("Rel", 0) == 0);

    // The version part: the first characters up to a ";" (at most 7 looked at), dots dropped.
    const size_t looked = std::min<size_t>({text.find(';'), size_t{7}, text.size()});
    std::string version;
    for (size_t i = 0; i < looked; ++i) {
        if (text[i] != '.')
            version += text[i];
    }
    check(key.compare(3, version.size(), version) == 0);
    check(key.compare(3 + version.size(), 3, "Ver") == 0);
    const std::string second = key.substr(3 + version.size() + 3);
    check(second.size() <= 7);
    check(second.find(';') == std::string::npos);
    if (!second.empty())
        check(text.find(second, looked) != std::string::npos);

    // The first byte as the emulation's setting byte: the command stays hex text.
    const std::string command = vx::emulation_command(vx::EMULATION_FINAL, answer[0]);
    check(command.find_first_not_of("0123456789abcdef") == std::string::npos);
    return 0;
}
