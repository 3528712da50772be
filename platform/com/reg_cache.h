// What the class registry's kept tree was made from, so that a read can tell whether the file still
// says the same without parsing it again, whoever else writes it. The registry asks this and
// nothing else whether a file has changed.
//
// A file is trusted unread when its stamp (device, inode, size, modification and status-change
// times to the nanosecond) is the one it had when read, and it was not modified so shortly before
// that read that a further change could have left the stamp as it was (file-system clocks are
// coarse, inode numbers are reused). Otherwise it is read again, and parsed again only when its
// bytes differ from the ones the tree was made from. The status-change time cannot be set by a
// writer, so a change that restores the modification time is still seen.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <string>
#include <string_view>

#include "platform/com/combase.h"

namespace reg {

// Which file, as it was when examined. FileStamp{} stands for no file.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    COM_EXPORT static FileStamp Of(const struct stat& st);
    COM_EXPORT bool operator==(const FileStamp& o) const;
    // Whether the file at `path` is still this one (for FileStamp{}: whether there is still no
    // file). A stamp taken while holding the file's lock, asked again under the same lock: no
    // writer can have come between, so the racy window does not apply.
    COM_EXPORT bool StillAt(const std::string& path) const;
};

class COM_EXPORT FileMemory {
public:
    // A file modified within this many seconds before it was read is read again next time.
    static constexpr time_t kRacySeconds = 2;

    // Whether the file at `path`, examined as `st`, may be taken as unchanged without reading.
    bool Fresh(const std::string& path, const struct stat& st) const;
    // Whether `text`, just read from `path`, is what the kept tree was made from.
    bool SameText(const std::string& path, std::string_view text) const;
    // The kept tree now stands for `text`, the content of `path` examined as `st` (read by this
    // process, or written by it and renamed into place), at the time `now`.
    void Remember(const std::string& path, const struct stat& st, std::string text,
                  time_t now = std::time(nullptr));
    // The same for the text in *text, which gets back the buffer this memory held: a caller that
    // reads the file again and again reuses the two allocations.
    void Remember(const std::string& path, const struct stat& st, std::string* text,
                  time_t now = std::time(nullptr));
    // There is no file at `path`: the kept tree is the empty one. Never fresh (the next read looks
    // again), but Absent() until something else is remembered.
    void RememberAbsent(const std::string& path);
    // The file is read again next time whatever its stamp (this process just wrote it: another
    // writer may follow within the same clock tick). Its text still counts for SameText.
    void Doubt() { racy_ = true; }
    // Nothing is known (no file, or a read that failed).
    void Forget();

    // Whether the last thing remembered is that there is no file at `path`.
    bool Absent(const std::string& path) const { return absent_ && path_ == path; }
    // Whether the next read reads the file again whatever its stamp.
    bool racy() const { return racy_; }
    // The stamp the text was read with; FileStamp{} when nothing is known or there is no file.
    FileStamp stamp() const { return known_ ? stamp_ : FileStamp{}; }
    // The file's path ("" when nothing is known).
    const std::string& path() const { return path_; }
    // The text last remembered ("" when nothing is known).
    const std::string& text() const { return text_; }

private:
    void Stamp(const std::string& path, const struct stat& st, time_t now);

    bool known_ = false;   // text_ is the content of path_ as stamped
    bool absent_ = false;  // there was no file at path_
    bool racy_ = false;
    std::string path_;
    FileStamp stamp_;
    std::string text_;
};

}  // namespace reg
