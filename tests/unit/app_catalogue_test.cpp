#include <gtest/gtest.h>

#include <filesystem>

#include "app/message_format.h"
#include "app_fixture.h"

namespace vx::test {
namespace {

struct Lookup {
    uint16_t id;
    const char* text;
};

struct ParseCase {
    const char* name;
    std::string file;
    size_t entries;
    std::vector<Lookup> lookups;
};

const char* const NONE = "no message available";

const ParseCase parse_cases[] = {
    {"simple", "31,Hello", 1, {{31, "Hello"}, {0, NONE}}},
    {"leading blank kept", "7, Bank %d", 1, {{7, " Bank %d"}}},
    {"commas in text", "12,a,b", 1, {{12, "a,b"}}},
    {"first of duplicates", "5,first\r\n5,second", 2, {{5, "first"}}},
    {"16-bit wrap", "65567,x", 1, {{31, "x"}}},
    {"wrap loses to earlier", "31,a\n65567,b", 2, {{31, "a"}}},
    {"negative id", "-1,minus", 1, {{65535, "minus"}}},
    {"sign and white space", " \t+40,plus", 1, {{40, "plus"}}},
    {"no digits", "x1,t", 1, {{0, "t"}, {1, NONE}}},
    {"digits then junk", "12ab,t", 1, {{12, "t"}}},
    {"joined id field", "note\r\n40,Stop", 1, {{0, "Stop"}, {40, NONE}}},
    {"final line break adds id 0", "1,a\r\n", 2, {{1, "a"}, {0, ""}}},
    {"no final line break", "1,a\r\n2,b", 2, {{2, "b"}, {0, NONE}}},
    {"lone CR and LF", "1,a\r2,b\n3,c", 3, {{1, "a"}, {2, "b"}, {3, "c"}}},
    {"blank lines", "1,a\r\n\r\n\r\n2,b", 2, {{2, "b"}}},
    {"empty text", "9,", 1, {{9, ""}}},
    {"last line without comma", "1,a\nzz", 2, {{1, "a"}, {0, ""}}},
    {"huge id saturates", "99999999999999999999,x", 1, {{65535, "x"}}},
    {"embedded NUL in id field", std::string("1,a\nx\0y,b", 9), 2, {{1, "a"}, {0, "y,b"}}},
};

class CatalogueParse : public testing::TestWithParam<ParseCase> {};

TEST_P(CatalogueParse, Entries) {
    const ParseCase& c = GetParam();
    AppFixture app;
    app.dir.write("flash.mes", c.file);
    EXPECT_EQ(app.catalogue.load_catalogue(app.dir.file("flash.mes").c_str()), 1);
    EXPECT_EQ(app.catalogue.size(), c.entries);
    for (const Lookup& l : c.lookups) {
        EXPECT_STREQ(app.catalogue.get_message(l.id), l.text) << "id " << l.id;
    }
    EXPECT_TRUE(app.fake.ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, CatalogueParse, testing::ValuesIn(parse_cases),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n) {
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             }
                             return n;
                         });

TEST(Catalogue, EmptyBeforeLoading) {
    FakePlatform fake;
    MessageCatalogue cat(fake.platform);
    EXPECT_STREQ(cat.get_message(0), NONE);
    EXPECT_STREQ(cat.get_message(28), NONE);
}

TEST(Catalogue, LongFieldsAreCut) {
    AppFixture app;
    std::string id(300, ' ');
    id += "42";  // beyond the 259 characters kept of the id field: no digits left
    std::string text(400, 't');
    app.dir.write("flash.mes", "1," + text + "\r\n" + id + ",x");
    ASSERT_EQ(app.catalogue.load_catalogue(app.dir.file("flash.mes").c_str()), 1);
    EXPECT_EQ(std::string(app.catalogue.get_message(1)), std::string(258, 't'));
    EXPECT_STREQ(app.catalogue.get_message(0), "x");
    EXPECT_STREQ(app.catalogue.get_message(42), NONE);
}

TEST(Catalogue, BinaryGarbageIsSafe) {
    AppFixture app;
    std::string junk;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1103515245u + 12345u;
        junk += static_cast<char>(x >> 24);
    }
    app.dir.write("flash.mes", junk);
    EXPECT_EQ(app.catalogue.load_catalogue(app.dir.file("flash.mes").c_str()), 1);
    for (uint32_t id = 0; id < 65536; id += 97) {
        EXPECT_LE(std::string(app.catalogue.get_message(static_cast<uint16_t>(id))).size(), 258u);
    }
}

struct FailCase {
    const char* name;
    int kind;  // 0 missing, 1 empty, 2 directory
    const char* caption_start;
};

TEST(Catalogue, UnreadableFilesShowABoxInEveryMode) {
    const FailCase cases[] = {
        {"missing", 0, "Error : CreateFile : "},
        {"empty", 1, "Error : VirtualAlloc FAILED !"},
        {"directory", 2, "Error : CreateFile : "},
    };
    for (const FailCase& c : cases) {
        AppFixture app;
        app.flash.report.set_mode(2);  // the catalogue box does not care
        std::string path = app.dir.file("flash.mes");
        if (c.kind == 1)
            app.dir.write("flash.mes", "");
        if (c.kind == 2)
            std::filesystem::create_directory(path);
        EXPECT_EQ(app.catalogue.load_catalogue(path.c_str()), 0) << c.name;
        ASSERT_EQ(app.fake.ui.boxes.size(), 1u) << c.name;
        const BoxRecord& box = app.fake.ui.boxes[0];
        EXPECT_EQ(box.caption.rfind(c.caption_start, 0), 0u) << box.caption;
        if (c.kind != 1) {
            EXPECT_EQ(box.caption, std::string(c.caption_start) + path);
        }
        EXPECT_EQ(box.type, BOX_ICONINFORMATION);
        EXPECT_STREQ(app.catalogue.get_message(0), NONE);
        EXPECT_FALSE(app.dir.exists("FlashTrace.dbg"));
    }
}

TEST(Catalogue, ShippedFileHasEveryIdWithItsPlaceholders) {
    namespace fs = std::filesystem;
    const fs::path shipped = fs::path(__FILE__).parent_path() / ".." / ".." / "res" / "flash.mes";
    if (!fs::exists(shipped))
        GTEST_SKIP() << "source tree not reachable from here";
    FakePlatform fake;
    MessageCatalogue cat(fake.platform);
    ASSERT_EQ(cat.load_catalogue(shipped.string().c_str()), 1);
    EXPECT_STREQ(cat.get_message(0), NONE);  // no final line break
    // 18 is shown both formatted with a bank number and as it stands, so it has no placeholder.
    const uint16_t plain[] = {2,  3,  4,  5,  10, 15, 17, 18, 19, 25, 27, 28, 29, 30, 31,
                              32, 33, 35, 36, 37, 38, 39, 40, 42, 43, 44, 45, 46, 47};
    for (uint16_t id : plain) {
        EXPECT_STRNE(cat.get_message(id), NONE) << id;
        EXPECT_EQ(std::string(cat.get_message(id)).find('%'), std::string::npos) << id;
    }
    const uint16_t one_int[] = {7, 8, 13, 14, 16, 21, 22, 23, 24};
    for (uint16_t id : one_int) {
        EXPECT_TRUE(format_accepts(cat.get_message(id), {FormatArgKind::integer})) << id;
    }
    EXPECT_TRUE(format_accepts(cat.get_message(20), {FormatArgKind::string}));
    EXPECT_TRUE(format_accepts(cat.get_message(41), {FormatArgKind::string, FormatArgKind::string,
                                                     FormatArgKind::string}));
}

}  // namespace
}  // namespace vx::test
