#include "panel/live_frames.h"

#include <new>

namespace panel {

PortArbiter::Exclusive::Exclusive(PortArbiter& arbiter) : arbiter_(arbiter) {
    std::unique_lock lock(arbiter_.mutex_);
    ++arbiter_.handlers_;
    arbiter_.changed_.wait(lock, [&] { return !arbiter_.frame_; });
}

PortArbiter::Exclusive::~Exclusive() {
    {
        std::lock_guard lock(arbiter_.mutex_);
        --arbiter_.handlers_;
    }
    arbiter_.changed_.notify_all();
}

bool PortArbiter::BeginFrame(const std::atomic<bool>& stop) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stop.load() || handlers_ == 0; });
    if (stop.load()) return false;
    frame_ = true;
    return true;
}

void PortArbiter::EndFrame() {
    {
        std::lock_guard lock(mutex_);
        frame_ = false;
    }
    changed_.notify_all();
}

void PortArbiter::Wake() {
    // Taking the lock orders the caller's store to `stop` before the waiter's next look.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

bool PortArbiter::HeldByHandler() const {
    std::lock_guard lock(mutex_);
    return handlers_ > 0;
}

// The frame loop shows no prompts; a link needs somewhere to send them all the same.
struct FrameReader::Silent : UserInterface {
    NoMonitorWindow monitor{false};
    void MessageBox(const std::string&, const std::string&) override {}
    void SetWaitCursor(bool) override {}
    MonitorWindow& Monitor() override { return monitor; }
};

FrameReader::FrameReader(IDispatch* pinbus1, IDispatch* pinbus2)
    : silent_(new Silent), link_(pinbus1, pinbus2, *silent_) {}

FrameReader::~FrameReader() { delete silent_; }

base::Result<> FrameReader::Read(const FrameGeometry& g, Picture* out) {
    if (base::Result<> ready = stream_.Prepare(g); !ready) return ready;
    try {
        out->pixels.reserve(static_cast<std::size_t>(g.FrameWidth) *
                            static_cast<std::size_t>(g.FrameHeight));
    } catch (const std::bad_alloc&) {
        return base::Fail("Not enough memory for the frame.");
    }
    if (base::Result<> read = ReadFrame(link_, g, stream_); !read) return read;
    PictureFromStream(stream_.Bytes().data(), g.FrameWidth, g.FrameHeight, g.RowSkip, out);
    return {};
}

}  // namespace panel
