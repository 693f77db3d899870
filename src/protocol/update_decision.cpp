// Update decision from the printer's firmware release: the printer names its release, the
// release becomes a key, and the key's entry in flash.ini's CONDITIONAL_TABLE names the
// firmware file to load. No entry: the printer is left as it is.
#include "protocol/update_decision.h"

#include <algorithm>
#include <cstring>

#include "protocol/port_exchange.h"
#include "protocol/printer_protocol.h"

namespace vx {

namespace {

constexpr uint8_t RELEASE_REQUEST[3] = {0x1B, 0x20, 0x62};        // ESC SP b
constexpr uint8_t CLOSING_COMMAND[4] = {0x1B, 0x6C, 0x1B, 0x6E};  // ESC l ESC n
constexpr uint32_t RELEASE_TIMEOUT_MS = 500;
constexpr size_t RELEASE_FRAME = 2;  // bytes before and after the text
constexpr size_t VERSION_CHARS = 7;
constexpr size_t SECOND_FIELD_CHARS = 7;
constexpr const char* CONDITIONAL_TABLE = "CONDITIONAL_TABLE";
constexpr const char* NOT_FOUND = "NOT_FOUND";

}  // namespace

bool release_text(const uint8_t* answer, size_t count, std::string& text) {
    text.clear();
    if (answer == nullptr || count < 2 * RELEASE_FRAME) {
        return false;
    }
    const uint8_t* begin = answer + RELEASE_FRAME;
    const uint8_t* end = std::find(begin, begin + (count - 2 * RELEASE_FRAME), 0);
    text.assign(begin, end);
    return true;
}

std::string release_key(std::string_view text) {
    std::string key = "Rel";
    size_t at = 0;
    while (at < VERSION_CHARS && at < text.size() && text[at] != ';') {
        if (text[at] != '.') {
            key += text[at];
        }
        ++at;
    }
    // After seven characters the eighth is skipped, whatever it is; otherwise the second
    // field starts after the ";" that ended the version.
    size_t next = at == VERSION_CHARS ? VERSION_CHARS + 1 : at + 1;
    key += "Ver";
    for (size_t taken = 0; next < text.size() && text[next] != ';' && taken < SECOND_FIELD_CHARS;
         ++next, ++taken) {
        key += text[next];
    }
    return key;
}

UpdateDecision decide_update(ProtocolRun& run, PortBackend& port) {
    run.report.trace_line("\n[FLASH][UpdateMustBeDone]\n");
    run.session.in_download_mode = false;

    purge_port(run.troubles, port);
    write_read_port(run.troubles, port, RELEASE_REQUEST, sizeof RELEASE_REQUEST, nullptr, 0);
    uint8_t answer[RELEASE_ANSWER_MAX] = {};
    const int received =
        read_port_block(run.troubles, port, answer, RELEASE_ANSWER_MAX, RELEASE_TIMEOUT_MS);

    // An answer too short to frame a text counts as no answer.
    std::string release;
    if (received <= 0 || !release_text(answer, static_cast<size_t>(received), release)) {
        run.report.trace_line("[FLASH][UpdateMustBeDone] FW Release request failure.\n");
        write_read_port(run.troubles, port, CLOSING_COMMAND, sizeof CLOSING_COMMAND, nullptr, 0);
        return {UpdateOutcome::no_release, {}};
    }
    // The release and its key are the printer's bytes: logged escaped, looked up as they are.
    run.report.trace_line("[FLASH][UpdateMustBeDone] Found Printer with  release fw %s.\n",
                          escape_control_bytes(release).c_str());

    const std::string key = release_key(release);
    const std::string shown_key = escape_control_bytes(key);
    std::memset(run.config.fw_filename, 0, sizeof run.config.fw_filename);
    ProfileFile& ini = run.platform.profile;
    // Without the section every printer would be told "no firmware found": say what is wrong.
    const uint32_t length =
        ini.has_section(run.config.ini_path, CONDITIONAL_TABLE)
            ? ini.get_string(run.config.ini_path, CONDITIONAL_TABLE, key.c_str(), NOT_FOUND,
                             run.config.fw_filename, sizeof run.config.fw_filename)
            : 0;
    if (length == 0) {
        run.config.fw_filename[0] = '\0';
        return {UpdateOutcome::no_table, shown_key};
    }
    if (std::strcmp(run.config.fw_filename, NOT_FOUND) == 0) {
        run.report.trace_line(
            "[FLASH][UpdateMustBeDone] The printer with fw %s should not be updated .\n",
            shown_key.c_str());
        write_read_port(run.troubles, port, CLOSING_COMMAND, sizeof CLOSING_COMMAND, nullptr, 0);
        return {UpdateOutcome::not_listed, shown_key};
    }
    run.report.trace_line("[FLASH][UpdateMustBeDone] The printer must be updated with fw %s \n",
                          run.config.fw_filename);
    return {UpdateOutcome::update, shown_key};
}

}  // namespace vx
