// Our profile-file rules (the Linux build's flash.ini access); Windows uses its own.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "fake_platform.h"
#include "platform/posix/profile_file.h"

namespace vx::test {
namespace {

std::string get(const std::string& file, const char* sec, const char* key, const char* def,
                uint32_t size = 260, uint32_t* count = nullptr) {
    char buf[300];
    std::memset(buf, 'Z', sizeof buf);
    uint32_t n = profile_rules::get_string(&file, sec, key, def, buf, size);
    if (count)
        *count = n;
    return size ? std::string(buf) : std::string("<untouched:") + buf[0] + ">";
}

struct StringCase {
    std::string file;
    const char* section;
    const char* key;
    const char* def;
    uint32_t size;
    const char* expected;
    uint32_t count;
};

const StringCase string_cases[] = {
    {"[ Net ]\r\n  Host  =  \"  a b  \"  \r\n", "net", "HOST", "", 260, "  a b  ", 7},
    {"[s]\r\na=\r\nb\r\n", "s", "a", "dflt  ", 260, "", 0},
    {"[s]\r\na=\r\nb\r\n", "s", "b", "dflt  ", 260, "dflt", 4},
    {"[s]\r\na=\r\nb\r\n", "s", "zz", "dflt  ", 260, "dflt", 4},
    {"[s]\nname1=val1\n", "s", "name1", "", 5, "val1", 4},
    {"[s]\nname1=val1\n", "s", "name1", "", 4, "val", 3},
    {"[s]\nname1=val1\n", "s", "name1", "", 1, "", 0},
    {"[s]\nname1=val1\n", "s", "name1", "", 0, "<untouched:Z>", 0},
    {"[s]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\nj=4\r\n", "s", "k", "d", 260, "1", 1},
    {"[s]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\nj=4\r\n", "s", "j", "d", 260, "d", 1},
    {"[s]\rk=cr\r", "s", "k", "", 260, "cr", 2},
    {"[s]\n\n\n\tk\t=\tv ; not a comment \n", "s", "k", "", 260, "v ; not a comment", 17},
    {"[s]\n;k=commented\n", "s", ";k", "", 260, "commented", 9},
    {"[s]\nk='x\"\n", "s", "k", "", 260, "'x\"", 3},
    {"[s]\nk=\"\n", "s", "k", "", 260, "\"", 1},
    {"[s\nk=1\n", "s", "k", "d", 260, "d", 1},  // "[s" is no header
    {"[s] trailing\nk=1\n", "s", "k", "d", 260, "1", 1},
    {"k=outside\n[s]\n", "s", "k", "d", 260, "d", 1},
    {"[s]\nk=a=b\n", " s ", " K ", "d", 260, "a=b", 3},
    {"\xEF\xBB\xBF[s]\nk=1\n", "s", "k", "d", 260, "d", 1},  // a UTF-8 BOM is not stripped
};

TEST(ProfileRules, GetString) {
    for (const StringCase& c : string_cases) {
        uint32_t n = 99;
        EXPECT_EQ(get(c.file, c.section, c.key, c.def, c.size, &n), c.expected) << c.file;
        EXPECT_EQ(n, c.count) << c.file;
    }
    char buf[8];
    EXPECT_EQ(profile_rules::get_string(nullptr, "s", "k", "miss ", buf, sizeof buf), 4u);
    EXPECT_STREQ(buf, "miss");
}

struct IntCase {
    const char* value;
    int def;
    uint32_t expected;
};

TEST(ProfileRules, GetInt) {
    const IntCase cases[] = {
        {"-1", 0, 4294967295u},
        {"0x1F", 0, 31},
        {"0X1F", 0, 0},
        {"08", 0, 8},
        {"- 5", 0, 0},
        {"42A9", 0, 42},
        {"4294967297", 0, 1},
        {"0o17", 0, 15},
        {"0b101", 0, 5},
        {"+7", 0, 7},
        {"abc", 9, 0},
        {"", 9, 9},
        {"\"12\"", 0, 12},
        {"-0x10", 0, 4294967280u},
        {"0x", 3, 0},
        {"123456789012345678901234567890123", 0, 1849262357u},  // 29 characters parsed
    };
    for (const IntCase& c : cases) {
        std::string file = std::string("[s]\r\nk=") + c.value + "\r\n";
        EXPECT_EQ(profile_rules::get_int(&file, "s", "k", c.def), c.expected) << c.value;
    }
    std::string file = "[s]\r\n";
    EXPECT_EQ(profile_rules::get_int(&file, "s", "k", -5), 4294967291u);
    EXPECT_EQ(profile_rules::get_int(nullptr, "s", "k", 9800), 9800u);
}

std::string write(std::string file, const char* sec, const char* key, const char* value) {
    return profile_rules::write_string(&file, sec, key, value);
}

TEST(ProfileRules, WritesEditInPlace) {
    std::string f = profile_rules::write_string(nullptr, "App1", "key1", "string1");
    f = write(f, "App1", "key2", "string2");
    f = write(f, "App1", "key3", "string3");
    f = write(f, "App2", "key4", "string4");
    EXPECT_EQ(f,
              "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n[App2]\r\nkey4="
              "string4\r\n");

    const std::string start = "; top\r\n\r\n[s]\r\n  k = old\r\n\r\n[t]\r\nx=1";
    f = write(start, "s", "K", "new");
    EXPECT_EQ(f, "; top\r\n\r\n[s]\r\nk=new\r\n\r\n[t]\r\nx=1");
    f = write(f, "u", "a", "b");
    EXPECT_EQ(f, "; top\r\n\r\n[s]\r\nk=new\r\n\r\n[t]\r\nx=1\r\n[u]\r\na=b\r\n");

    // A new key goes after the section's last line, before blank lines and the next header;
    // the file's own line ends stay as they are.
    EXPECT_EQ(write("[a]\nx=1\n\n[b]\n", "A", "y", "2"), "[a]\nx=1\ny=2\r\n\n[b]\n");
    EXPECT_EQ(write("[a]\r\nx=1", "a", "y", "2"), "[a]\r\nx=1\r\ny=2\r\n");
    EXPECT_EQ(write("[a]", "a", "y", "2"), "[a]\r\ny=2\r\n");
    EXPECT_EQ(write("[a]\r\nname\r\n", "a", "NAME", "v"), "[a]\r\nname=v\r\n");
    EXPECT_EQ(write("[s]\r\nk=1\r\n[S]\r\nk=3\r\n", "S", "k", "9"), "[s]\r\nk=9\r\n[S]\r\nk=3\r\n");
    EXPECT_EQ(write("x", "s", "k", "v"), "x\r\n[s]\r\nk=v\r\n");
    EXPECT_EQ(write("x\n", "s", "k", "v"), "x\n[s]\r\nk=v\r\n");
    EXPECT_EQ(write("", "s", "k", ""), "[s]\r\nk=\r\n");
}

TEST(ProfileRules, HasSection) {
    const std::string file =
        "; [commented]\r\n[ GENERAL ]\r\nk=1\r\n[Empty]\r\n[t]x\r\nkey=[v]\r\n";
    struct Case {
        const char* section;
        bool present;
    } cases[] = {{"GENERAL", true}, {"general", true}, {" General ", true},
                 {"Empty", true},   {"t", true},       {"commented", false},
                 {"v", false},      {"", false},       {"GENERAL2", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(profile_rules::has_section(&file, c.section), c.present) << c.section;
    }
    EXPECT_FALSE(profile_rules::has_section(nullptr, "GENERAL"));
    EXPECT_FALSE(profile_rules::has_section(&file, nullptr));
}

TEST(FileProfile, FilesOnDisk) {
    TempDir dir;
    FakeErrors errors;
    FileProfile profile(errors);
    const std::string path = dir.file("p.ini");
    char buf[32];

    EXPECT_EQ(profile.get_string(path.c_str(), "s", "k", "d", buf, sizeof buf), 1u);
    EXPECT_TRUE(profile.write_string(path.c_str(), "s", "k", "v"));  // a new file
    EXPECT_EQ(dir.read("p.ini"), "[s]\r\nk=v\r\n");
    dir.write("p.ini", "[s]\nk=42\n");  // outside edits are seen at once
    EXPECT_EQ(profile.get_int(path.c_str(), "s", "k", 0), 42u);

    const std::string nodir = dir.file("missing/p.ini");
    EXPECT_FALSE(profile.write_string(nodir.c_str(), "s", "k", "v"));
    EXPECT_EQ(errors.code, static_cast<uint32_t>(ENOENT));

    std::filesystem::create_directory(dir.file("d.ini"));
    EXPECT_FALSE(profile.write_string(dir.file("d.ini").c_str(), "s", "k", "v"));
    EXPECT_EQ(profile.get_string(dir.file("d.ini").c_str(), "s", "k", "d", buf, sizeof buf), 1u);

    EXPECT_TRUE(profile.has_section(path.c_str(), "S"));
    EXPECT_FALSE(profile.has_section(path.c_str(), "t"));
    EXPECT_FALSE(profile.has_section(nodir.c_str(), "s"));

    dir.write("u.ini", std::string("\xFF\xFE[\0s\0]\0", 8));
    EXPECT_FALSE(profile.write_string(dir.file("u.ini").c_str(), "s", "k", "v"));
    EXPECT_EQ(dir.read("u.ini").size(), 8u);  // left alone
}

// A rewrite goes to a new file that replaces the old one: a disk that fills up (here: a file
// size limit) leaves the old file whole, and nothing else behind; a kept file keeps its
// permissions; a link named like the file is replaced, not written through.
TEST(FileProfile, RewriteReplacesTheFileWhole) {
    namespace fs = std::filesystem;
    const std::string old_text = "[GENERAL]\r\nK=v\r\n" + std::string(20000, ';') + "\r\n";
    for (const std::string kind : {"kept", "disk full", "link"}) {
        SCOPED_TRACE(kind);
        TempDir dir;
        FakeErrors errors;
        FileProfile profile(errors);
        const std::string path = dir.file("flash.ini");
        dir.write(kind == "link" ? "elsewhere.ini" : "flash.ini", old_text);
        if (kind == "link")
            fs::create_symlink("elsewhere.ini", path);
        ::chmod(path.c_str(), 0640);

        rlimit before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        rlimit limit = before;
        if (kind == "disk full")
            limit.rlim_cur = 8192;
        auto* const handler = std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a signal
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool ok = profile.write_string(path.c_str(), "PORT SETTING", "PORT", "USB01");
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, handler);

        EXPECT_EQ(ok, kind != "disk full");
        EXPECT_EQ(dir.read("flash.ini"),
                  ok ? old_text + "[PORT SETTING]\r\nPORT=USB01\r\n" : old_text);
        struct stat st;
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        if (kind == "link") {
            EXPECT_EQ(dir.read("elsewhere.ini"), old_text);
        } else {
            EXPECT_EQ(st.st_mode & 07777, 0640u);
        }
        const auto files = std::distance(fs::directory_iterator(dir.path()), {});
        EXPECT_EQ(files, kind == "link" ? 2 : 1);  // no temporary file left
    }
}

}  // namespace
}  // namespace vx::test
