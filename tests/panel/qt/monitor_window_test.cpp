#include "panel/qt/monitor_window.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include "panel/bitmap_template.h"
#include "platform/ui/cursor.h"
#include "tests/panel/qt/panel_fixture.h"

namespace {

using panel::qt::QtMonitorWindow;
using testing_support::PanelWindowTest;

QImage Gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, 77));
    return image;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir_;
    QtMonitorWindow monitor_;
};

TEST_F(MonitorTest, ClientAreaIsTheHeaderSizeInTwipsOverFifteen) {
    // Full frame 384 x 288: 6144 x 4608 twips.
    monitor_.SetHeightTwips(16 * 288);
    monitor_.SetWidthTwips(16 * 384);
    ASSERT_NE(monitor_.Widget(), nullptr);
    EXPECT_EQ(monitor_.Widget()->size(), QSize(410, 307));
    // 72 x 36: 1152 x 576 twips.
    monitor_.SetHeightTwips(16 * 36);
    monitor_.SetWidthTwips(16 * 72);
    EXPECT_EQ(monitor_.Widget()->size(), QSize(77, 38));
    // Sizes no window can take are brought within what one can.
    monitor_.SetHeightTwips(-16 * 36);
    monitor_.SetWidthTwips(0x7FFFFFFF);
    EXPECT_EQ(monitor_.Widget()->height(), 1);
    EXPECT_EQ(monitor_.Widget()->width(), QWIDGETSIZE_MAX);
}

TEST_F(MonitorTest, LoadsOnlyReadablePictures) {
    EXPECT_FALSE(monitor_.LoadPicture(Path("missing.bmp").toStdString()));
    EXPECT_TRUE(monitor_.Widget()->Picture().isNull());
    QFile junk(Path("junk.bmp"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(1078 + 100, '\0'));  // a header template of zeros
    junk.close();
    EXPECT_FALSE(monitor_.LoadPicture(Path("junk.bmp").toStdString()));
    ASSERT_TRUE(Gradient(72, 36).save(Path("image.bmp"), "BMP"));
    EXPECT_TRUE(monitor_.LoadPicture(Path("image.bmp").toStdString()));
    EXPECT_EQ(monitor_.Widget()->Picture().size(), QSize(72, 36));
    // Held in memory: removing the file changes nothing.
    QFile::remove(Path("image.bmp"));
    EXPECT_EQ(monitor_.Widget()->Picture().size(), QSize(72, 36));
}

TEST_F(MonitorTest, PictureSitsUnscaledAtTheTopLeft) {
    ASSERT_TRUE(Gradient(72, 36).save(Path("small.bmp"), "BMP"));
    monitor_.SetHeightTwips(16 * 36);
    monitor_.SetWidthTwips(16 * 72);
    ASSERT_TRUE(monitor_.LoadPicture(Path("small.bmp").toStdString()));
    monitor_.Show();
    auto* w = monitor_.Widget();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "SX540 Monitor");
    EXPECT_EQ(w->objectName(), "SX540_Monitor");
    EXPECT_FALSE(w->windowIcon().isNull());
    EXPECT_TRUE(w->children().isEmpty());  // no controls
    QImage shot = w->grab().toImage();
    EXPECT_EQ(shot.pixel(0, 0), qRgb(0, 0, 77));
    EXPECT_EQ(shot.pixel(71, 35), qRgb(71, 35, 77));
    // Beyond the picture: the window's background colour.
    EXPECT_EQ(QColor(shot.pixel(76, 37)), w->palette().color(QPalette::Window));

    // A picture larger than the window is cut off, not scaled.
    ASSERT_TRUE(Gradient(384, 288).save(Path("large.bmp"), "BMP"));
    monitor_.SetHeightTwips(16 * 36);
    monitor_.SetWidthTwips(16 * 72);
    ASSERT_TRUE(monitor_.LoadPicture(Path("large.bmp").toStdString()));
    shot = w->grab().toImage();
    EXPECT_EQ(shot.pixel(76, 37), qRgb(76, 37, 77));
}

TEST_F(MonitorTest, ClosingUnloadsSoTheNextLoadStartsAfresh) {
    monitor_.SetHeightTwips(16 * 36);
    monitor_.Show();
    QPointer<QWidget> first = monitor_.Widget();
    monitor_.Close();
    EXPECT_EQ(monitor_.Widget(), nullptr);
    monitor_.Close();  // harmless when closed
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    monitor_.Show();
    ASSERT_NE(monitor_.Widget(), nullptr);
    EXPECT_EQ(monitor_.Widget()->size(), QSize(312, 213));  // the design size again
    // Closed by the user: unloaded as well.
    monitor_.Widget()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(monitor_.Widget(), nullptr);
}

// A capture through the window: the panel's load step drives this monitor.
class CaptureTest : public PanelWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        previous_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
        PanelWindowTest::SetUp();
    }
    void TearDown() override {
        PanelWindowTest::TearDown();
        QDir::setCurrent(previous_);
    }
    void WriteHeaderTemplate() {
        const panel::BitmapHeader header = panel::MakeDefaultBitmapHeader();
        QFile file(QStringLiteral("bmphead1"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(header.data()),
                   static_cast<qint64>(header.size()));
    }
    void Enter(int n, const char* text) {
        QTest::mouseClick(window_->Field(n), Qt::LeftButton);
        QTest::keyClicks(window_->Field(n), text);
    }
    QTemporaryDir dir_;
    QString previous_;
};

TEST_F(CaptureTest, CaptureOpensTheMonitorAtTheFrameSize) {
    WriteHeaderTemplate();
    Enter(4, "2");
    Enter(5, "5");
    Enter(6, "1");
    Enter(7, "3");
    boxes_.clear();
    QTest::mouseClick(Find("Capture"), Qt::LeftButton);
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
    EXPECT_FALSE(ui::WaitCursorShown());
    auto* monitor = ui_.QtMonitor().Widget();
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->isVisible());
    EXPECT_EQ(monitor->size(), QSize(77, 38));  // 1152 x 576 twips
    EXPECT_EQ(monitor->Picture().size(), QSize(72, 36));
    // The main window stays usable: the next capture replaces the monitor.
    QPointer<QWidget> first = monitor;
    QTest::mouseClick(Find("Capture"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(ui_.QtMonitor().Widget(), nullptr);
    EXPECT_TRUE(ui_.QtMonitor().Widget()->isVisible());
}

TEST_F(CaptureTest, UnreadablePictureGivesTheMessageAndAnEmptyWindowOfFrameSize) {
    // A header template of zeros: the bitmap is no picture, but its size fields are set.
    QFile zeros(QStringLiteral("bmphead1"));
    ASSERT_TRUE(zeros.open(QIODevice::WriteOnly));
    zeros.write(QByteArray(static_cast<qsizetype>(panel::kBitmapHeaderSize), '\0'));
    zeros.close();
    boxes_.clear();
    QTest::mouseClick(Find("Capture"), Qt::LeftButton);
    EXPECT_EQ(boxes_,
              std::vector<std::string>{"SX540 Camera Control Panel|Couldn't find the .BMP file."});
    auto* monitor = ui_.QtMonitor().Widget();
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->isVisible());
    EXPECT_EQ(monitor->size(), QSize(410, 307));  // 384 x 288 from the size fields
    EXPECT_TRUE(monitor->Picture().isNull());
    // The pointer was back at the default before the monitor was loaded.
    EXPECT_EQ(waitCursorAtBox_.back(), false);
}

TEST_F(CaptureTest, HourglassDuringTheCaptureAndBackAfterAFileError) {
    // Unusable fields stop the capture before the pointer changes.
    Enter(6, "x");
    boxes_.clear();
    waitCursorAtBox_.clear();
    QTest::mouseClick(Find("Capture"), Qt::LeftButton);
    EXPECT_EQ(boxes_, std::vector<std::string>{
                          "Lensbay|Vertical start block (Text6): \"x\" is not a number."});
    EXPECT_EQ(waitCursorAtBox_, std::vector<bool>{false});

    // A file that cannot be created: the box shows under the hourglass, then the pointer is
    // back and no monitor opens.
    Enter(6, "0");
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("image.bmp")));
    boxes_.clear();
    waitCursorAtBox_.clear();
    QTest::mouseClick(Find("Capture"), Qt::LeftButton);
    EXPECT_EQ(boxes_, std::vector<std::string>{"Lensbay|Can't create the bmp file."});
    EXPECT_EQ(waitCursorAtBox_, std::vector<bool>{true});
    EXPECT_FALSE(ui::WaitCursorShown());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(ui_.QtMonitor().Widget(), nullptr);
}

}  // namespace
