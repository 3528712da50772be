// The one frame reader: its port sequence, where the sinks' bytes go, and how it ends.
#include "panel/frame_reader.h"

#include <gmock/gmock.h>

#include <algorithm>

#include "tests/panel/support.h"

namespace panel_test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

class FrameReaderTest : public PanelRig {
protected:
    base::Result<> Read(const panel::FrameGeometry& g, panel::FrameSink& sink) {
        panel::CameraLink link(pinbus1_, pinbus2_, ui_);
        return panel::ReadFrame(link, g, sink);
    }
    std::size_t Count(const std::string& entry) const {
        return static_cast<std::size_t>(std::count(log_.begin(), log_.end(), entry));
    }
};

// Rows into their own buffers, the other bytes' offsets noted.
class RowsSink : public panel::FrameSink {
public:
    explicit RowsSink(const panel::FrameGeometry& g)
        : rows(static_cast<std::size_t>(g.FrameHeight),
               std::vector<std::uint8_t>(static_cast<std::size_t>(g.FrameWidth))) {}
    std::uint8_t* Row(int r) override { return rows[static_cast<std::size_t>(r)].data(); }
    std::uint8_t* Other(std::size_t offset) override {
        others.push_back(offset);
        return &other;
    }
    base::Result<> Complete() override {
        log->push_back("complete");
        if (fail) return base::Fail("the files failed");
        return {};
    }
    std::vector<std::vector<std::uint8_t>> rows;
    std::vector<std::size_t> others;
    std::uint8_t other = 0;
    Log* log = nullptr;
    bool fail = false;
};

TEST_P(FrameReaderTest, StreamSinkTakesTheStreamAsItComesBetweenSetUpAndEnd) {
    const panel::FrameGeometry g = panel::BlockGeometry(15, 0, 15, 0);  // to the edges
    ASSERT_TRUE(g.RowSkip);
    ASSERT_EQ(g.ByteCount, 25 * 18);
    panel::StreamSink sink;
    ASSERT_TRUE(sink.Prepare(g, 1));
    ASSERT_TRUE(Read(g, sink));
    ASSERT_EQ(sink.Bytes().size(), 451u);
    for (std::size_t i = 0; i < 450; ++i) ASSERT_EQ(sink.Bytes()[i], i % 251) << i;
    EXPECT_EQ(sink.Bytes()[450], 0);  // the extra byte stays
    const Log writes = Writes();
    ASSERT_EQ(writes.size(), 3u + 2 * 450 + 1);
    EXPECT_THAT(std::vector<std::string>(writes.begin(), writes.begin() + 5),
                ElementsAre("control 27", "control 2f", "control 2b", "control 2a", "control 2b"));
    EXPECT_EQ(writes.back(), "control 27");
    EXPECT_EQ(Count("read data"), 450u);
}

TEST_P(FrameReaderTest, RowsGetTheirPixelsAndTheOtherBytesTheirOffsets) {
    // A window ending inside the frame: no line-end bytes, one byte per row after the last.
    panel::FrameGeometry g = panel::BlockGeometry(14, 15, 15, 0);
    ASSERT_FALSE(g.RowSkip);
    RowsSink rows(g);
    rows.log = &log_;
    ASSERT_TRUE(Read(g, rows));
    EXPECT_EQ(rows.rows[1][0], 24);
    EXPECT_EQ(rows.rows[17][23], (17 * 24 + 23) % 251);  // byte n of the stream reads n % 251
    std::vector<std::size_t> tail;
    for (std::size_t n = 0; n < 18; ++n) tail.push_back(432 + n);
    EXPECT_EQ(rows.others, tail);

    // With the row skip, each row's line-end byte sits right after its pixels.
    g = panel::BlockGeometry(15, 0, 15, 0);
    RowsSink skipped(g);
    skipped.log = &log_;
    ASSERT_TRUE(Read(g, skipped));
    ASSERT_EQ(skipped.others.size(), 18u);
    EXPECT_EQ(skipped.others[0], 24u);
    EXPECT_EQ(skipped.others[17], 17u * 25 + 24);
    EXPECT_EQ(skipped.rows[1][0], (skipped.rows[0][0] + 25) % 251);
}

TEST_P(FrameReaderTest, ACompletionErrorEndsTheReadWithoutTheClosingWrite) {
    const panel::FrameGeometry g = panel::BlockGeometry(15, 0, 15, 0);
    RowsSink rows(g);
    rows.log = &log_;
    rows.fail = true;
    const base::Result<> r = Read(g, rows);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.message(), "the files failed");
    ASSERT_GE(log_.size(), 2u);
    EXPECT_EQ(log_.back(), "complete");
    EXPECT_EQ(Writes().back(), "control 2b");
}

TEST_P(FrameReaderTest, APortFailureEndsTheReadWithTheOneMessage) {
    const panel::FrameGeometry g = panel::BlockGeometry(15, 0, 15, 0);
    panel::StreamSink sink;
    ASSERT_TRUE(sink.Prepare(g));
    fail_at_ = 20;
    const base::Result<> r = Read(g, sink);
    ASSERT_FALSE(r);
    EXPECT_THAT(r.message(), HasSubstr("The port object failed: "));
    EXPECT_EQ(r.message().back(), '.');
    EXPECT_LT(Count("read data"), 10u);  // ended at once
}

INSTANTIATE_TEST_SUITE_P(Objects, FrameReaderTest, testing::Values(Objects::kFake), ObjectsName);

}  // namespace
}  // namespace panel_test
