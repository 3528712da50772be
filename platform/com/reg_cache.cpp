#include "platform/com/reg_cache.h"

#include <cerrno>

namespace reg {
namespace {

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

FileStamp FileStamp::Of(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool FileStamp::operator==(const FileStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && SameTime(mtime, o.mtime) &&
           SameTime(ctime, o.ctime);
}

bool FileStamp::StillAt(const std::string& path) const {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return errno == ENOENT && *this == FileStamp{};
    return S_ISREG(st.st_mode) && Of(st) == *this;
}

bool FileMemory::Fresh(const std::string& path, const struct stat& st) const {
    return known_ && !racy_ && path_ == path && stamp_ == FileStamp::Of(st);
}

bool FileMemory::SameText(const std::string& path, std::string_view text) const {
    return known_ && path_ == path && text_ == text;
}

void FileMemory::Remember(const std::string& path, const struct stat& st, std::string text,
                          time_t now) {
    text_ = std::move(text);
    Stamp(path, st, now);
}

void FileMemory::Remember(const std::string& path, const struct stat& st, std::string* text,
                          time_t now) {
    text_.swap(*text);
    Stamp(path, st, now);
}

void FileMemory::Stamp(const std::string& path, const struct stat& st, time_t now) {
    known_ = true;
    absent_ = false;
    path_ = path;
    stamp_ = FileStamp::Of(st);
    const time_t changed =
        st.st_mtim.tv_sec > st.st_ctim.tv_sec ? st.st_mtim.tv_sec : st.st_ctim.tv_sec;
    racy_ = now - changed < kRacySeconds;
}

void FileMemory::RememberAbsent(const std::string& path) {
    Forget();
    absent_ = true;
    racy_ = true;
    path_ = path;
}

void FileMemory::Forget() {
    known_ = false;
    absent_ = false;
    racy_ = false;
    path_.clear();
    stamp_ = FileStamp{};
    text_.clear();
    text_.shrink_to_fit();
}

}  // namespace reg
