#include "panel/capture.h"

#include <algorithm>
#include <new>
#include <vector>

#include "panel/bitmap_file.h"
#include "panel/bitmap_template.h"
#include "panel/field_numbers.h"
#include "panel/file_io.h"
#include "panel/frame_reader.h"
#include "panel/monitor.h"
#include "panel/picture_files.h"
#include "panel/registers.h"
#include "platform/base/little_endian.h"
#include "platform/portio/ending.h"

namespace panel {
namespace {

// The main window's pointer shows the hourglass for the scope's life.
class WaitCursor {
public:
    explicit WaitCursor(UserInterface& ui) : ui_(ui) { ui_.SetWaitCursor(true); }
    ~WaitCursor() { Restore(); }
    void Restore() {
        if (waiting_) ui_.SetWaitCursor(false);
        waiting_ = false;
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    UserInterface& ui_;
    bool waiting_ = true;
};

// One direction of the window: the span from start to end block, or, when that is below 1,
// from the start block to the sensor's edge.
struct SpanSize {
    std::int32_t size = 0;
    bool fallback = false;  // the window runs to the sensor's edge
};
base::Result<SpanSize> Span(int start_field, const std::string& start_text,
                            const std::string& end_text, double start, double end, int block,
                            const char* direction, const char* size_name, const char* units) {
    SpanSize span;
    LONG value = 0;
    if (FAILED(RealToInteger((end - start) * block, &value))) {
        return base::Fail(std::string(direction) + " window (Text" + std::to_string(start_field) +
                          " " + QuoteFieldText(start_text) + ", Text" +
                          std::to_string(start_field + 1) + " " + QuoteFieldText(end_text) +
                          "): the frame " + size_name + " is out of range.");
    }
    if (value < 1) {
        span.fallback = true;
        const HRESULT hr = RealToInteger((kBlocks - start) * block, &value);
        if (FAILED(hr)) return base::Fail(FieldErrorText(start_field, start_text, hr));
        if (value < 1) {
            return base::Fail(FieldDescription(start_field) + " (Text" +
                              std::to_string(start_field) + "): " + QuoteFieldText(start_text) +
                              " leaves no " + units +
                              " to capture; with the end block not after it, it must be below 16.");
        }
    }
    span.size = value;
    return span;
}

}  // namespace

base::Result<FrameGeometry> ComputeFrameGeometry(const std::string& t4, const std::string& t5,
                                                 const std::string& t6, const std::string& t7) {
    const std::string* texts[] = {&t4, &t5, &t6, &t7};
    double t[4] = {};
    for (int i = 0; i < 4; ++i) {
        const HRESULT hr = TextToReal(*texts[i], &t[i]);
        if (FAILED(hr)) return base::Fail(FieldErrorText(4 + i, *texts[i], hr));
    }
    FrameGeometry g;
    const base::Result<SpanSize> across =
        Span(4, t4, t5, t[0], t[1], kBlockColumns, "Horizontal", "width", "columns");
    if (!across) return across.error();
    const base::Result<SpanSize> down =
        Span(6, t6, t7, t[2], t[3], kBlockRows, "Vertical", "height", "rows");
    if (!down) return down.error();
    g.FrameWidth = across->size;
    g.RowSkip = across->fallback;
    g.FrameHeight = down->size;
    g.ByteCount = (static_cast<std::int64_t>(g.FrameWidth) + 1) * g.FrameHeight;
    if (g.ByteCount > kMaxByteCount) {
        return base::Fail("The capture window (Text4 to Text7) is too large: " +
                          std::to_string(g.FrameWidth) + " x " + std::to_string(g.FrameHeight) +
                          " pixels would read " + std::to_string(g.ByteCount) + " bytes (at most " +
                          std::to_string(kMaxByteCount) + ").");
    }
    return g;
}

FrameGeometry BlockGeometry(int h_start, int h_end, int v_start, int v_end) {
    FrameGeometry g;
    g.RowSkip = h_end <= h_start;
    g.FrameWidth = (g.RowSkip ? kBlocks - h_start : h_end - h_start) * kBlockColumns;
    g.FrameHeight = (v_end > v_start ? v_end - v_start : kBlocks - v_start) * kBlockRows;
    g.ByteCount = (static_cast<std::int64_t>(g.FrameWidth) + 1) * g.FrameHeight;
    return g;
}

bool Capture(const FormState& state, CameraLink& link, UserInterface& ui) {
    const base::Result<FrameGeometry> geometry =
        ComputeFrameGeometry(state.text[kHStartField], state.text[kHEndField],
                             state.text[kVStartField], state.text[kVEndField]);
    if (!geometry) {
        ui.MessageBox(kLensbayTitle, geometry.message());
        return false;
    }
    const FrameGeometry& g = *geometry;
    // The frame goes as it comes into image.raw (with one byte more, 0), and into the bitmap's
    // pixel area under the header file's header; both are written before the closing 0x27.
    class FilesSink : public StreamSink {
    public:
        explicit FilesSink(const FrameGeometry& g) : g_(g), layout_(LayoutFor(g)) {}
        base::Result<> Prepare() {
            if (base::Result<> r = StreamSink::Prepare(g_, 1); !r) return r;
            try {
                bitmap_.assign(layout_.file_size, 0);
            } catch (const std::bad_alloc&) {
                return base::Fail("Not enough memory for the frame.");
            }
            return {};
        }
        base::Result<> Complete() override {
            std::vector<std::uint8_t>& raw = Bytes();
            base::Result<> r = WriteWholeFile(kRawFile, raw.data(), raw.size());
            if (!r.ok()) return Failed(r, "Can't create the .raw file.", "the .raw file");
            std::size_t got = 0;
            r = ReadFileStart(kTemplateFile, bitmap_.data(), bitmap_.size(), &got);
            if (!r.ok() && !r.error().Is(base::FileStep::kMissing))
                return Failed(r, "Can't create the header file.", "the header file");
            if (got < kBitmapHeaderSize) {
                // Missing or too short to be a header: the built-in grey template stands in.
                std::fill(bitmap_.begin(), bitmap_.begin() + static_cast<std::ptrdiff_t>(got), 0);
                std::copy(kDefaultBitmapHeader.begin(), kDefaultBitmapHeader.end(),
                          bitmap_.begin());
            }
            FillPixelArea(g_, layout_, raw.data(), bitmap_.data());
            base::PutLe32(bitmap_.data() + kFileSizeOffset,
                          static_cast<std::uint32_t>(layout_.file_size));
            base::PutLe32(bitmap_.data() + kImageSizeOffset,
                          static_cast<std::uint32_t>(layout_.pixel_area));
            // The bitmap's width and height go in before the file is written, so that the file
            // is whole from the moment it appears under its name.
            base::PutLe32(bitmap_.data() + kWidthOffset, static_cast<std::uint32_t>(g_.FrameWidth));
            base::PutLe32(bitmap_.data() + kHeightOffset,
                          static_cast<std::uint32_t>(g_.FrameHeight));
            r = WriteWholeFile(kBitmapFile, bitmap_.data(), bitmap_.size());
            if (!r.ok()) return Failed(r, "Can't create the bmp file.", "the bmp file");
            std::vector<std::uint8_t>().swap(raw);
            std::vector<std::uint8_t>().swap(bitmap_);
            return {};
        }

    private:
        // A file error ends the capture here: no 0x27 (this ending's own 0x2B stays, also for a
        // signal after it), the cursor back, the monitor not reopened.
        static base::Error Failed(const base::Result<>& r, const char* cannot_open,
                                  const char* what) {
            portio::ControlRestsHere();
            if (r.error().Is(base::FileStep::kWrite))
                return base::Fail(std::string("Can't write ") + what + ": " + r.message() + ".");
            return base::Fail(cannot_open);
        }
        const FrameGeometry& g_;
        BitmapLayout layout_;
        std::vector<std::uint8_t> bitmap_;
    } files(g);
    if (base::Result<> ready = files.Prepare(); !ready) {
        ui.MessageBox(kLensbayTitle, ready.message());
        return false;
    }

    WaitCursor cursor(ui);
    if (base::Result<> read = ReadFrame(link, g, files); !read) {
        ui.MessageBox(kLensbayTitle, read.message());
        return false;
    }
    cursor.Restore();
    MonitorWindow& monitor = ui.Monitor();
    monitor.Close();
    LoadMonitor(monitor, ui);
    monitor.Show();
    return true;
}

}  // namespace panel
