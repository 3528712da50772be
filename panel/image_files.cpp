#include "panel/image_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "platform/base/files.h"

namespace panel {
namespace {

// Closes on every way out unless released; a close that fails after writing is reported by the
// writer itself.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int Close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

base::Error Failure(FileStep step, int error) { return base::Fail(std::strerror(error), step); }

// A name that is no regular file is refused with what it is instead ("it is a FIFO, not a
// regular file"), which says more than EINVAL's "Invalid argument".
base::Error NotRegular(FileStep step, const std::string& why) {
    return base::Fail("it is " + why, step);
}

bool PWriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t at, int* error) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = errno;
            return false;
        }
        if (n == 0) {
            *error = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        at += n;
    }
    return true;
}

// Opens without blocking (a FIFO or a device in the file's place cannot hang the program) and
// refuses anything but a regular file, with errno EINVAL and what it is in *why.
int OpenRegularForReading(const std::string& path, std::string* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    const bool examined = ::fstat(fd, &st) == 0;
    if (!examined || !S_ISREG(st.st_mode)) {
        const int err = examined ? EINVAL : errno;
        if (examined) *why = base::NotRegularText(st.st_mode);
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

base::Error OpenFailure(int error, const std::string& why) {
    if (error == EINVAL && !why.empty()) return NotRegular(kFileOpen, why);
    return Failure(error == ENOENT ? kFileMissing : kFileOpen, error);
}

std::uint16_t GetLe16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

}  // namespace

void PutLe32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetLe32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

BitmapLayout LayoutFor(const FrameGeometry& g) {
    BitmapLayout layout;
    const auto width = static_cast<std::size_t>(g.FrameWidth);
    const auto height = static_cast<std::size_t>(g.FrameHeight);
    layout.row_bytes = (width + 3) / 4 * 4;
    layout.pixel_area = layout.row_bytes * height;
    layout.file_size = kBitmapHeaderSize + layout.pixel_area + height + 1;
    return layout;
}

FrameStreamLayout StreamLayoutOf(const FrameGeometry& g) {
    FrameStreamLayout s;
    s.width = static_cast<std::size_t>(std::max(g.FrameWidth, 0));
    s.rows = std::max(g.FrameHeight, 0);
    s.row_step = s.width + (g.RowSkip ? 1 : 0);
    s.tail = g.RowSkip ? 0 : static_cast<std::size_t>(s.rows);
    return s;
}

void FillPixelArea(const FrameGeometry& g, const BitmapLayout& layout, const std::uint8_t* raw,
                   std::uint8_t* bitmap) {
    // The bitmap stores the bottom row first too: stream row r is stored row r.
    const FrameStreamLayout stream = StreamLayoutOf(g);
    const std::size_t padding = layout.row_bytes - stream.width;
    std::uint8_t* target = bitmap + kBitmapHeaderSize;
    for (int r = 0; r < stream.rows; ++r) {
        std::memcpy(target, raw + stream.RowOffset(r), stream.width);
        std::memset(target + stream.width, 0, padding);
        target += layout.row_bytes;
    }
}

base::Result<> WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    // Written beside the file and renamed over it when complete: a full disk or a signal leaves
    // the previous file as it was.
    base::Result<base::AtomicFile> file = base::AtomicFile::Create(path);
    if (!file && file.error().code == EINVAL)
        return NotRegular(kFileOpen, base::DescribeNotRegular(path));
    if (!file) return Failure(kFileOpen, static_cast<int>(file.error().code));
    base::Result<> done = file->Write(std::string_view(reinterpret_cast<const char*>(data), size));
    if (done) done = file->Commit();
    if (!done) return Failure(kFileWrite, static_cast<int>(done.error().code));
    return {};
}

base::Result<> ReadFileStart(const std::string& path, std::uint8_t* buffer, std::size_t max,
                             std::size_t* got) {
    *got = 0;
    std::string why;
    Fd fd(OpenRegularForReading(path, &why));
    if (fd.get() < 0) return OpenFailure(errno, why);
    while (*got < max) {
        const ssize_t n = ::read(fd.get(), buffer + *got, max - *got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Failure(kFileRead, errno);
        }
        if (n == 0) break;
        *got += static_cast<std::size_t>(n);
    }
    return {};
}

base::Result<> ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out,
                             std::size_t max) {
    out->clear();
    std::string why;
    Fd fd(OpenRegularForReading(path, &why));
    if (fd.get() < 0) return OpenFailure(errno, why);
    auto too_large = [](std::uint64_t size) {
        return base::Fail(std::to_string(size) + " bytes", kFileTooLarge);
    };
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        // Said from its size alone: a huge (or sparse) file is never read.
        if (static_cast<std::uint64_t>(st.st_size) > max)
            return too_large(static_cast<std::uint64_t>(st.st_size));
        try {
            out->reserve(static_cast<std::size_t>(st.st_size));
        } catch (const std::exception&) {
            return Failure(kFileRead, ENOMEM);
        }
    }
    std::uint8_t chunk[65536];
    try {
        for (;;) {
            const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Failure(kFileRead, errno);
            }
            if (n == 0) break;
            out->insert(out->end(), chunk, chunk + n);
            // A file that grows while it is read stops at the limit all the same.
            if (out->size() > max) {
                const std::size_t size = out->size();
                out->clear();
                return too_large(size);
            }
        }
    } catch (const std::bad_alloc&) {
        out->clear();
        return Failure(kFileRead, ENOMEM);
    }
    return {};
}

base::Result<> WriteFields(const std::string& path, const std::vector<Le32Field>& fields) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) return Failure(kFileOpen, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return Failure(kFileOpen, errno);
    if (!S_ISREG(st.st_mode)) return NotRegular(kFileOpen, base::NotRegularText(st.st_mode));
    for (const Le32Field& field : fields) {
        std::uint8_t bytes[4];
        PutLe32(bytes, field.value);
        int error = 0;
        if (!PWriteAll(fd.get(), bytes, 4, static_cast<off_t>(field.offset), &error)) {
            return Failure(kFileWrite, error);
        }
    }
    if (fd.Close() != 0) return Failure(kFileWrite, errno);
    return {};
}

bool IsLoadableBitmap(const std::uint8_t* data, std::size_t size) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') return false;
    const std::uint64_t offset = GetLe32(data + 10);
    const std::uint64_t header = GetLe32(data + 14);
    std::int64_t width = 0, height = 0;
    unsigned planes = 0, bpp = 0, entry = 4;
    std::uint32_t compression = 0, colours = 0;
    if (header == 12) {
        width = GetLe16(data + 18);
        height = static_cast<std::int16_t>(GetLe16(data + 20));
        planes = GetLe16(data + 22);
        bpp = GetLe16(data + 24);
        entry = 3;
    } else if (header >= 40 && header <= 124 && size >= 14 + 40) {
        width = static_cast<std::int32_t>(GetLe32(data + 18));
        height = static_cast<std::int32_t>(GetLe32(data + 22));
        planes = GetLe16(data + 26);
        bpp = GetLe16(data + 28);
        compression = GetLe32(data + 30);
        colours = GetLe32(data + 46);
    } else {
        return false;
    }
    if (width <= 0 || height == 0 || planes != 1) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    if (compression != 0 && !(compression == 3 && (bpp == 16 || bpp == 32))) return false;
    std::uint64_t palette = 0;
    if (bpp <= 8) {
        const std::uint64_t max_colours = 1u << bpp;
        if (colours > max_colours) return false;
        palette = (colours ? colours : max_colours) * entry;
    }
    if (14 + header + palette > offset || offset > size) return false;
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    const std::uint64_t row_bytes = (static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4;
    return row_bytes * rows <= size - offset;
}

}  // namespace panel
