// The update decision: release text and key building as tables, then the whole decision
// against the simulated printer and a flash.ini on disk.
#include "protocol/update_decision.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/transfer_texts.h"
#include "sim_fixture.h"

namespace vx::test {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes RELEASE_REQUEST = {0x1B, 0x20, 0x62};
const Bytes CLOSING_COMMAND = {0x1B, 0x6C, 0x1B, 0x6E};

// ---- the key ----

struct KeyCase {
    const char* text;
    const char* key;
};

class ReleaseKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(ReleaseKey, Table) {
    const std::string key = release_key(GetParam().text);
    EXPECT_EQ(key, GetParam().key);
    EXPECT_LE(key.size(), RELEASE_KEY_MAX);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ReleaseKey,
    ::testing::Values(KeyCase{"1.05;A01;", "Rel105VerA01"},
                      // the 8th character is skipped, the 9th starts the second part
                      KeyCase{"12345678;B;", "Rel1234567Ver"},
                      KeyCase{"123456789;B;", "Rel1234567Ver9"},
                      KeyCase{"1234567;AB;", "Rel1234567VerAB"},  // 7 characters, then ";"
                      KeyCase{"1.2.3;X;", "Rel123VerX"},
                      KeyCase{"1.2.3.45;X;", "Rel1234Ver"},             // dots count as examined
                      KeyCase{";B01;", "RelVerB01"},                    // empty version
                      KeyCase{"1.05;;", "Rel105Ver"},                   // empty second field
                      KeyCase{"1.05;A.1;", "Rel105VerA.1"},             // dots kept in the second
                      KeyCase{"1.05;ABCDEFGHIJ;", "Rel105VerABCDEFG"},  // at most 7
                      KeyCase{"1.05;A01;B02;", "Rel105VerA01"},         // only up to the second ";"
                      KeyCase{"1.05;A01", "Rel105VerA01"},              // no closing ";"
                      KeyCase{"1.05", "Rel105Ver"},                     // no ";" at all
                      KeyCase{"....", "RelVer"},                        // dots only
                      KeyCase{".......;Z;", "RelVerZ"},
                      KeyCase{"1234567", "Rel1234567Ver"},   // ends where the 8th would be
                      KeyCase{"12345678", "Rel1234567Ver"},  // ends on the skipped one
                      KeyCase{"123456789ABCDEFGHIJ", "Rel1234567Ver9ABCDEF"},
                      KeyCase{"", "RelVer"}));

// ---- the release text ----

struct TextCase {
    const char* name;
    Bytes answer;
    bool ok;
    std::string text;
};

class ReleaseText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ReleaseText, Table) {
    const TextCase& c = GetParam();
    std::string text = "stale";
    EXPECT_EQ(release_text(c.answer.data(), c.answer.size(), text), c.ok);
    EXPECT_EQ(text, c.text);
}

Bytes framed(const std::string& text) {
    Bytes b = {0x02, 0x20};
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0x20);
    b.push_back(0x03);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReleaseText,
    ::testing::Values(TextCase{"empty", {}, false, ""}, TextCase{"one_byte", {0x02}, false, ""},
                      TextCase{"two_bytes", {0x02, 0x20}, false, ""},
                      TextCase{"three_bytes", {0x02, 0x20, 0x31}, false, ""},
                      TextCase{"frame_only", {0x02, 0x20, 0x20, 0x03}, true, ""},
                      TextCase{"framed", framed("1.05;A01;"), true, "1.05;A01;"},
                      TextCase{"nul_ends_the_text", framed(std::string("1.0\0X;", 6)), true,
                               "1.0"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the decision against the printer ----

struct DecisionCase {
    const char* name;
    vxsim::ReleaseAnswer answer;
    const char* ini;  // null: no flash.ini at all
    int result;
    std::string fw_filename;
    std::string ko;
    std::string trace;  // last line that must be there
    bool closing;
};

vxsim::ReleaseAnswer text_answer(const char* release) {
    vxsim::ReleaseAnswer a;
    a.release = release;
    return a;
}

vxsim::ReleaseAnswer raw_answer(Bytes bytes) {
    vxsim::ReleaseAnswer a;
    a.kind = vxsim::ReleaseAnswer::raw;
    a.bytes = std::move(bytes);
    return a;
}

vxsim::ReleaseAnswer silence() {
    vxsim::ReleaseAnswer a;
    a.kind = vxsim::ReleaseAnswer::silence;
    return a;
}

const char* const TABLE_INI =
    "[GENERAL]\nCONDITIONAL_TABLE=1\n[CONDITIONAL_TABLE]\nRel104VerA01=old.bin\n"
    "Rel105VerA01=new.bin\nRelVer=blank.bin\nRel105VerA02=\n";
const std::string ERROR_12 = "[Error 12] FW Release request failure ! \n";
const std::string ERROR_13 = "[Error 13] INI Section CONDITIONAL_TABLE not present !\n";

class Decision : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(Decision, Table) {
    const DecisionCase& c = GetParam();
    vxsim::Config cfg;
    cfg.release = c.answer;
    SimFixture f(cfg);
    if (c.ini != nullptr)
        f.ini(c.ini);
    std::snprintf(f.config.fw_filename, sizeof f.config.fw_filename, "configured.bin");
    f.open();
    f.session.in_download_mode = true;

    // The decision with the KO line the procedure writes for it.
    const UpdateDecision decision = decide_update(f.run, f.port());
    report_update_decision(f.report, decision);
    EXPECT_EQ(decision.needed(), c.result == 1);
    EXPECT_FALSE(f.session.in_download_mode);
    EXPECT_EQ(std::string(f.config.fw_filename), c.fw_filename);
    EXPECT_EQ(f.ko(), c.ko);
    EXPECT_TRUE(in_order(f.trace(), {"\n[FLASH][UpdateMustBeDone]\n", c.trace}));
    Bytes expected = RELEASE_REQUEST;
    if (c.closing)
        expected.insert(expected.end(), CLOSING_COMMAND.begin(), CLOSING_COMMAND.end());
    EXPECT_EQ(f.received(), expected);
    EXPECT_EQ(f.printer.closing_commands(), c.closing ? 1u : 0u);
}

const std::string NO_ANSWER = "[FLASH][UpdateMustBeDone] FW Release request failure.\n";

INSTANTIATE_TEST_SUITE_P(
    Releases, Decision,
    ::testing::Values(
        DecisionCase{"entry_found", text_answer("1.05;A01;"), TABLE_INI, 1, "new.bin", "",
                     "[FLASH][UpdateMustBeDone] The printer must be updated with fw new.bin \n",
                     false},
        DecisionCase{"release_traced", text_answer("1.04;A01;"), TABLE_INI, 1, "old.bin", "",
                     "[FLASH][UpdateMustBeDone] Found Printer with  release fw 1.04;A01;.\n",
                     false},
        DecisionCase{"no_entry", text_answer("2.00;A01;"), TABLE_INI, 0, "NOT_FOUND",
                     "[Error 14] No firmware found as requested. Actual VX3 firmware is "
                     "Rel200VerA01\n",
                     "[FLASH][UpdateMustBeDone] The printer with fw Rel200VerA01 should not be "
                     "updated .\n",
                     true},
        DecisionCase{"no_answer", silence(), TABLE_INI, 0, "configured.bin", ERROR_12, NO_ANSWER,
                     true},
        DecisionCase{"two_byte_answer", raw_answer({0x02, 0x03}), TABLE_INI, 0, "configured.bin",
                     ERROR_12, NO_ANSWER, true},
        DecisionCase{"three_byte_answer", raw_answer({0x02, 0x20, 0x03}), TABLE_INI, 0,
                     "configured.bin", ERROR_12, NO_ANSWER, true},
        DecisionCase{"frame_only_answer", raw_answer({0x02, 0x20, 0x20, 0x03}), TABLE_INI, 1,
                     "blank.bin", "", "must be updated with fw blank.bin", false},
        DecisionCase{"section_missing", text_answer("1.05;A01;"),
                     "[GENERAL]\nCONDITIONAL_TABLE=1\nRel105VerA01=new.bin\n", 0, "", ERROR_13,
                     "Found Printer with  release fw 1.05;A01;", false},
        DecisionCase{"no_flash_ini", text_answer("1.05;A01;"), nullptr, 0, "", ERROR_13,
                     "Found Printer with  release fw 1.05;A01;", false},
        DecisionCase{"empty_value", text_answer("1.05;A02;"), TABLE_INI, 0, "", ERROR_13,
                     "Found Printer with  release fw 1.05;A02;", false},
        DecisionCase{"empty_section_has_no_entry", text_answer("1.05;A01;"),
                     "[CONDITIONAL_TABLE]\n[GENERAL]\nRel105VerA01=new.bin\n", 0, "NOT_FOUND",
                     "[Error 14] No firmware found as requested. Actual VX3 firmware is "
                     "Rel105VerA01\n",
                     "should not be updated", true},
        // Control bytes of the printer are logged escaped: no line of ours can be forged.
        DecisionCase{"control_bytes_escaped", text_answer("1\r\nOK\\;A\x1b\x85;"), TABLE_INI, 0,
                     "NOT_FOUND",
                     "[Error 14] No firmware found as requested. Actual VX3 firmware is "
                     "Rel1\\x0d\\x0aOK\\x5cVerA\\x1b\\x85\n",
                     "[FLASH][UpdateMustBeDone] Found Printer with  release fw "
                     "1\\x0d\\x0aOK\\x5c;A\\x1b\\x85;.\n",
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

// A chatty printer: only the first 100 bytes are read, and a format character in the release
// reaches the trace as text.
TEST(DecisionAnswer, LongAnswerIsCutAtOneHundredBytes) {
    vxsim::Config cfg;
    cfg.release.release = "%s%n;" + std::string(150, 'x');
    SimFixture f(cfg);
    f.ini(TABLE_INI);
    f.open();
    const UpdateDecision decision = decide_update(f.run, f.port());
    EXPECT_EQ(decision.outcome, UpdateOutcome::not_listed);
    report_update_decision(f.report, decision);
    const std::string shown = "%s%n;" + std::string(RELEASE_ANSWER_MAX - 4 - 5, 'x');
    EXPECT_TRUE(in_order(f.trace(), {"release fw " + shown + ".\n"}));
    EXPECT_EQ(f.ko(),
              "[Error 14] No firmware found as requested. Actual VX3 firmware is "
              "Rel%s%nVerxxxxxxx\n");
}

// A file name longer than the field is cut to 259 characters, never written past it.
TEST(DecisionAnswer, LongFileNameIsBounded) {
    vxsim::Config cfg;
    SimFixture f(cfg);
    f.ini("[CONDITIONAL_TABLE]\nRel105VerA01=" + std::string(400, 'n') + "\n");
    f.open();
    EXPECT_TRUE(decide_update(f.run, f.port()).needed());
    EXPECT_EQ(std::string(f.config.fw_filename), std::string(PATH_CHARS - 1, 'n'));
}

}  // namespace
}  // namespace vx::test
