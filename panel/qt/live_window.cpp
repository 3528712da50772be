#include "panel/qt/live_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "panel/capture.h"
#include "panel/live_frames.h"
#include "panel/qt/app_icon.h"
#include "panel/qt/picture_view.h"
#include "platform/ui/message_box.h"

namespace panel::qt {

LiveWindow::LiveWindow(Panel& panel, PngEncoder* encoder, QWidget* parent)
    : QWidget(parent), panel_(panel), encoder_(encoder) {
    setObjectName(QStringLiteral("LiveWindow"));
    setWindowTitle(QStringLiteral("Lensbay Live"));
    setWindowIcon(LensbayIcon());
    setAttribute(Qt::WA_QuitOnClose, false);
    view_ = new PictureView;
    view_->setObjectName(QStringLiteral("LivePicture"));
    auto* scroll = new QScrollArea;
    scroll->setWidget(view_);
    scroll->setMinimumSize(400, 310);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("LiveStatus"));
    start_ = new QPushButton(QStringLiteral("&Start"));
    stop_ = new QPushButton(QStringLiteral("S&top"));
    save_ = new QPushButton(QStringLiteral("Save &frame..."));
    save_->setObjectName(QStringLiteral("SaveFrame"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addStretch();
    buttons->addWidget(save_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    connect(start_, &QPushButton::clicked, this, [this] { Start(); });
    connect(stop_, &QPushButton::clicked, this, [this] { Stop(); });
    connect(save_, &QPushButton::clicked, this, [this] { SaveFrame(); });
    timer_ = new QTimer(this);
    timer_->setInterval(500);
    connect(timer_, &QTimer::timeout, this, [this] { UpdateStatus(); });
    UpdateStatus();
}

LiveWindow::~LiveWindow() { Stop(); }

bool LiveWindow::Start() {
    if (Running()) return true;
    std::string error;
    if (!TakeGeometry(&error)) {
        problem_ = QString::fromStdString(error);
        UpdateStatus();
        return false;
    }
    problem_.clear();
    {
        std::lock_guard lock(latest_mutex_);
        failure_.clear();
    }
    stop_requested_ = false;
    produced_ = 0;
    rate_count_ = 0;
    rate_ = 0;
    rate_since_ = std::chrono::steady_clock::now();
    thread_ = std::thread([this] { Loop(); });
    timer_->start();
    UpdateStatus();
    return true;
}

void LiveWindow::Stop() {
    if (!thread_.joinable()) return;
    stop_requested_ = true;
    panel_.Port().Wake();
    thread_.join();  // the frame under way ends with EndFrameRead
    timer_->stop();
    ShowLatest();
    UpdateStatus();
}

bool LiveWindow::TakeGeometry(std::string* error) {
    const FormState& s = panel_.State();
    const base::Result<FrameGeometry> g = ComputeFrameGeometry(
        s.text[kHStartField], s.text[kHEndField], s.text[kVStartField], s.text[kVEndField]);
    if (!g.ok()) {
        *error = g.message();
        return false;
    }
    std::lock_guard lock(latest_mutex_);
    geometry_ = *g;
    return true;
}

void LiveWindow::Loop() {
    FrameReader reader(panel_.Pinbus1(), panel_.Pinbus2());
    PortArbiter& port = panel_.Port();
    Picture picture;
    while (!stop_requested_) {
        FrameGeometry g;
        {
            std::lock_guard lock(latest_mutex_);
            g = geometry_;
        }
        if (!port.BeginFrame(stop_requested_)) break;
        const base::Result<> r = reader.Read(g, &picture);
        // The frame counts before the port is let go, so that a handler taking the port next
        // sees the count it will keep until it is done.
        {
            std::lock_guard lock(latest_mutex_);
            if (!r.ok()) {
                failure_ = r.message();
            } else {
                latest_.width = picture.width;
                latest_.height = picture.height;
                latest_.pixels.assign(picture.pixels.begin(), picture.pixels.end());
            }
        }
        if (r.ok()) ++produced_;
        port.EndFrame();
        // One pending update at a time: the window shows the latest frame when it gets to it.
        if (!posted_.exchange(true)) {
            QMetaObject::invokeMethod(
                this, [this] { ShowLatest(); }, Qt::QueuedConnection);
        }
        if (!r.ok()) break;
    }
}

void LiveWindow::ShowLatest() {
    posted_ = false;
    {
        std::lock_guard lock(latest_mutex_);
        if (!failure_.empty()) problem_ = QString::fromStdString(failure_);
        if (latest_.pixels.empty()) return;
        shown_.width = latest_.width;
        shown_.height = latest_.height;
        shown_.pixels.assign(latest_.pixels.begin(), latest_.pixels.end());
    }
    view_->SetPicture(shown_);
    if (on_frame) on_frame(shown_);
}

QString LiveWindow::StatusText() const { return status_->text(); }

void LiveWindow::UpdateStatus() {
    // A field being typed in may hold no usable window for a moment: the last one stays.
    std::string ignored;
    if (Running()) TakeGeometry(&ignored);
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t count = produced_.load();
    const double seconds = std::chrono::duration<double>(now - rate_since_).count();
    if (Running() && seconds >= 0.25) {
        rate_ = static_cast<double>(count - rate_count_) / seconds;
        rate_count_ = count;
        rate_since_ = now;
    }
    QString text = QStringLiteral("Frame %1").arg(count);
    if (shown_.width > 0) text += QStringLiteral(", %1 x %2").arg(shown_.width).arg(shown_.height);
    if (Running()) {
        text += QStringLiteral(", %1 frames/s").arg(rate_, 0, 'f', 1);
        if (panel_.Port().HeldByHandler()) text += QStringLiteral(" (paused: the port is in use)");
    } else {
        text += QStringLiteral(", stopped");
    }
    if (!problem_.isEmpty()) text += QStringLiteral("\n") + problem_;
    status_->setText(text);
    start_->setEnabled(!Running());
    stop_->setEnabled(Running());
    save_->setEnabled(!shown_.pixels.empty());
}

base::Result<> LiveWindow::SaveFrameTo(const std::string& path) {
    base::Result<> result;
    if (shown_.pixels.empty()) {
        result = base::Fail("There is no frame to save yet.");
    } else if (!encoder_) {
        result = base::Fail("Can't write a PNG: this build has no PNG encoder.");
    } else {
        base::Result<std::vector<std::uint8_t>> png = encoder_->EncodePng(shown_);
        result = png.ok() ? WriteBytesFile(path, png->data(), png->size())
                          : base::Result<>(base::Fail("Can't write a PNG: " + png.message()));
    }
    if (!result.ok()) ui::ShowMessageBox("Lensbay", result.message());
    return result;
}

void LiveWindow::SaveFrame() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save frame"),
                                                      QStringLiteral("frame.png"),
                                                      QStringLiteral("PNG pictures (*.png)"));
    if (!path.isEmpty()) (void)SaveFrameTo(path.toStdString());
}

void LiveWindow::closeEvent(QCloseEvent* event) {
    Stop();
    event->accept();
}

}  // namespace panel::qt
