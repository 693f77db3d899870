#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "download_fixture.h"
#include "protocol/bank_transfer.h"

namespace vx::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The printer's side of a transfer: after each expected chunk of bytes (a bank with its
// check bytes, or a resend), it queues the scripted reply bytes.
struct ScriptedPrinter {
    struct Step {
        size_t bytes;
        Bytes reply;
    };
    std::vector<Step> steps;
    size_t step = 0;
    Bytes pending;
    std::vector<Bytes> received;
    Bytes extra;

    void take(FakeSerialDevice& dev, const uint8_t* p, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            if (step >= steps.size()) {
                extra.push_back(p[i]);
                continue;
            }
            pending.push_back(p[i]);
            if (pending.size() == steps[step].bytes) {
                received.push_back(std::move(pending));
                pending.clear();
                for (uint8_t r : steps[step].reply)
                    dev.incoming.push_back(r);
                ++step;
            }
        }
    }
};

constexpr size_t bank_bytes(size_t pages) {
    return pages * PAGE_SIZE + 2;
}

class TransferTest : public ProtocolTest {
protected:
    ScriptedPrinter sim;

    void SetUp() override {
        ProtocolTest::SetUp();
        printer = [this](FakeSerialDevice& d, const uint8_t* p, uint32_t n) { sim.take(d, p, n); };
        std::strcpy(flash->config.fw_filename, "image.bin");
        flash->session.printer_model = VX3PLUS_MODEL;
        flash->config.send_baud = 115200;
    }

    // Image page j is filled with the byte j + 1, so a page on the wire names its origin.
    void write_image(size_t pages, size_t extra_bytes = 0) {
        std::string bytes;
        for (size_t j = 0; j < pages; ++j)
            bytes.append(PAGE_SIZE, char(j + 1));
        bytes.append(extra_bytes, '\x55');
        dir.write("image.bin", bytes);
    }

    void range(uint32_t begin, uint32_t end, uint32_t offset = 0) {
        flash->session.begin_page = begin;
        flash->session.end_page = end;
        flash->session.offset_page = offset;
    }

    int run() {
        open_serial();
        return download_image(protocol(), report_on(view), port(), nullptr).ok() ? 1 : 0;
    }

    std::vector<std::string> page_steps() const {
        std::vector<std::string> out;
        for (const auto& e : view.progress_log) {
            if (e.rfind("step ", 0) == 0)
                out.push_back(e);
        }
        return out;
    }
};

TEST_F(TransferTest, BankGoesOutByteByByteWithItsCheckBytes) {
    struct Case {
        size_t pages;
        char fill;
        uint8_t crc1, crc2;
    };
    for (const Case& c : {Case{1, 0x01, 0x00, 0xC0}, Case{4, char(0xFF), 0x00, 0x00},
                          Case{2, 0x02, 0x00, 0x00}, Case{1, 0x03, 0x00, 0x40}}) {
        sim = {};
        write_calls.clear();
        dir.write("image.bin", std::string(c.pages * PAGE_SIZE, c.fill));
        range(0, uint32_t(c.pages - 1));
        sim.steps = {{bank_bytes(c.pages), {0x05}}};

        ASSERT_EQ(run(), 1) << c.pages;
        ASSERT_EQ(sim.received.size(), 1u);
        const Bytes& bank = sim.received[0];
        EXPECT_EQ(Bytes(bank.begin(), bank.end() - 2), Bytes(c.pages * PAGE_SIZE, uint8_t(c.fill)));
        EXPECT_EQ(bank[bank.size() - 2], c.crc1);
        EXPECT_EQ(bank.back(), c.crc2);
        EXPECT_EQ(write_calls.size(), c.pages * PAGE_SIZE + 2);
        for (const Bytes& w : write_calls)
            ASSERT_EQ(w.size(), 1u);
        EXPECT_TRUE(sim.extra.empty());
    }
}

struct OrderCase {
    const char* name;
    uint32_t begin, end, offset;
    size_t file_pages;
    std::vector<std::pair<uint32_t, uint32_t>> banks;  // first transfer page, pages
    std::vector<std::string> steps;
};

class TransferOrder : public TransferTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(TransferOrder, BanksFromTheTopDown) {
    const OrderCase& c = GetParam();
    write_image(c.file_pages);
    range(c.begin, c.end, c.offset);
    for (const auto& b : c.banks)
        sim.steps.push_back({bank_bytes(b.second), {0x05}});

    ASSERT_EQ(run(), 1);
    ASSERT_EQ(sim.received.size(), c.banks.size());
    for (size_t n = 0; n < c.banks.size(); ++n) {
        const Bytes& got = sim.received[n];
        const auto [first, count] = c.banks[n];
        for (uint32_t k = 0; k < count; ++k) {
            // transfer page p is image page offset + p, which holds the byte offset + p + 1
            const uint8_t want = uint8_t(c.offset + first + k + 1);
            EXPECT_EQ(got[k * PAGE_SIZE], want) << "bank " << n << " page " << k;
            EXPECT_EQ(got[k * PAGE_SIZE + PAGE_SIZE - 1], want) << "bank " << n << " page " << k;
        }
    }
    EXPECT_EQ(page_steps(), c.steps);
    // Eight bank-bar steps per page, one page-bar step per bank.
    size_t stepits = 0;
    for (const auto& e : view.progress_log)
        stepits += e.rfind("stepit", 0) == 0;
    EXPECT_EQ(stepits, 8 * (c.end - c.begin + 1) + c.banks.size());
}

INSTANTIATE_TEST_SUITE_P(
    Plans, TransferOrder,
    ::testing::Values(OrderCase{"four_from_0", 0, 3, 0, 4, {{0, 4}}, {}},
                      OrderCase{
                          "six_from_0", 0, 5, 0, 6, {{4, 2}, {0, 4}}, {"step 2 0", "step 4 0"}},
                      OrderCase{"six_from_1", 1, 6, 0, 6, {{2, 4}, {0, 2}}, {"step 2 0"}},
                      OrderCase{"two", 10, 11, 0, 2, {{0, 2}}, {}},
                      OrderCase{"offset_two", 16, 20, 2, 8, {{1, 4}, {0, 1}}, {"step 1 0"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReplyCase {
    const char* name;
    Bytes replies;
    int result;
    std::vector<std::string> lines;  // check_reply class lines, in order
};

class TransferReply : public TransferTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(TransferReply, ClassifiesThePrinterReply) {
    const ReplyCase& c = GetParam();
    write_image(1);
    range(0, 0);
    sim.steps = {{bank_bytes(1), c.replies}};

    EXPECT_EQ(run(), c.result);
    std::vector<std::string> classes;
    for (const auto& l : trace()) {
        if (l.rfind("[FLASH][check_reply] ", 0) == 0 && l.find("PR_REPLY") == std::string::npos) {
            classes.push_back(l);
        }
    }
    EXPECT_EQ(classes, c.lines);
    EXPECT_TRUE(
        trace_has("[FLASH][check_reply] PR_REPLY=" + std::to_string(c.replies.back()) + "\n"));
}

const std::string kOk = "[FLASH][check_reply] BANK_OK_REPLY\n";
const std::string kFatal = "[FLASH][check_reply] UNRECOVABLE_ERROR_REPLY\n";
const std::string kOdd = "[FLASH][check_reply] UNRECOVABLE_ERROR_REPLY !\n";

INSTANTIATE_TEST_SUITE_P(
    Classes, TransferReply,
    ::testing::Values(ReplyCase{"ack05", {0x05}, 1, {kOk}}, ReplyCase{"ack16", {0x16}, 1, {kOk}},
                      ReplyCase{"ack17", {0x17}, 1, {kOk}}, ReplyCase{"ack18", {0x18}, 1, {kOk}},
                      ReplyCase{"ack1A", {0x1A}, 1, {kOk}}, ReplyCase{"ack20", {0x20}, 1, {kOk}},
                      ReplyCase{"waiting_then_ack",
                                {0x00, 0x03, 0x05},
                                1,
                                {"[FLASH][check_reply] STILL_WAITING_REPLY\n",
                                 "[FLASH][check_reply] BANK_PROGRAMMING_REPLY\n", kOk}},
                      ReplyCase{"unrecoverable", {0x07}, 0, {kFatal}},
                      ReplyCase{"unlisted", {0x01}, 0, {kOdd}},
                      ReplyCase{"garbage", {0xFF}, 0, {kOdd}},
                      ReplyCase{"sync_like", {0x15}, 0, {kOdd}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, ReplyTextsOnThePage) {
    write_image(1);
    range(0, 0);
    sim.steps = {{bank_bytes(1), {0x00, 0x03, 0x06}}, {bank_bytes(1), {0x05}}};
    ASSERT_EQ(run(), 1);
    const auto status = texts_of(Field::printer_status);
    const std::vector<std::string> want = {"waiting bank 0", "prog bank 0", "retry bank 0",
                                           "ok bank 0"};
    auto it = status.begin();
    for (const auto& w : want) {
        it = std::find(it, status.end(), w);
        ASSERT_NE(it, status.end()) << w;
    }
    const auto reply = texts_of(Field::reply);
    EXPECT_NE(std::find(reply.begin(), reply.end(), "programming bank 0"), reply.end());
}

TEST_F(TransferTest, RetryResendsTheSameBankAndWaitsForItsReply) {
    struct Case {
        const char* name;
        uint32_t begin, end;
        std::vector<ScriptedPrinter::Step> steps;
        size_t first, resend;  // indexes into what the printer received
    };
    const Case cases[] = {
        {"full_bank", 0, 3, {{bank_bytes(4), {0x06}}, {bank_bytes(4), {0x00, 0x05}}}, 0, 1},
        {"partial_first",
         0,
         5,
         {{bank_bytes(2), {0x06}}, {bank_bytes(2), {0x05}}, {bank_bytes(4), {0x05}}},
         0,
         1},
        {"second_bank",
         0,
         5,
         {{bank_bytes(2), {0x05}}, {bank_bytes(4), {0x06}}, {bank_bytes(4), {0x05}}},
         1,
         2},
    };
    for (const Case& c : cases) {
        sim = {};
        write_calls.clear();
        write_image(6);
        range(c.begin, c.end);
        sim.steps = c.steps;
        ASSERT_EQ(run(), 1) << c.name;
        ASSERT_EQ(sim.received.size(), c.steps.size()) << c.name;
        EXPECT_EQ(sim.received[c.resend], sim.received[c.first]) << c.name;
        EXPECT_TRUE(sim.extra.empty()) << c.name;
    }
}

TEST_F(TransferTest, EndlessRetryRequestsGiveUp) {
    write_image(1);
    range(0, 0);
    sim.steps.push_back({bank_bytes(1), {0x06}});
    for (uint32_t i = 0; i < MAX_RETRY; ++i)
        sim.steps.push_back({bank_bytes(1), {0x06}});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(sim.received.size(), 1 + MAX_RETRY);
}

TEST_F(TransferTest, SilentPrinterFailsAfterTwelveEmptyWaits) {
    write_image(1);
    range(0, 0);
    sim.steps = {{bank_bytes(1), {}}};
    int reads = 0;
    FakeSerialDevice& dev = open_serial();
    dev.on_read = [&](FakeSerialDevice&, uint32_t) { ++reads; };
    const TransferResult result = download_image(protocol(), report_on(view), port(), nullptr);
    EXPECT_EQ(result.outcome, TransferOutcome::no_reply);
    EXPECT_EQ(result.banks_sent, 0u);
    EXPECT_EQ(result.banks, 1u);
    EXPECT_EQ(reads, 12);
    EXPECT_EQ(trace_count("[Cls_flash][download_com] READ BANK REPLY - byte to read=1\n"), 12u);
    EXPECT_TRUE(trace_has("[Cls_flash][download_com] WAIT DATA retry number 11 \n"));
    EXPECT_FALSE(trace_has("[Cls_flash][download_com] WAIT DATA retry number 12 \n"));
    EXPECT_TRUE(trace_has("[Cls_flash][download_com] FAILED FOR MAX_RETRY\n"));
    // Each empty wait is (1 + 1) x 2000 ms.
    EXPECT_GE(fp.clock.now, 12u * 4000u);
}

TEST_F(TransferTest, ElevenEmptyWaitsThenAReplyIsFineAndTheCountStartsAgain) {
    write_image(8);
    range(0, 7);
    sim.steps = {{bank_bytes(4), {}}, {bank_bytes(4), {}}};
    int empty = 0;
    FakeSerialDevice& dev = open_serial();
    dev.on_read = [&](FakeSerialDevice& d, uint32_t) {
        if (sim.step == 0 || !d.incoming.empty())
            return;
        if (++empty == 12) {
            d.incoming.push_back(0x05);
            empty = 0;
        }
    };
    EXPECT_TRUE(download_image(protocol(), report_on(view), port(), nullptr).ok());
    EXPECT_EQ(trace_count("[Cls_flash][download_com] WAIT DATA retry number 11 \n"), 2u);
    EXPECT_FALSE(trace_has("[Cls_flash][download_com] FAILED FOR MAX_RETRY\n"));
}

TEST_F(TransferTest, EndlessStatusRepliesHaveATimeLimit) {
    write_image(1);
    range(0, 0);
    sim.steps = {{bank_bytes(1), {}}};
    int reads = 0;
    FakeSerialDevice& dev = open_serial();
    dev.on_read = [&](FakeSerialDevice& d, uint32_t) {
        if (sim.step == 0)
            return;
        ++reads;
        fp.clock.now += 1000;
        d.incoming.push_back(0x00);
    };
    EXPECT_FALSE(download_image(protocol(), report_on(view), port(), nullptr).ok());
    EXPECT_LE(reads, int(BANK_REPLY_LIMIT_MS / 1000) + 2);
}

struct PageTestCase {
    const char* name;
    size_t file_pages, extra_bytes;
    uint32_t begin, end, offset;
    bool accepted;
};

class TransferPageTest : public TransferTest, public ::testing::WithParamInterface<PageTestCase> {};

TEST_P(TransferPageTest, RangeMustLieInsideTheImage) {
    const PageTestCase& c = GetParam();
    write_image(c.file_pages, c.extra_bytes);
    range(c.begin, c.end, c.offset);
    if (c.accepted) {
        const auto plan = plan_banks(c.end - c.begin + 1, c.begin);
        BankWalk walk(plan);
        for (; !walk.done(); walk.advance())
            sim.steps.push_back({bank_bytes(walk.block_in_pages()), {0x05}});
    }
    EXPECT_EQ(run(), c.accepted ? 1 : 0);
    EXPECT_EQ(trace_has("[Cls_flash][download_com] Num Page Error !\n"), !c.accepted);
    if (!c.accepted) {
        EXPECT_TRUE(write_calls.empty());
        ASSERT_EQ(fp.ui.boxes.size(), 1u);
        EXPECT_EQ(fp.ui.boxes[0].caption, "Warning");
        EXPECT_EQ(fp.ui.boxes[0].text, "Too few pages");
        EXPECT_EQ(fp.ui.boxes[0].type, BOX_ICONEXCLAMATION);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, TransferPageTest,
    ::testing::Values(PageTestCase{"exact", 4, 0, 0, 3, 0, true},
                      PageTestCase{"tail_bytes_ignored", 4, 100, 0, 3, 0, true},
                      PageTestCase{"with_offset", 6, 0, 20, 23, 2, true},
                      PageTestCase{"one_page_short", 3, 0, 0, 3, 0, false},
                      PageTestCase{"short_last_page_filled_up", 3, 16383, 0, 3, 0, true},
                      PageTestCase{"offset_past_end", 4, 0, 0, 3, 1, false},
                      PageTestCase{"reversed", 64, 0, 160, 36, 0, false},
                      PageTestCase{"offset_wrapped", 4, 0, 0, 0, 0xFFFFFFFCu, false},
                      PageTestCase{"huge_range", 4, 0, 0, 0xFFFFFFFFu, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, TagReplacesTheImageTagForModel1Only) {
    struct Case {
        int model;
        std::string tag;
        std::string want_at_0x70;
    };
    const std::string long_tag(20000, 'T');
    for (const Case& c : {Case{VX3E_MODEL, "NEWTAG", std::string("NEWTAG\0", 7)},
                          Case{VX3PLUS_MODEL, "NEWTAG", std::string(7, '\x01')},
                          Case{VX3E_MODEL, long_tag, std::string(PAGE_SIZE - 0x70, 'T')}}) {
        sim = {};
        write_image(1);
        range(0, 0);
        flash->session.printer_model = c.model;
        sim.steps = {{bank_bytes(1), {0x05}}};
        open_serial();
        ASSERT_TRUE(download_image(protocol(), report_on(view), port(), c.tag.c_str()).ok());
        const Bytes& got = sim.received.at(0);
        EXPECT_EQ(std::string(got.begin() + 0x70, got.begin() + 0x70 + c.want_at_0x70.size()),
                  c.want_at_0x70);
        EXPECT_EQ(got[0x6F], 0x01);
        // The file itself keeps its own bytes.
        EXPECT_EQ(dir.read("image.bin")[0x70], '\x01');
    }
}

TEST_F(TransferTest, TraceOfOneBank) {
    write_image(1);
    range(5, 5);
    sim.steps = {{bank_bytes(1), {0x00, 0x05}}};
    ASSERT_EQ(run(), 1);
    std::vector<std::string> lines;
    for (const auto& l : trace()) {
        if (l == "\n" || l.rfind("[Cls_flash][download_com]", 0) == 0 ||
            l.rfind("[FLASH][check_reply]", 0) == 0) {
            lines.push_back(l);
        }
    }
    const std::string t = "[Cls_flash][download_com] ";
    const std::vector<std::string> want = {
        t + "##### START FW DOWNLOAD ######\n",
        "\n",
        t + "dw_start_block=0 \n",
        t + "dw_n_block_of_64k=1\n",
        t + "dw_block_in_pages=1\n",
        "\n",
        t + "Current block=0 \n",
        t + "PageByteOffset=0\n",
        t + "Block in pages=1\n",
        "\n",
        t + "Current block inside=0 \n",
        t + "##### CRC1=0 CRC2=c0 sended ######\n",
        t + "READ BANK REPLY - byte to read=1\n",
        t + "read(n=1) SUCCESS (0)\n",
        "[FLASH][check_reply] PR_REPLY=0\n",
        "[FLASH][check_reply] STILL_WAITING_REPLY\n",
        t + "READ BANK REPLY - byte to read=1\n",
        t + "read(n=1) SUCCESS (5)\n",
        "[FLASH][check_reply] PR_REPLY=5\n",
        "[FLASH][check_reply] BANK_OK_REPLY\n",
        t + "\n",
        t + "END\n",
    };
    EXPECT_EQ(lines, want);
}

TEST_F(TransferTest, VirtualComDiffersOnlyInTheTrace) {
    write_image(1);
    range(0, 0);
    flash->config.virtual_com = true;
    sim.steps = {{bank_bytes(1), {0x05}}};
    open_serial();
    ASSERT_TRUE(download_image(protocol(), report_on(view), port(), nullptr).ok());
    const auto lines = trace();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "[Cls_flash][download_virtual_com] END\n");
    EXPECT_EQ(lines[lines.size() - 2].find("[Cls_flash][download_virtual_com] \n"),
              std::string::npos);
    EXPECT_TRUE(
        trace_has("[Cls_flash][download_virtual_com] ##### CRC1=0 CRC2=c0 sended ######\n"));
    for (const auto& l : lines)
        EXPECT_EQ(l.find("[download_com]"), std::string::npos) << l;
}

TEST_F(TransferTest, MissingImageLeavesThePortOpen) {
    range(0, 0);
    FakeSerialDevice& dev = open_serial();
    EXPECT_FALSE(download_image(protocol(), report_on(view), port(), nullptr).ok());
    EXPECT_TRUE(trace_has("[Cls_flash][download_com] Error on load file !\n"));
    EXPECT_EQ(fp.serial.last, &dev);
    EXPECT_TRUE(port_open());
}

// A stop asked by the main page ends the transfer at the next check: inside a bank after at
// most one bank-bar step of bytes, or before the next bank; the port is closed either way.
// A stop request, or a line that takes no more bytes, ends the transfer at once with the
// port closed.
TEST_F(TransferTest, StopRequestOrStalledLineEndsTheTransfer) {
    struct Case {
        const char* name;
        size_t stop_after_writes;  // 0: stop asked while waiting for the first reply
        size_t max_bytes_sent;
        bool stall;  // the line takes no more bytes instead of the stop request
        const char* trace;
        TransferOutcome outcome;
    };
    const char* stopped = "[Cls_flash][download_com] Stopped by the user\n";
    const Case cases[] = {
        {"inside_first_bank", 5000, 5000 + 2048, false, stopped, TransferOutcome::stopped},
        {"between_banks", 0, bank_bytes(4), false, stopped, TransferOutcome::stopped},
        {"line_stalls", 6500, 6500, true,
         "[Cls_flash][download_com] WRITE FAILED: the printer takes no more data\n",
         TransferOutcome::write_failed},
    };
    for (const Case& c : cases) {
        sim = {};
        write_calls.clear();
        flash->stop_requested = false;
        write_image(8);
        range(0, 7);
        sim.steps = {{bank_bytes(4), {0x05}}, {bank_bytes(4), {0x05}}};
        FakeSerialDevice& dev = open_serial();
        if (c.stop_after_writes != 0) {
            auto take = dev.on_write;
            dev.on_write = [&, take](FakeSerialDevice& d, const uint8_t* p, uint32_t n) {
                take(d, p, n);
                if (write_calls.size() == c.stop_after_writes) {
                    d.write_fails = c.stall;
                    flash->stop_requested = !c.stall;
                }
            };
        } else {
            dev.on_read = [&](FakeSerialDevice&, uint32_t) { flash->stop_requested = true; };
        }
        EXPECT_EQ(download_image(protocol(), report_on(view), port(), nullptr).outcome, c.outcome)
            << c.name;
        size_t sent = 0;
        for (const Bytes& w : write_calls)
            sent += w.size();
        EXPECT_LE(sent, c.max_bytes_sent) << c.name;
        EXPECT_TRUE(trace_has(c.trace)) << c.name;
        EXPECT_FALSE(port_open()) << c.name;
    }
}

TEST_F(TransferTest, StartAndEndTexts) {
    struct Case {
        int model;
        const char* label;
    };
    for (const Case& c :
         {Case{0, "VX3:"}, Case{1, "VX3E:"}, Case{2, "VX3Plus:"}, Case{3, "VX3Plus_:"},
          Case{4, "VX3PlusS:"}, Case{5, "VX3:"}, Case{6, "VX3:"}}) {
        EXPECT_STREQ(model_label(c.model), c.label);
    }
    TransferStart start;
    start.first_page = 16;
    start.last_page = 55;
    start.baud = 57600;
    start.shows_line_speed = true;
    start.file_name = "fw.bin";
    start.model_label = "VX3E:";
    report_on(view).started(start);
    EXPECT_EQ(view.texts[Field::model], "VX3E:");
    EXPECT_EQ(view.texts[Field::connection], "line 57600");
    EXPECT_EQ(view.texts[Field::pc_status], "file fw.bin");
    EXPECT_EQ(view.texts[Field::first_page], "first 16");
    EXPECT_EQ(view.texts[Field::last_page], "last 55");

    view.text_log.clear();
    const uint64_t slept = fp.clock.slept;
    report_on(view).ended(true);
    EXPECT_EQ(view.text_log, (std::vector<std::pair<Field, std::string>>{
                                 {Field::printer_status, "ready"},
                                 {Field::pc_status, "sent"},
                                 {Field::connection, "done"},
                                 {Field::printer_status, "finished"},
                                 {Field::printer_status, "ready"},
                                 {Field::reply, ""},
                             }));
    EXPECT_EQ(fp.clock.slept - slept, 3000u);
}

}  // namespace
}  // namespace vx::test
