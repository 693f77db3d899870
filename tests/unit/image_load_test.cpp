#include <gtest/gtest.h>

#include <string>

#include "app/catalogue.h"
#include "app/cls_flash.h"
#include "fake_platform.h"

namespace {

using namespace vx;

// Files that fail at a chosen stage.
class StageFiles : public FileSystem {
public:
    FileReadResult result;
    std::vector<uint8_t> content;
    bool exists(const std::string&) override { return true; }
    void remove(const std::string&) override {}
    std::string startup_directory() override { return "."; }
    char path_separator() override { return '/'; }
    FileReadResult read_whole(const std::string&, std::vector<uint8_t>& out) override {
        out = result.failed_at == FileStage::ok ? content : std::vector<uint8_t>(3, 1);
        return result;
    }
    UniqueFile open_for_writing(const std::string& path, bool append) override {
        return native_platform().files.open_for_writing(path, append);
    }
};

struct LoadFixture {
    test::TempDir dir;
    test::FakePlatform fake;
    StageFiles files;
    Platform platform{fake.clock,
                      fake.errors,
                      files,
                      fake.platform.profile,
                      fake.serial,
                      fake.ui,
                      fake.services,
                      fake.printers,
                      fake.registry,
                      fake.platform.usb,
                      fake.platform.parallel};
    MessageCatalogue catalogue{platform};
    Cls_flash flash{platform, catalogue};
};

TEST(LoadFile2Send, EachFailingStageShowsItsText) {
    const struct {
        FileStage stage;
        const char* caption;
    } cases[] = {
        {FileStage::open, "Error : CreateFile : fw.bin"},
        {FileStage::size, "Error : GetFileSize : fw.bin"},
        {FileStage::alloc, "Error : VirtualAlloc FAILED !"},
        {FileStage::read, "Error : ReadFile : fw.bin"},
    };
    for (const auto& c : cases) {
        LoadFixture f;
        f.flash.flash_mode = INTERACTIVE_MODE;
        f.files.result = {c.stage, 1000 + uint32_t(c.stage)};
        std::vector<uint8_t> image{9, 9};
        EXPECT_EQ(f.flash.load_file2send("fw.bin", image), 0u);
        EXPECT_TRUE(image.empty());  // nothing handed over after a failure
        EXPECT_EQ(f.fake.errors.code, 1000 + uint32_t(c.stage));
        ASSERT_EQ(f.fake.ui.boxes.size(), 1u);
        EXPECT_EQ(f.fake.ui.boxes[0].caption, c.caption);
        EXPECT_EQ(f.fake.ui.boxes[0].text, "system error " + std::to_string(f.fake.errors.code));
    }
}

TEST(LoadFile2Send, EmptyFileFailsWithoutMessage) {
    LoadFixture f;
    f.flash.flash_mode = INTERACTIVE_MODE;
    std::vector<uint8_t> image;
    EXPECT_EQ(f.flash.load_file2send("fw.bin", image), 0u);
    EXPECT_TRUE(f.fake.ui.boxes.empty());
}

TEST(LoadFile2Send, ReturnsTheWholeFileAndTracesItsName) {
    LoadFixture f;
    f.flash.trace_on = true;
    f.files.content.assign(40000, 0x5A);
    std::vector<uint8_t> image;
    EXPECT_EQ(f.flash.load_file2send("fw.bin", image), 40000u);
    EXPECT_EQ(image, f.files.content);
    std::fflush(f.flash.trace_file);
    std::string trace = f.dir.read("FlashTrace.dbg");
    if (trace.size() >= 2 && trace.compare(trace.size() - 2, 2, "\r\n") == 0) {
        trace.erase(trace.size() - 2, 1);  // text mode on Windows
    }
    EXPECT_EQ(trace, "[12:34:56][FLASH][load_file2send] Firmware FileName = fw.bin\n");
}

TEST(LoadFile2Send, RealFileFromDisk) {
    test::TempDir dir;
    test::FakePlatform fake;
    MessageCatalogue catalogue{fake.platform};
    Cls_flash flash{fake.platform, catalogue};
    dir.write("img.bin", std::string(20000, 'x'));
    std::vector<uint8_t> image;
    EXPECT_EQ(flash.load_file2send("img.bin", image), 20000u);
    EXPECT_EQ(flash.load_file2send("missing.bin", image), 0u);
}

}  // namespace
