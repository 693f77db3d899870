#include <gtest/gtest.h>

#include "app/message_format.h"

namespace vx {
namespace {

struct IntCase {
    const char* text;
    long long value;
    const char* expected;
};

// One integer argument, as message_int passes it.
const IntCase int_cases[] = {
    {"Bank %d", 7, "Bank 7"},
    {"Bank %i of", -3, "Bank -3 of"},
    {"%05d|", 42, "00042|"},
    {"%-4d|", 42, "42  |"},
    {"%+d", 5, "+5"},
    {"% d", 5, " 5"},
    {"%.3d", 5, "005"},
    {"%x %%", 255, "ff %"},
    {"%#X", 255, "0XFF"},
    {"%o", 8, "10"},
    {"%u", -1, "4294967295"},    // 32-bit like the Windows target
    {"%ld", 4294967297LL, "1"},  // l is 32 bits there too
    {"%lld", 4294967297LL, "4294967297"},
    {"%hd", 70000, "4464"},
    {"%hhu", 300, "44"},
    {"%c!", 'A', "A!"},
    {"100%% at %d", 9, "100% at 9"},
    {"no conversion", 1, "no conversion"},  // the argument is surplus
    {"50%% done", 1, "50% done"},           // formatted like printf, surplus argument
    {"%d and %d", 1, "%d and %d"},          // would read a second argument
    {"%s", 1, "%s"},                        // would read a string
    {"%*d", 1, "%*d"},
    {"%n", 1, "%n"},
    {"%p", 1, "%p"},
    {"%f", 1, "%f"},
    {"%1$d", 1, "%1$d"},
    {"%Lf", 1, "%Lf"},
    {"%zd", 1, "%zd"},
    {"%lc", 65, "%lc"},
    {"%.2c", 65, "%.2c"},
    {"Bank %d %", 1, "Bank %d %"},  // a lone % at the end
    {"%99999d", 1, "%99999d"},      // absurd width
    {"%5%d", 1, "%5%d"},
    {"", 1, ""},
};

class IntFormat : public testing::TestWithParam<IntCase> {};

TEST_P(IntFormat, FormatsOnlyWhatMatches) {
    const IntCase& c = GetParam();
    EXPECT_EQ(format_catalogue(c.text, {c.value}), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, IntFormat, testing::ValuesIn(int_cases));

struct StrCase {
    const char* text;
    const char* value;
    const char* expected;
};

const StrCase str_cases[] = {
    {"Sending file %s", "a.bin", "Sending file a.bin"},
    {"[%10s]", "ab", "[        ab]"},
    {"[%-4s]", "ab", "[ab  ]"},
    {"[%.2s]", "abcdef", "[ab]"},
    {"%s", nullptr, "(null)"},
    {"%d", "x", "%d"},
    {"%s %s", "x", "%s %s"},
    {"%ls", "x", "%ls"},
    {"%S", "x", "%S"},
    {"%hs", "x", "%hs"},
    {"100%%", "x", "100%"},  // no conversion: the argument is surplus
};

class StrFormat : public testing::TestWithParam<StrCase> {};

TEST_P(StrFormat, FormatsOnlyWhatMatches) {
    const StrCase& c = GetParam();
    EXPECT_EQ(format_catalogue(c.text, {c.value}), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, StrFormat, testing::ValuesIn(str_cases));

TEST(FormatCatalogue, SeveralArgumentsInOrder) {
    const char* t = "Printer %s uses %s; free %s first";
    EXPECT_EQ(format_catalogue(t, {"P1", "COM1", "COM1"}), "Printer P1 uses COM1; free COM1 first");
    EXPECT_EQ(format_catalogue(t, {"P1", "COM1"}), t);  // would read a third argument
    EXPECT_EQ(format_catalogue("%s at %d", {"x", 3}), "x at 3");
    EXPECT_EQ(format_catalogue("%s at %d", {3, "x"}), "%s at %d");
    EXPECT_TRUE(format_accepts(
        "%s %s %s", {FormatArgKind::string, FormatArgKind::string, FormatArgKind::string}));
    EXPECT_FALSE(format_accepts(nullptr, {}));
    EXPECT_EQ(format_catalogue(nullptr, {1}), "");
}

// A text may use fewer arguments than the caller passes, like printf: its conversions take
// the leading arguments in order and must match their kinds.
TEST(FormatCatalogue, SurplusArgumentsAreIgnored) {
    const struct {
        const char* text;
        const char* expected;
    } three_strings[] = {
        {"Printer %s uses %s; free %s first", "Printer P1 uses COM1; free COM2 first"},
        {"Printer %s uses %s", "Printer P1 uses COM1"},
        {"Printer %-4s|", "Printer P1  |"},
        {"Free the port first", "Free the port first"},
        {"100%% busy", "100% busy"},
        {"%s %s %s %s", "%s %s %s %s"},  // a fourth argument was not passed
        {"%s %d", "%s %d"},              // the second argument is a string
        {"%d", "%d"},
        {"%s %n", "%s %n"},
        {"%2$s", "%2$s"},
    };
    for (const auto& c : three_strings) {
        EXPECT_EQ(format_catalogue(c.text, {"P1", "COM1", "COM2"}), c.expected) << c.text;
    }
    const struct {
        const char* text;
        const char* expected;
    } string_then_int[] = {
        {"%s at %d", "x at 3"},   {"file %s", "file x"},
        {"nothing", "nothing"},   {"%d", "%d"},  // the first argument is a string
        {"%s %s", "%s %s"},                      // the second is an integer
        {"%s %d %d", "%s %d %d"},
    };
    for (const auto& c : string_then_int) {
        EXPECT_EQ(format_catalogue(c.text, {"x", 3}), c.expected) << c.text;
    }
    using K = FormatArgKind;
    EXPECT_TRUE(format_accepts("%s", {K::string, K::integer}));
    EXPECT_TRUE(format_accepts("none", {K::string}));
    EXPECT_TRUE(format_accepts("", {}));
    EXPECT_FALSE(format_accepts("%d", {K::string, K::integer}));
    EXPECT_FALSE(format_accepts("%s", {}));
}

TEST(FormatCatalogue, LongResultIsNotCut) {
    std::string text(400, 'x');
    text += "%300d";
    std::string out = format_catalogue(text.c_str(), {1});
    EXPECT_EQ(out.size(), 700u);
    EXPECT_EQ(out.back(), '1');
}

}  // namespace
}  // namespace vx
