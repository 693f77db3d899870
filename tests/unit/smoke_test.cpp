#include <gtest/gtest.h>

#include "app/catalogue.h"
#include "app/flash_run.h"
#include "fake_platform.h"

TEST(Context, BuildsWithTransferBuffer) {
    vx::test::FakePlatform fp;
    vx::MessageCatalogue cat(fp.platform);
    vx::FlashRun flash(fp.platform, cat);
    EXPECT_EQ(flash.sent_bank.size(), vx::TX_BUFFER_SIZE);
    EXPECT_EQ(flash.config.port_type, vx::COM_PORT);
}
