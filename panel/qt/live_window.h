// The live view: frame after frame from the board with the window of Text4 .. Text7, read on a
// thread of its own with Capture's read loop, shown as each arrives with the frame count and
// rate. It writes no file of Capture's; it pauses while a button's handler owns the port.
#pragma once

#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "panel/panel.h"
#include "panel/picture.h"

class QLabel;
class QPushButton;
class QTimer;

namespace panel::qt {

class PictureView;

class LiveWindow : public QWidget {
public:
    LiveWindow(Panel& panel, PngEncoder* encoder, QWidget* parent = nullptr);
    ~LiveWindow() override;

    // Starts reading frames with the window of the fields; false with the reason shown in the
    // window when the fields give no frame. While it runs, the fields are looked at again
    // twice a second: a new usable window applies from the next frame on.
    bool Start();
    // Lets the frame being read finish (the port ends at control 0x27), then stops.
    void Stop();
    bool Running() const { return thread_.joinable(); }

    // Frames read since the start, and the picture shown (the latest that reached the window).
    std::uint64_t FramesRead() const { return produced_.load(); }
    const Picture& Shown() const { return shown_; }
    QString StatusText() const;
    // Writes the picture shown as PNG; the error is also shown in a box.
    base::Result<> SaveFrameTo(const std::string& path);

    // Called on the window's thread with each picture shown.
    std::function<void(const Picture&)> on_frame;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Loop();
    // The window of the fields as they are now, for the next frame; false when it is unusable.
    bool TakeGeometry(std::string* error);
    void ShowLatest();
    void UpdateStatus();
    void SaveFrame();

    Panel& panel_;
    PngEncoder* encoder_;
    PictureView* view_;
    QLabel* status_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* save_;
    QTimer* timer_;

    std::thread thread_;
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> posted_{false};
    std::atomic<std::uint64_t> produced_{0};
    std::mutex latest_mutex_;
    FrameGeometry geometry_;  // guarded by latest_mutex_
    Picture latest_;          // guarded by latest_mutex_
    std::string failure_;     // guarded by latest_mutex_
    Picture shown_;
    std::uint64_t rate_count_ = 0;
    std::chrono::steady_clock::time_point rate_since_;
    double rate_ = 0;
    QString problem_;
};

}  // namespace panel::qt
