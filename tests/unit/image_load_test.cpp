#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "image_fixture.h"

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
    FileReadResult read_whole(const std::string&, std::vector<uint8_t>& out, uint64_t) override {
        out = result.failed_at == FileStage::ok ? content : std::vector<uint8_t>(3, 1);
        return result;
    }
    WriteOpen open_for_writing(const std::string& path, bool append) override {
        return native_platform().files.open_for_writing(path, append);
    }
};

struct StagePlatform {
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
};

struct LoadFixture : StagePlatform, test::SessionParts {
    LoadFixture() : SessionParts(platform, true) {}
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
        {FileStage::too_large, "Error : GetFileSize : fw.bin"},
    };
    for (const auto& c : cases) {
        LoadFixture f;
        f.report.set_mode(INTERACTIVE_MODE);
        f.files.result = {c.stage, 1000 + uint32_t(c.stage)};
        std::vector<uint8_t> image{9, 9};
        EXPECT_EQ(load_image_for_transfer(f.session, f.report, f.files, "fw.bin", image), 0u);
        EXPECT_TRUE(image.empty());  // nothing handed over after a failure
        ASSERT_EQ(f.fake.ui.boxes.size(), 1u);
        EXPECT_EQ(f.fake.ui.boxes[0].caption, c.caption);
        // The box names the failed call's own error, not whatever was last set.
        EXPECT_EQ(f.fake.ui.boxes[0].text, "system error " + std::to_string(1000 + int(c.stage)));
    }
}

TEST(LoadFile2Send, EmptyFileFailsWithoutMessage) {
    LoadFixture f;
    f.report.set_mode(INTERACTIVE_MODE);
    std::vector<uint8_t> image;
    EXPECT_EQ(load_image_for_transfer(f.session, f.report, f.files, "fw.bin", image), 0u);
    EXPECT_TRUE(f.fake.ui.boxes.empty());
}

TEST(LoadFile2Send, ReturnsTheWholeFileAndTracesItsName) {
    LoadFixture f;
    f.files.content.assign(2 * PAGE_SIZE, 0x5A);
    std::vector<uint8_t> image;
    EXPECT_EQ(load_image_for_transfer(f.session, f.report, f.files, "fw.bin", image),
              2 * PAGE_SIZE);
    EXPECT_EQ(image, f.files.content);
    EXPECT_EQ(f.trace(), "[FLASH][load_file2send] Firmware FileName = fw.bin\n");
}

// Pages go out whole: a partial last page is filled up as erased flash, and the size handed
// over (which the transfer divides into pages) counts it.
TEST(LoadFile2Send, PartialLastPageIsFilledUpWithErasedBytes) {
    const struct {
        size_t file_size;
        uint32_t handed_over;
    } cases[] = {
        {1, PAGE_SIZE},         {PAGE_SIZE, PAGE_SIZE}, {PAGE_SIZE + 1, 2 * PAGE_SIZE},
        {0xFFD0, 0x10000},  // smallest model-6 boot image: its header page is sent
        {40000, 3 * PAGE_SIZE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_size);
        LoadFixture f;
        f.files.content.resize(c.file_size);
        for (size_t i = 0; i < c.file_size; ++i)
            f.files.content[i] = uint8_t(i * 7 + 1);
        std::vector<uint8_t> image;
        ASSERT_EQ(load_image_for_transfer(f.session, f.report, f.files, "boot.bin", image),
                  c.handed_over);
        ASSERT_EQ(image.size(), c.handed_over);
        EXPECT_TRUE(std::equal(f.files.content.begin(), f.files.content.end(), image.begin()));
        EXPECT_TRUE(std::all_of(image.begin() + std::ptrdiff_t(c.file_size), image.end(),
                                [](uint8_t b) { return b == 0xFF; }));
        EXPECT_TRUE(f.fake.ui.boxes.empty());
    }
}

TEST(LoadFile2Send, RealFileFromDisk) {
    test::ImageFixture f;
    f.dir->write("img.bin", std::string(20000, 'x'));
    std::vector<uint8_t> image;
    EXPECT_EQ(load_image_for_transfer(f.session, f.report, f.fake.platform.files, "img.bin", image),
              2 * PAGE_SIZE);
    EXPECT_EQ(image[19999], 'x');
    EXPECT_EQ(image[20000], 0xFF);
    EXPECT_EQ(
        load_image_for_transfer(f.session, f.report, f.fake.platform.files, "missing.bin", image),
        0u);
}

}  // namespace
