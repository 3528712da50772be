#include "panel/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

private:
    int fd_;
};

using base::FileStep;

base::Error Failure(FileStep step, int error) {
    return base::FailFile(step, std::strerror(error), error);
}

// A name that is no regular file is refused with what it is instead ("it is a FIFO, not a
// regular file"), which says more than EINVAL's "Invalid argument".
base::Error NotRegular(FileStep step, const std::string& why) {
    return base::FailFile(step, "it is " + why);
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
    if (error == EINVAL && !why.empty()) return NotRegular(FileStep::kOpen, why);
    return Failure(error == ENOENT ? FileStep::kMissing : FileStep::kOpen, error);
}

}  // namespace

base::Result<> WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                              LinkInPlace links) {
    // Written beside the file and renamed over it when complete: a full disk or a signal leaves
    // the previous file as it was.
    base::AtomicWriteOptions options;
    options.follow_links = links == LinkInPlace::kFollow;
    base::Result<base::AtomicFile> file = base::AtomicFile::Create(path, options);
    if (!file && file.error().errno_value == ELOOP && !options.follow_links)
        return NotRegular(FileStep::kOpen, "it is a symbolic link, which is not followed");
    if (!file && file.error().errno_value == EINVAL)
        return NotRegular(FileStep::kOpen, base::DescribeNotRegular(path));
    if (!file) return Failure(FileStep::kOpen, file.error().errno_value);
    base::Result<> done = file->Write(std::string_view(reinterpret_cast<const char*>(data), size));
    if (done) done = file->Commit();
    if (!done) return Failure(FileStep::kWrite, done.error().errno_value);
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
            return Failure(FileStep::kRead, errno);
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
        return base::FailFile(FileStep::kTooLarge, std::to_string(size) + " bytes");
    };
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        // Said from its size alone: a huge (or sparse) file is never read.
        if (static_cast<std::uint64_t>(st.st_size) > max)
            return too_large(static_cast<std::uint64_t>(st.st_size));
        try {
            out->reserve(static_cast<std::size_t>(st.st_size));
        } catch (const std::exception&) {
            return Failure(FileStep::kRead, ENOMEM);
        }
    }
    std::uint8_t chunk[65536];
    try {
        for (;;) {
            const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Failure(FileStep::kRead, errno);
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
        return Failure(FileStep::kRead, ENOMEM);
    }
    return {};
}

}  // namespace panel
