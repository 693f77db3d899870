// The image a transfer sends is the one its check accepted.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "image_fixture.h"

namespace vx::test {
namespace {

// What is sent is what was checked: the transfer's reading of the file must hold the bytes
// the check accepted, or nothing is sent.
TEST(CheckedImage, TransferRefusesAFileChangedSinceItsCheck) {
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> change;  // null: left alone
        bool sent;
    };
    const Case cases[] = {
        {"unchanged", nullptr, true},
        {"rewritten_same_bytes", [](std::vector<uint8_t>&) {}, true},
        {"one_byte_changed", [](std::vector<uint8_t>& b) { b[20000] ^= 1; }, false},
        {"shrunk", [](std::vector<uint8_t>& b) { b.resize(b.size() - PAGE_SIZE); }, false},
        {"grown", [](std::vector<uint8_t>& b) { b.resize(b.size() + PAGE_SIZE, 0); }, false},
    };
    for (const Case& c : cases) {
        ImageFixture f;
        std::vector<uint8_t> bytes = make_image(3, vximage::Kind::fw);
        f.dir->write("fw.bin", std::string(bytes.begin(), bytes.end()));
        std::snprintf(f.config.fw_filename, sizeof f.config.fw_filename, "%s",
                      f.dir->file("fw.bin").c_str());
        f.session.printer_model = 3;
        ASSERT_EQ(check_firmware_file(f.session, f.report, f.fake.platform.files,
                                      f.config.fw_filename, f.config.send_mode),
                  1)
            << c.name;
        if (c.change) {
            c.change(bytes);
            f.dir->write("fw.bin", std::string(bytes.begin(), bytes.end()));
        }
        std::vector<uint8_t> loaded;
        const uint32_t size = load_image_for_transfer(f.session, f.report, f.fake.platform.files,
                                                      f.config.fw_filename, loaded);
        EXPECT_EQ(size != 0, c.sent) << c.name;
        EXPECT_EQ(f.trace().find("changed since it was checked") != std::string::npos, !c.sent)
            << c.name;
    }
}

}  // namespace
}  // namespace vx::test
