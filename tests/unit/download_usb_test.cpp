#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "download_fixture.h"
#include "printer.h"
#include "sim_usb.h"
#include "usb_session.h"

namespace vx::test {
namespace {

using Bytes = std::vector<uint8_t>;
const std::string USB_TAG = "[Cls_flash][download_usb] ";

// The view records whether the trace already ended when the end texts appear.
class EndOrderView : public RecordingMainView {
public:
    std::function<bool()> trace_ended;
    bool end_after_trace = false;
    void printer_status(const char* t) override {
        if (std::string(t) == "finished" && trace_ended)
            end_after_trace = trace_ended();
        RecordingMainView::printer_status(t);
    }
};

class UsbTransferTest : public ProtocolTest {
protected:
    vxsim::Config sim_cfg;
    vxsim::UsbConfig usb_cfg;
    std::unique_ptr<vxsim::Printer> sim;
    std::unique_ptr<vxsim::UsbSession> session;
    EndOrderView end_view;

    void SetUp() override {
        ProtocolTest::SetUp();
        std::strcpy(flash->config.port_name, "USB01");
        flash->config.port_type = USB_PORT;
        std::strcpy(flash->config.fw_filename, "image.bin");
        flash->session.printer_model = VX3PLUS_CR_MODEL;
        sim_cfg.model = 3;
        sim_cfg.header_ack = vxsim::model_sync_char(3);
        sim_cfg.stall_ms = 0;
    }

    void write_image(size_t pages) {
        std::string bytes;
        for (size_t j = 0; j < pages; ++j)
            bytes.append(PAGE_SIZE, char(j + 1));
        dir.write("image.bin", bytes);
    }

    void range(uint32_t begin, uint32_t end, uint32_t offset = 0) {
        flash->session.begin_page = begin;
        flash->session.end_page = end;
        flash->session.offset_page = offset;
    }

    // The printer in download mode with the header taken, as the procedure leaves it.
    void start_printer() {
        sim = std::make_unique<vxsim::Printer>(sim_cfg, fp.clock.now);
        session = std::make_unique<vxsim::UsbSession>(*sim, usb_cfg);
        attach_sim(fp.usb, *session);
        ASSERT_EQ(open_port(flash->port_opening(), port(), true), 1);
        const uint8_t cmd[3] = {0x1B, 0x7D, 0x7B};
        session->write(cmd, 3, fp.clock.now);
        Bytes header;
        auto be16 = [&](uint32_t v) {
            header.push_back(uint8_t(v >> 8));
            header.push_back(uint8_t(v));
        };
        if (sim_cfg.model == 6) {
            be16(flash->session.begin_page);
            be16(flash->session.end_page);
            for (int i = 0; i < 4; ++i)
                be16(0);
        } else {
            be16(flash->session.begin_page);
            be16(flash->session.end_page);
        }
        header.push_back(0x00);
        header.push_back(0x56);
        session->write(header.data(), header.size(), fp.clock.now);
        fp.clock.now += 3000;
        session->take_output(fp.clock.now);
    }

    int run_usb() {
        end_view.trace_ended = [this] { return trace_has(USB_TAG + "END\n"); };
        return download_image(protocol(), report_on(end_view), port(), nullptr).ok() ? 1 : 0;
    }

    // Flash page p holds image page p - shift.
    void expect_pages(uint32_t first, uint32_t last, uint32_t shift) {
        ASSERT_EQ(sim->flash().size(), size_t(last - first + 1));
        for (uint32_t p = first; p <= last; ++p) {
            ASSERT_TRUE(sim->flash().count(p)) << p;
            EXPECT_EQ(sim->flash().at(p), Bytes(PAGE_SIZE, uint8_t(p - shift + 1))) << p;
        }
    }

    size_t trace_starting(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& l : trace())
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
};

TEST_F(UsbTransferTest, PagesGoOutInFourWritesEachAndArriveWhole) {
    write_image(8);
    range(4, 11);
    start_printer();
    ASSERT_EQ(run_usb(), 1);
    expect_pages(4, 11, 4);
    EXPECT_EQ(session->data_write_sizes(), std::vector<size_t>(32, 4096));
    EXPECT_EQ(sim->check_failures(), 0u);
    EXPECT_FALSE(port_open());
    EXPECT_EQ(session->closes(), 1u);  // the close byte after the acknowledged open

    // The bank bar moves once per page; the page bar once per bank.
    EXPECT_EQ(std::count(end_view.bank_log.begin(), end_view.bank_log.end(), "stepit 0 0"), 8);
    EXPECT_EQ(std::count(end_view.pages_log.begin(), end_view.pages_log.end(), "stepit 0 0"), 2);
    EXPECT_EQ(end_view.texts[Field::connection], " ");
    EXPECT_TRUE(end_view.end_after_trace);

    const std::vector<std::string> want = {
        USB_TAG + "##### START FW DOWNLOAD ######\n",
        USB_TAG + "Begin_Page=4 End_Page=11 !\n",
        USB_TAG + "Current Block=4\n",
        USB_TAG + "Current PageByte=65536\n",
        USB_TAG + "FLUSHING...\n",
        USB_TAG + "##### CRC1 CRC2 sended ######\n",
        "[FLASH][check_reply] PR_REPLY=23\n",
        USB_TAG + "Current Block=0\n",
        USB_TAG + "Current PageByte=0\n",
        USB_TAG + "\n",
        USB_TAG + "END\n",
    };
    const auto lines = trace();
    size_t at = 0;
    for (const std::string& w : want) {
        while (at < lines.size() && lines[at] != w)
            ++at;
        ASSERT_LT(at, lines.size()) << "missing in order: " << w;
    }
    EXPECT_FALSE(trace_has(USB_TAG + "dw_start_block=4 \n"));
    EXPECT_EQ(trace_starting(USB_TAG + "read(n=1) SUCCESS (23)"), 2u);
    EXPECT_EQ(trace_starting("[Cls_flash][download_com]"), 0u);
}

TEST_F(UsbTransferTest, PartialBankFirstAndLast) {
    const struct { uint32_t begin, end; } cases[] = {{0, 5}, {1, 6}, {0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.begin);
        write_image(c.end - c.begin + 1);
        range(c.begin, c.end);
        start_printer();
        ASSERT_EQ(run_usb(), 1);
        expect_pages(c.begin, c.end, c.begin);
        EXPECT_EQ(sim->downloads_done(), 1u);
    }
}

// However many stray bytes one packet brings, none of them is taken for the bank's reply.
TEST_F(UsbTransferTest, StrayBytesAreDrainedBeforeTheCheckBytes) {
    const struct {
        Bytes stray;
        const char* flushed;
    } cases[] = {
        {{0x41, 0x00, 0x07}, "******* FLUSHED 3 byte **********\n"},
        {Bytes(32, 0x07), "******* FLUSHED 32 byte **********\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flushed);
        usb_cfg.stray_after_bank = c.stray;
        write_image(8);
        range(0, 7);
        start_printer();
        ASSERT_EQ(run_usb(), 1);
        expect_pages(0, 7, 0);
        EXPECT_EQ(trace_count(USB_TAG + c.flushed), 2u);
        EXPECT_EQ(sim->check_failures(), 0u);
    }
}

TEST_F(UsbTransferTest, PrinterThatKeepsSendingGetsTwentyFlushReads) {
    write_image(1);
    range(0, 0);
    fp.usb.devices = {{"a", "USB\\VID_7A1E&PID_0031", true, 1}};
    int data_writes = 0;
    Bytes check;
    fp.usb.configure = [&](FakeUsbDevice& d) {
        d.on_write = [&](FakeUsbDevice& dev, const uint8_t* p, uint32_t n) {
            if (n == 1 && p[0] == 0x02) {
                dev.incoming.push_back({0x06});
            } else if (n == 4096 && ++data_writes == 4) {
                for (int i = 0; i < 25; ++i)
                    dev.incoming.push_back({0x00});
            } else if (n == 1 && data_writes == 4) {
                check.push_back(p[0]);
                if (check.size() == 2)
                    dev.incoming.push_back({0x17});
            }
        };
    };
    ASSERT_EQ(open_port(flash->port_opening(), port(), true), 1);
    ASSERT_EQ(run_usb(), 1);
    EXPECT_EQ(trace_count(USB_TAG + "******* FLUSHED 1 byte **********\n"), 20u);
    // The five bytes left over read as "still waiting", then the acknowledgement.
    EXPECT_EQ(trace_count("[FLASH][check_reply] STILL_WAITING_REPLY\n"), 5u);
    // 16384 bytes of 0x01: sum 0x4000, check 0xC000 low byte first; then the close byte.
    EXPECT_EQ(check, (Bytes{0x00, 0xC0, 0x03}));
}

TEST_F(UsbTransferTest, SilentPrinterFailsAfterTwelveMinuteLongWaits) {
    sim_cfg.faults.push_back({0, true, {{vxsim::ReplyStep::silence, 0}}});
    write_image(4);
    range(0, 3);
    start_printer();
    const uint64_t start = fp.clock.now;
    EXPECT_EQ(run_usb(), 0);
    EXPECT_EQ(trace_starting(USB_TAG + "WAIT DATA retry number"), 11u);
    EXPECT_TRUE(trace_has(USB_TAG + "WAIT DATA retry number 11 \n"));
    EXPECT_TRUE(trace_has(USB_TAG + "FAILED FOR MAX_RETRY\n"));
    EXPECT_GE(fp.clock.now - start, 12u * 60000u);
    EXPECT_LT(fp.clock.now - start, 12u * 60000u + 5000u);
    EXPECT_FALSE(port_open());
}

TEST_F(UsbTransferTest, RetryResendsTheWholeBank) {
    sim_cfg.faults.push_back({0, false, {{vxsim::ReplyStep::byte, 0x06}}});
    write_image(4);
    range(0, 3);
    start_printer();
    ASSERT_EQ(run_usb(), 1);
    expect_pages(0, 3, 0);
    EXPECT_TRUE(trace_has(USB_TAG + "RESEND BANK (65538 bytes)\n"));
    EXPECT_EQ(sim->check_failures(), 0u);
}

TEST_F(UsbTransferTest, ReplyClassesAndReplyBytesInOneTransfer) {
    // 0x00 and 0x03 keep waiting; 0x07 ends the transfer.
    sim_cfg.faults.push_back(
        {0, false, {{vxsim::ReplyStep::byte, 0x00}, {vxsim::ReplyStep::byte, 0x03}}});
    sim_cfg.reply_gap_ms = 0;  // both arrive in one IN transfer with the acknowledgement
    write_image(1);
    range(0, 0);
    start_printer();
    ASSERT_EQ(run_usb(), 1);
    EXPECT_TRUE(trace_has("[FLASH][check_reply] BANK_PROGRAMMING_REPLY\n"));

    sim_cfg.faults = {{0, false, {{vxsim::ReplyStep::byte, 0x07}}}};
    start_printer();
    EXPECT_EQ(run_usb(), 0);
    EXPECT_TRUE(trace_has("[FLASH][check_reply] UNRECOVABLE_ERROR_REPLY\n"));
    EXPECT_FALSE(port_open());
}

TEST_F(UsbTransferTest, AdfVariantSaysWhatItSkips) {
    flash->session.printer_model = KD5_ADF_L2_MODEL;
    sim_cfg.model = 6;
    sim_cfg.header_ack = vxsim::model_sync_char(6);
    const std::string adf = "[Cls_flash][download_usb_adf] ";
    for (uint32_t offset : {1u, 0u}) {
        SCOPED_TRACE(offset);
        dir.write("FlashTrace.dbg", "");
        write_image(5);
        range(2, 5, offset);
        start_printer();
        end_view.trace_ended = [&] { return trace_has(adf + "END\n"); };
        ASSERT_TRUE(download_image(protocol(), report_on(end_view), port(), nullptr).ok());
        expect_pages(2, 5, 2 - offset);
        EXPECT_EQ(trace_has(adf + "skip first 16384 bytes in the bin file !\n"), offset == 1);
        EXPECT_EQ(trace_starting(adf + "skip first"), offset == 1 ? 1u : 0u);
        EXPECT_TRUE(trace_has(adf + "Begin_Page=2 End_Page=5 !\n"));
        EXPECT_EQ(trace_starting(USB_TAG), 0u);
    }
}

TEST_F(UsbTransferTest, FailedWriteEndsTheTransferAndTooFewPagesKeepsThePort) {
    write_image(4);
    range(0, 3);
    fp.usb.devices = {{"a", "USB\\VID_7A1E&PID_0030", true, 1}};
    fp.usb.configure = [&](FakeUsbDevice& d) {
        d.on_write = [](FakeUsbDevice& dev, const uint8_t* p, uint32_t n) {
            if (n == 1 && p[0] == 0x02)
                dev.incoming.push_back({0x06});
            else
                dev.short_by = 1;  // from the first data write on
        };
    };
    ASSERT_EQ(open_port(flash->port_opening(), port(), true), 1);
    EXPECT_EQ(run_usb(), 0);
    EXPECT_FALSE(port_open());
    EXPECT_EQ(trace().back(), USB_TAG + "Current PageByte=0\n");
    EXPECT_EQ(fp.usb.writes.size(), 4u);  // handshake, two data writes, close byte

    range(0, 4);  // five pages of a four-page file
    fp.usb.configure = nullptr;
    ASSERT_EQ(open_port(flash->port_opening(), port(), true), 1);
    EXPECT_EQ(run_usb(), 0);
    EXPECT_TRUE(trace_has(USB_TAG + "Num Page Error !\n"));
    EXPECT_TRUE(port_open());
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].text, "Too few pages");
}

}  // namespace
}  // namespace vx::test
