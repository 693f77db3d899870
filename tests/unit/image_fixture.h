// A flash context for the image tests: fakes, a temporary directory holding the trace, and
// images built by vximage's library.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "fake_platform.h"
#include "image/image_check.h"
#include "image_builder.h"
#include "session/traced_checks.h"

namespace vx::test {

struct ImageFixture {
    TempDir dir;  // first: it outlives the context, whose trace file it holds
    FakePlatform fake;
    MessageCatalogue catalogue{fake.platform};
    FlashRun flash{fake.platform, catalogue};

    ImageFixture() { flash.report.set_trace(true); }

    // A text file the program wrote, with Windows line ends made "\n".
    std::string text_file(const std::string& name) {
        std::string text = dir.read(name);
        for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
            text.erase(at, 1);
        }
        return text;
    }

    // The trace so far, without the "[hh:mm:ss]" stamps.
    std::string trace() {
        std::string text = text_file("FlashTrace.dbg");
        const std::string stamp = "[12:34:56]";
        for (size_t at = text.find(stamp); at != std::string::npos; at = text.find(stamp, at)) {
            text.erase(at, stamp.size());
        }
        return text;
    }
};

inline std::vector<uint8_t> make_image(const vximage::ImageRecipe& recipe) {
    std::vector<uint8_t> bytes;
    const std::string error = vximage::build_image(recipe, bytes);
    EXPECT_EQ(error, "") << "model " << recipe.model;
    return bytes;
}

inline std::vector<uint8_t> make_image(int model, vximage::Kind kind,
                                       vximage::Breakage breakage = vximage::Breakage::none) {
    vximage::ImageRecipe recipe;
    recipe.model = model;
    recipe.kind = kind;
    recipe.breakage = breakage;
    return make_image(recipe);
}

// The traced check on the context, and what the check over bytes alone says about the image.
inline int check_fw(FlashRun& flash, int model, const std::vector<uint8_t>& bytes,
                    CheckOutcome* outcome = nullptr) {
    flash.session.printer_model = model;
    if (outcome)
        *outcome = check_fw_image(bytes.data(), bytes.size(), model).outcome;
    return apply_fw_image(flash.session, flash.report, bytes.data(), bytes.size(),
                          flash.config.send_mode);
}

inline int check_boot(FlashRun& flash, int model, const std::vector<uint8_t>& bytes,
                      CheckOutcome* outcome = nullptr) {
    flash.session.printer_model = model;
    if (outcome)
        *outcome = check_boot_image(bytes.data(), bytes.size(), model).outcome;
    return apply_boot_image(flash.session, flash.report, bytes.data(), bytes.size());
}

}  // namespace vx::test
