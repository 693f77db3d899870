// A session for the image tests: fakes, a temporary directory holding the trace, and images
// built by vximage's library.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image_check.h"
#include "image_builder.h"
#include "session/traced_checks.h"
#include "session_fixture.h"

namespace vx::test {

struct ImageFixture : FakePlatformHolder, SessionParts {
    ImageFixture() : SessionParts(fake.platform, true) {}
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

// The traced check on the session, and what the check over bytes alone says about the image.
inline int check_fw(SessionParts& run, int model, const std::vector<uint8_t>& bytes,
                    CheckOutcome* outcome = nullptr) {
    run.session.printer_model = model;
    if (outcome)
        *outcome = check_fw_image(bytes.data(), bytes.size(), model).outcome;
    return apply_fw_image(run.session, run.report, bytes.data(), bytes.size(),
                          run.config.send_mode);
}

inline int check_boot(SessionParts& run, int model, const std::vector<uint8_t>& bytes,
                      CheckOutcome* outcome = nullptr) {
    run.session.printer_model = model;
    if (outcome)
        *outcome = check_boot_image(bytes.data(), bytes.size(), model).outcome;
    return apply_boot_image(run.session, run.report, bytes.data(), bytes.size());
}

}  // namespace vx::test
