// Frame geometry, Capture, the image files and the monitor's load step.
#include "panel/capture.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "panel/bitmap_file.h"
#include "panel/bitmap_template.h"
#include "panel/file_io.h"
#include "panel/frame_layout.h"
#include "panel/monitor.h"
#include "panel/panel.h"
#include "panel/picture_files.h"
#include "platform/base/files.h"
#include "platform/base/little_endian.h"
#include "tests/panel/support.h"

namespace panel_test {
namespace {

using panel::ComputeFrameGeometry;
using panel::FrameGeometry;
using panel::FrameStreamLayout;
using panel::StreamLayoutOf;
using testing::ElementsAre;
using testing::HasSubstr;

FrameGeometry Geometry(const char* t4, const char* t5, const char* t6, const char* t7) {
    FrameGeometry g;
    std::string error;
    EXPECT_TRUE(ComputeFrameGeometry(t4, t5, t6, t7, &g, &error)) << error;
    return g;
}

std::string GeometryError(const char* t4, const char* t5, const char* t6, const char* t7) {
    FrameGeometry g;
    std::string error;
    EXPECT_FALSE(ComputeFrameGeometry(t4, t5, t6, t7, &g, &error));
    return error;
}

TEST(FrameGeometryTest, WindowsAndFallbacks) {
    FrameGeometry g = Geometry("0", "0", "0", "0");
    EXPECT_EQ(g.FrameWidth, 384);
    EXPECT_TRUE(g.RowSkip);
    EXPECT_EQ(g.FrameHeight, 288);
    EXPECT_EQ(g.ByteCount, 110880);

    g = Geometry("2", "5", "1", "3");
    EXPECT_EQ(g.FrameWidth, 72);
    EXPECT_FALSE(g.RowSkip);
    EXPECT_EQ(g.FrameHeight, 36);
    EXPECT_EQ(g.ByteCount, 2628);

    g = Geometry("5", "5", "7", "7");  // end equal to start: to the sensor's edge
    EXPECT_EQ(g.FrameWidth, 264);
    EXPECT_TRUE(g.RowSkip);
    EXPECT_EQ(g.FrameHeight, 162);

    g = Geometry("4", "2", "0", "1");
    EXPECT_EQ(g.FrameWidth, 288);
    EXPECT_TRUE(g.RowSkip);
    EXPECT_EQ(g.FrameHeight, 18);
}

// Every reader of the stream (the files, the pictures, the element) walks it by this layout: its
// rows and dropped bytes must add up to the bytes Capture reads, with the bottom row first.
TEST(FrameGeometryTest, StreamLayoutAccountsForEveryByteRead) {
    for (const FrameGeometry& g : {Geometry("0", "0", "0", "0"), Geometry("2", "5", "1", "3"),
                                   Geometry("4", "2", "0", "1")}) {
        const FrameStreamLayout s = StreamLayoutOf(g);
        EXPECT_EQ(s.RowOffset(s.rows - 1) + s.row_step + s.tail,
                  static_cast<std::size_t>(g.ByteCount));
        EXPECT_EQ(s.row_step, s.width + (g.RowSkip ? 1 : 0));
        EXPECT_EQ(s.PictureRow(0), g.FrameHeight - 1);
        EXPECT_EQ(s.PictureRow(s.rows - 1), 0);
    }
}

TEST(FrameGeometryTest, FractionsRoundHalvesToEven) {
    EXPECT_EQ(Geometry("0", "0.1", "0", "1").FrameWidth, 2);     // 2.4
    EXPECT_EQ(Geometry("0", "1", "0", "0.25").FrameHeight, 4);   // 4.5
    EXPECT_EQ(Geometry("0", "1", "0", "0.75").FrameHeight, 14);  // 13.5
    EXPECT_EQ(Geometry("0", "1", "15.75", "0").FrameHeight, 4);  // fallback (16 - 15.75) * 18
}

TEST(FrameGeometryTest, UnusableFieldsAreNamed) {
    EXPECT_EQ(GeometryError("", "0", "0", "0"),
              "Horizontal start block (Text4) is empty: type a number.");
    EXPECT_EQ(GeometryError("0", "zz", "0", "0"),
              "Horizontal end block (Text5): \"zz\" is not a number.");
    EXPECT_EQ(GeometryError("0", "0", "0", "1e400"),
              "Vertical end block (Text7): \"1e400\" is out of range.");
    EXPECT_THAT(GeometryError("16", "0", "0", "0"),
                HasSubstr("Horizontal start block (Text4): \"16\" leaves no columns"));
    EXPECT_THAT(GeometryError("0", "1", "20", "3"),
                HasSubstr("Vertical start block (Text6): \"20\" leaves no rows"));
    EXPECT_THAT(GeometryError("0", "1e9", "0", "1"),
                HasSubstr("Horizontal window (Text4 \"0\", Text5 \"1e9\"): the frame width is out "
                          "of range"));
    EXPECT_EQ(GeometryError("-1e8", "-1e8", "0", "1"),  // the fallback overflows
              "Horizontal start block (Text4): \"-1e8\" is out of range.");
    EXPECT_THAT(GeometryError("-10000", "0", "0", "0"), HasSubstr("is too large"));
    EXPECT_THAT(GeometryError("0", "1", "-1e6", "-2e6"), HasSubstr("is too large"));
}

class CaptureTest : public PanelWindowRig {
protected:
    void Window(const char* t4, const char* t5, const char* t6, const char* t7) {
        panel_->SetText(4, t4);
        panel_->SetText(5, t5);
        panel_->SetText(6, t6);
        panel_->SetText(7, t7);
    }
    std::string File(const char* name) {
        std::string bytes;
        EXPECT_TRUE(ReadFile(name, &bytes)) << name;
        return bytes;
    }
    std::size_t Count(const std::string& entry) const {
        return static_cast<std::size_t>(std::count(log_.begin(), log_.end(), entry));
    }
};

TEST_P(CaptureTest, FullFrame) {
    panel_->CaptureClick();
    EXPECT_EQ(Count("read data"), 110880u);
    EXPECT_EQ(Count("control 2a"), 110880u);
    EXPECT_EQ(Count("control 2b"), 110881u);  // one in the set-up
    ASSERT_GE(log_.size(), 4u);
    EXPECT_THAT(std::vector<std::string>(log_.begin(), log_.begin() + 4),
                ElementsAre("cursor wait", "control 27", "control 2f", "control 2b"));
    EXPECT_THAT(Events(), ElementsAre("cursor wait", "cursor default", "monitor close",
                                      "monitor height 4608", "monitor width 6144",
                                      "monitor load image.bmp picture", "monitor show"));
    EXPECT_EQ(Writes().back(), "control 27");

    const std::string raw = File("image.raw");
    ASSERT_EQ(raw.size(), 110881u);
    for (std::size_t n = 0; n < 110880; ++n) ASSERT_EQ(static_cast<std::uint8_t>(raw[n]), n % 251);
    EXPECT_EQ(raw.back(), '\0');

    const std::string bmp = File("image.bmp");
    ASSERT_EQ(bmp.size(), 111959u);
    EXPECT_EQ(Le32At(bmp, 18), 384u);
    EXPECT_EQ(Le32At(bmp, 22), 288u);
    EXPECT_EQ(Le32At(bmp, 2), 111959u);   // the true file size
    EXPECT_EQ(Le32At(bmp, 34), 110592u);  // the true image size
    // The rest of the header is the built-in template.
    for (std::size_t i = 0; i < panel::kBitmapHeaderSize; ++i) {
        if ((i >= 2 && i < 6) || (i >= 18 && i < 26) || (i >= 34 && i < 38)) continue;
        ASSERT_EQ(static_cast<std::uint8_t>(bmp[i]), panel::kDefaultBitmapHeader[i]) << i;
    }
    // Each 385-byte stream row loses its last byte; the tail of 289 bytes is zero.
    for (std::size_t r = 0; r < 288; ++r) {
        for (std::size_t c = 0; c < 384; ++c) {
            ASSERT_EQ(static_cast<std::uint8_t>(bmp[1078 + r * 384 + c]), (r * 385 + c) % 251)
                << r << "," << c;
        }
    }
    EXPECT_EQ(bmp.substr(111670), std::string(289, '\0'));
    // A missing template is not created.
    EXPECT_NE(::access("bmphead1", F_OK), 0);
}

TEST_P(CaptureTest, WindowOfWholeBlocksTakesTheFirstBytesInOneRun) {
    Window("2", "5", "1", "3");
    panel_->CaptureClick();
    EXPECT_EQ(Count("read data"), 2628u);
    const std::string raw = File("image.raw");
    ASSERT_EQ(raw.size(), 2629u);
    const std::string bmp = File("image.bmp");
    ASSERT_EQ(bmp.size(), 1078u + 2629u);
    EXPECT_EQ(Le32At(bmp, 18), 72u);
    EXPECT_EQ(Le32At(bmp, 22), 36u);
    EXPECT_EQ(Le32At(bmp, 34), 2592u);
    EXPECT_EQ(bmp.substr(1078, 2592), raw.substr(0, 2592));
    EXPECT_EQ(bmp.substr(1078 + 2592), std::string(37, '\0'));
    EXPECT_THAT(Events(), ElementsAre("cursor wait", "cursor default", "monitor close",
                                      "monitor height 576", "monitor width 1152",
                                      "monitor load image.bmp picture", "monitor show"));
}

TEST_P(CaptureTest, RowsOfOtherWidthsArePaddedToFourBytes) {
    Window("0", "0.1", "0", "1");  // 2 x 18, rows padded to 4
    panel_->CaptureClick();
    const std::string bmp = File("image.bmp");
    ASSERT_EQ(bmp.size(), 1078u + 4 * 18 + 19);
    EXPECT_EQ(Le32At(bmp, 18), 2u);
    EXPECT_EQ(Le32At(bmp, 2), bmp.size());
    EXPECT_EQ(Le32At(bmp, 34), 72u);
    for (std::size_t r = 0; r < 18; ++r) {
        const std::string row = bmp.substr(1078 + 4 * r, 4);
        EXPECT_EQ(static_cast<std::uint8_t>(row[0]), 2 * r);  // no RowSkip: one run
        EXPECT_EQ(static_cast<std::uint8_t>(row[1]), 2 * r + 1);
        EXPECT_EQ(row.substr(2), std::string(2, '\0'));
    }
    EXPECT_THAT(Events(), testing::Contains("monitor load image.bmp picture"));
}

TEST_P(CaptureTest, FilesAreTruncatedToTheBytesWritten) {
    ASSERT_TRUE(WriteFile("image.raw", std::string(200000, '\xee')));
    ASSERT_TRUE(WriteFile("image.bmp", std::string(200000, '\xee')));
    Window("2", "5", "1", "3");
    panel_->CaptureClick();
    EXPECT_EQ(File("image.raw").size(), 2629u);
    EXPECT_EQ(File("image.bmp").size(), 3707u);
}

TEST_P(CaptureTest, TemplateFromBmphead1) {
    // A template longer than the bitmap's pixel area: its bytes beyond it form the tail.
    std::string tmpl(panel::kDefaultBitmapHeader.begin(), panel::kDefaultBitmapHeader.end());
    tmpl[54] = '\x7b';  // a palette byte of our own
    tmpl += std::string(2592, '\x11') + std::string(37, '\x22') + "beyond";
    ASSERT_TRUE(WriteFile("bmphead1", tmpl));
    Window("2", "5", "1", "3");
    panel_->CaptureClick();
    const std::string bmp = File("image.bmp");
    ASSERT_EQ(bmp.size(), 3707u);
    EXPECT_EQ(bmp[54], '\x7b');
    EXPECT_EQ(bmp.substr(1078 + 2592), std::string(37, '\x22'));
    EXPECT_EQ(File("bmphead1"), tmpl);  // only read
}

// "image.bmp" byte for byte: the template's header with the true sizes, the pixel rows taken
// from the stream (one byte per stream row dropped with RowSkip), then the template's bytes at
// the tail's offsets where it reaches them and zeros beyond.
TEST_P(CaptureTest, BitmapIsByteExactForTemplatesOfEveryLength) {
    struct Case {
        const char* t4;
        const char* t5;
        const char* t6;
        const char* t7;
        std::size_t width, height;
        bool row_skip;
        std::size_t template_extra;  // template bytes beyond the 1078-byte header
    } cases[] = {
        {"2", "5", "1", "3", 72, 36, false, 0},              // exactly the header: zero tail
        {"4", "2", "0", "1", 288, 18, true, 288 * 18 + 10},  // tail half template, half zeros
        {"0", "1", "15", "0", 24, 18, false, 100000},        // template longer than the file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.t4) + " " + c.t5 + " " + c.t6 + " " + c.t7);
        TempDir dir;
        std::string tmpl(panel::kDefaultBitmapHeader.begin(), panel::kDefaultBitmapHeader.end());
        for (std::size_t i = 54; i < 1078; i += 4) tmpl[i] = static_cast<char>(255 - tmpl[i]);
        for (std::size_t i = 0; i < c.template_extra; ++i) tmpl += static_cast<char>(0x40 + i % 61);
        ASSERT_TRUE(WriteFile("bmphead1", tmpl));
        Window(c.t4, c.t5, c.t6, c.t7);
        panel_->CaptureClick();

        const std::size_t stream_row = c.width + (c.row_skip ? 1 : 0);
        const std::size_t byte_count = (c.width + 1) * c.height;
        const std::string raw = File("image.raw");
        ASSERT_EQ(raw.size(), byte_count + 1);
        std::string expected = tmpl.substr(0, 1078);
        base::PutLe32(reinterpret_cast<std::uint8_t*>(expected.data()) + 2,
                      static_cast<std::uint32_t>(1078 + byte_count + 1));
        base::PutLe32(reinterpret_cast<std::uint8_t*>(expected.data()) + 18,
                      static_cast<std::uint32_t>(c.width));
        base::PutLe32(reinterpret_cast<std::uint8_t*>(expected.data()) + 22,
                      static_cast<std::uint32_t>(c.height));
        base::PutLe32(reinterpret_cast<std::uint8_t*>(expected.data()) + 34,
                      static_cast<std::uint32_t>(c.width * c.height));
        for (std::size_t r = 0; r < c.height; ++r) expected += raw.substr(r * stream_row, c.width);
        while (expected.size() < 1078 + byte_count + 1) {
            expected += expected.size() < tmpl.size() ? tmpl[expected.size()] : '\0';
        }
        EXPECT_EQ(File("image.bmp"), expected);
        EXPECT_EQ(File("bmphead1"), tmpl);
        EXPECT_THAT(Events(), testing::Contains("monitor load image.bmp picture"));
    }
}

TEST_P(CaptureTest, ShortTemplateGivesWayToTheBuiltInOne) {
    ASSERT_TRUE(WriteFile("bmphead1", "BM short"));
    Window("2", "5", "1", "3");
    panel_->CaptureClick();
    const std::string bmp = File("image.bmp");
    EXPECT_EQ(bmp.substr(54, 1024), std::string(panel::kDefaultBitmapHeader.begin() + 54,
                                                panel::kDefaultBitmapHeader.end()));
    EXPECT_EQ(File("bmphead1"), "BM short");
}

TEST_P(CaptureTest, TemplateThatIsNoBitmapLeavesTheMonitorWithoutPicture) {
    ASSERT_TRUE(WriteFile("bmphead1", std::string(1078, '\0')));
    panel_->CaptureClick();
    EXPECT_THAT(Events(),
                ElementsAre("cursor wait", "cursor default", "monitor close", "monitor height 4608",
                            "monitor width 6144", "monitor load image.bmp nopicture",
                            "box SX540 Camera Control Panel: Couldn't find the .BMP "
                            "file.",
                            "monitor show"));
}

// A directory where a file should be: the file cannot be opened (also as root).
TEST_P(CaptureTest, FileThatCannotBeOpenedEndsTheCapture) {
    struct Case {
        const char* in_the_way;
        const char* message;
        bool raw_written;
    } cases[] = {
        {"image.raw", "Can't create the .raw file.", false},
        {"bmphead1", "Can't create the header file.", true},
        {"image.bmp", "Can't create the bmp file.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in_the_way);
        TempDir dir;
        ASSERT_EQ(::mkdir(c.in_the_way, 0755), 0);
        ClearLog();
        Window("2", "5", "1", "3");
        panel_->CaptureClick();
        EXPECT_THAT(Events(), ElementsAre("cursor wait", std::string("box Lensbay: ") + c.message,
                                          "cursor default"));
        // No EndFrameRead: the control register stays at 0x2B.
        EXPECT_EQ(Writes().back(), "control 2b");
        struct stat st {};
        EXPECT_EQ(::stat("image.raw", &st) == 0 && S_ISREG(st.st_mode), c.raw_written);
        EXPECT_TRUE(::stat("image.bmp", &st) != 0 || S_ISDIR(st.st_mode));
    }
}

// The n-th write of a file replacement finds the disk full (n counted from 1).
int g_fullAtWrite = 0;
int FullDiskHook(const char* step) {
    return std::strcmp(step, "write") == 0 && --g_fullAtWrite == 0 ? ENOSPC : 0;
}

TEST_P(CaptureTest, FailedWriteIsReportedAndNotAFinishedCapture) {
    for (const char* name : {"image.raw", "image.bmp"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        // The disk is full when the named file is written (image.raw is written first).
        g_fullAtWrite = std::string(name) == "image.raw" ? 1 : 2;
        base::SetAtomicWriteHookForTesting(FullDiskHook);
        ClearLog();
        panel_->CaptureClick();
        base::SetAtomicWriteHookForTesting(nullptr);
        const std::string what =
            std::string(name) == "image.raw" ? "the .raw file" : "the bmp file";
        EXPECT_THAT(Events(),
                    ElementsAre("cursor wait",
                                "box Lensbay: Can't write " + what + ": No space left on device.",
                                "cursor default"));
        EXPECT_EQ(Writes().back(), "control 2b");
    }
}

TEST_P(CaptureTest, UnusableWindowStopsBeforeCursorAndPort) {
    Window("0", "0", "x", "0");
    panel_->CaptureClick();
    EXPECT_THAT(log_,
                ElementsAre("box Lensbay: Vertical start block (Text6): \"x\" is not a number."));
    EXPECT_NE(::access("image.raw", F_OK), 0);
}

INSTANTIATE_TEST_SUITE_P(Objects, CaptureTest, testing::Values(Objects::kFake, Objects::kPinbus),
                         ObjectsName);

TEST(MonitorTest, SizeFromTheHeaderFieldsEvenWithoutAPicture) {
    TempDir dir;
    Log log;
    TestUi ui(&log);
    std::string header(26, '\0');
    header[18] = 10;                       // W = 10
    header[22] = static_cast<char>(0xFE);  // H = -2 (a top-down bitmap)
    header[23] = header[24] = header[25] = static_cast<char>(0xFF);
    ASSERT_TRUE(WriteFile("image.bmp", header));
    panel::LoadMonitor(ui.Monitor(), ui);
    EXPECT_THAT(log, ElementsAre("monitor height -32", "monitor width 160",
                                 "monitor load image.bmp nopicture",
                                 "box SX540 Camera Control Panel: Couldn't find the .BMP file."));
    // A file too short for the fields, or none at all: 0 x 0 and the box.
    for (bool present : {true, false}) {
        log.clear();
        if (present) {
            ASSERT_TRUE(WriteFile("image.bmp", "BM"));
        } else {
            ASSERT_EQ(::unlink("image.bmp"), 0);
        }
        panel::LoadMonitor(ui.Monitor(), ui);
        EXPECT_THAT(log, ElementsAre("monitor height 0", "monitor width 0",
                                     "monitor load image.bmp nopicture",
                                     "box SX540 Camera Control Panel: Couldn't find the .BMP "
                                     "file."));
    }
    // Extreme fields are kept within the window system's integer range.
    header[18] = header[19] = header[20] = static_cast<char>(0xFF);
    header[21] = 0x7F;
    ASSERT_TRUE(WriteFile("image.bmp", header));
    log.clear();
    panel::LoadMonitor(ui.Monitor(), ui);
    EXPECT_EQ(log[1], "monitor width 2147483647");
}

TEST(BitmapCheckTest, AcceptsWhatCaptureWritesAndRejectsBrokenHeaders) {
    auto make = [](std::int32_t width, std::int32_t height, std::size_t pixels) {
        std::vector<std::uint8_t> b(panel::kDefaultBitmapHeader.begin(),
                                    panel::kDefaultBitmapHeader.end());
        base::PutLe32(b.data() + 18, static_cast<std::uint32_t>(width));
        base::PutLe32(b.data() + 22, static_cast<std::uint32_t>(height));
        b.resize(b.size() + pixels);
        return b;
    };
    auto ok = [](const std::vector<std::uint8_t>& b) {
        return panel::IsLoadableBitmap(b.data(), b.size());
    };
    EXPECT_TRUE(ok(make(384, 288, 384 * 288)));
    EXPECT_TRUE(ok(make(2, 3, 12)));    // padded rows
    EXPECT_FALSE(ok(make(2, 3, 11)));   // pixel data cut short
    EXPECT_TRUE(ok(make(4, -3, 12)));   // top-down
    EXPECT_FALSE(ok(make(0, 3, 12)));   // no width
    EXPECT_FALSE(ok(make(4, 0, 12)));   // no height
    EXPECT_FALSE(ok(make(-4, 3, 12)));  // negative width
    EXPECT_FALSE(ok(make(0x7FFFFFFF, 0x7FFFFFFF, 16)));
    auto b = make(4, 4, 16);
    b[0] = 'X';
    EXPECT_FALSE(ok(b));
    b = make(4, 4, 16);
    b[28] = 7;  // bits per pixel
    EXPECT_FALSE(ok(b));
    b = make(4, 4, 16);
    b[30] = 1;  // run-length compression
    EXPECT_FALSE(ok(b));
    b = make(4, 4, 16);
    b[10] = 0x10;  // pixel data inside the palette
    EXPECT_FALSE(ok(b));
    EXPECT_FALSE(panel::IsLoadableBitmap(b.data(), 20));
}

}  // namespace
}  // namespace panel_test
