#include "panel/board_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/base/files.h"
#include "platform/base/shown.h"
#include "platform/portio/ending.h"
#include "platform/portio/port_claim.h"

namespace panel {
namespace {

constexpr char kMagic[] = "lensbay-register-record 1";
// Seven lines of at most ~150 bytes; anything much larger is not a record.
constexpr std::size_t kMaxRecordBytes = 4096;
constexpr std::size_t kMaxWriterBytes = 100;

char HexDigit(unsigned v) { return "0123456789abcdef"[v & 0xF]; }

// A writer's name on one line: control characters (C0, DEL and C1) and bytes that are not UTF-8
// become '?', a runaway name is cut.
std::string WriterText(std::string_view by) {
    by = by.substr(0, kMaxWriterBytes);
    std::string out;
    for (std::size_t i = 0; i < by.size(); ++i) {
        const auto b = static_cast<unsigned char>(by[i]);
        if (b < 0x20 || b == 0x7F) {
            out += '?';
        } else if (b < 0x80) {
            out += by[i];
        } else if (const std::size_t n = base::Utf8CharLength(by, i); n == 0) {
            out += '?';
        } else {
            if (b == 0xC2 && static_cast<unsigned char>(by[i + 1]) <= 0x9F) {
                out += '?';
            } else {
                out.append(by.substr(i, n));
            }
            i += n - 1;
        }
    }
    return out.empty() ? "?" : out;
}

}  // namespace

std::string BoardRecordPath() {
    std::string lock = portio::PortLockPath();
    if (lock.empty()) return "";
    constexpr std::string_view kPort = ".port";
    if (lock.size() > kPort.size() && lock.ends_with(kPort))
        lock.resize(lock.size() - kPort.size());
    return lock + ".registers";
}

std::string FormatBoardRecord(const RegisterRecord& record) {
    std::string out = std::string(kMagic) + "\n";
    for (int i = 0; i < kChipRegisterCount; ++i) {
        const auto r = static_cast<ChipRegister>(i);
        const RegisterRecord::Entry& e = record.Get(r);
        if (e.state == RegisterRecord::Entry::kUnknown) continue;
        out += "register ";
        out += RegisterName(r);
        out += ' ';
        if (e.state == RegisterRecord::Entry::kDefault) {
            out += "default";
        } else {
            out += HexDigit(e.value >> 4);
            out += HexDigit(e.value);
        }
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(e.when.time_since_epoch());
        out += ' ' + std::to_string(ms.count()) + ' ' + WriterText(e.by) + '\n';
    }
    return out;
}

base::Result<RegisterRecord> ParseBoardRecord(std::string_view text) {
    const std::string magic = std::string(kMagic) + "\n";
    if (!text.starts_with(magic))
        return base::Fail("line 1: not a register record (\"" + std::string(kMagic) +
                          "\" expected)");
    text.remove_prefix(magic.size());
    RegisterRecord record;
    bool seen[kChipRegisterCount] = {};
    for (int line = 2; !text.empty(); ++line) {
        auto bad = [line](const std::string& what) {
            return base::Fail("line " + std::to_string(line) + ": " + what);
        };
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) return bad("the last line is cut");
        std::string_view rest = text.substr(0, end);
        text.remove_prefix(end + 1);
        // register NAME VALUE MS WRITER
        std::string_view words[4];
        for (std::string_view& w : words) {
            const std::size_t space = rest.find(' ');
            if (space == std::string_view::npos) return bad("five fields expected");
            w = rest.substr(0, space);
            rest.remove_prefix(space + 1);
        }
        if (words[0] != "register") return bad("\"register\" expected");
        const std::optional<ChipRegister> r = RegisterByName(words[1]);
        if (!r) return bad("unknown register " + base::Shown(words[1].substr(0, 16)));
        const int index = static_cast<int>(*r);
        if (seen[index]) return bad(std::string(RegisterName(*r)) + " given twice");
        seen[index] = true;
        RegisterRecord::Entry e;
        if (words[2] == "default") {
            e.state = RegisterRecord::Entry::kDefault;
        } else {
            unsigned value = 0;
            const char* first = words[2].data();
            const char* last = first + words[2].size();
            const auto [ptr, ec] = std::from_chars(first, last, value, 16);
            if (words[2].size() != 2 || ec != std::errc() || ptr != last ||
                HexDigit(value >> 4) != words[2][0] || HexDigit(value) != words[2][1])
                return bad("bad value for " + std::string(RegisterName(*r)));
            e.state = RegisterRecord::Entry::kValue;
            e.value = static_cast<std::uint8_t>(value);
        }
        long long ms = 0;
        const char* first = words[3].data();
        const char* last = first + words[3].size();
        const auto [ptr, ec] = std::from_chars(first, last, ms);
        // Within what the clock can hold (some 292 years either side of 1970 in nanoseconds).
        constexpr long long kLatest = std::chrono::duration_cast<std::chrono::milliseconds>(
                                          RegisterRecord::Clock::duration::max())
                                          .count();
        if (words[3].empty() || ec != std::errc() || ptr != last || ms < 0 || ms > kLatest ||
            words[3][0] == '-')
            return bad("bad time");
        e.when = RegisterRecord::Clock::time_point(std::chrono::milliseconds(ms));
        if (rest.empty() || rest.size() > kMaxWriterBytes || WriterText(rest) != rest)
            return bad("bad writer");
        e.by = std::string(rest);
        record.Put(*r, e);
    }
    return record;
}

namespace {

// The longest a program waits for the record's lock, which any user who can open the file can
// take: past it (or at once when a signal is ending the program) the lock is given up on.
constexpr auto kRecordLockWait = std::chrono::milliseconds(200);

// Takes `how` (LOCK_SH or LOCK_EX) on `fd` within kRecordLockWait; false when it stays busy.
bool LockWithin(int fd, int how) {
    const auto until = std::chrono::steady_clock::now() + kRecordLockWait;
    for (;;) {
        if (::flock(fd, how | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (portio::EndingPending() || std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string RecordName(const std::string& path) {
    return "the register record " + base::Shown(path);
}

// Why the record cannot be opened, said as it is.
std::string OpenProblem(const std::string& path, int err, const char* doing) {
    struct stat st {};
    if (err == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return RecordName(path) + " is a symbolic link, not followed";
    if (err == EINVAL && ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return RecordName(path) + " is " + base::NotRegularText(st.st_mode);
    return RecordName(path) + " cannot be " + doing + ": " + std::strerror(err);
}

// Reads the open record whole (at most kMaxRecordBytes and one more).
base::Result<std::string> ReadAll(int fd) {
    std::string text;
    char buffer[kMaxRecordBytes + 1];
    off_t at = 0;
    while (text.size() <= kMaxRecordBytes) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return base::FailSystem(std::strerror(errno), errno);
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
    return text;
}

base::Result<RegisterRecord> ParseWhole(const std::string& text) {
    if (text.size() > kMaxRecordBytes) return base::Fail("too long");
    return ParseBoardRecord(text);
}

}  // namespace

base::Result<RegisterRecord> LoadBoardRecord(const std::string& path) {
    // Not through a link: the record is only ever the file of its own name.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return RegisterRecord{};
        return base::Fail(OpenProblem(path, errno, "read"));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno;
        ::close(fd);
        if (!S_ISREG(st.st_mode) && st.st_mode != 0)
            return base::Fail(RecordName(path) + " is " + base::NotRegularText(st.st_mode));
        return base::Fail(RecordName(path) + " cannot be read: " + std::strerror(err));
    }
    // Writers replace the file whole, so it is read without a lock. Only a writer that may not
    // replace it (another user's file in a sticky folder) rewrites it in place under its lock: a
    // text that does not parse is read once more under that lock, waited for a short while only.
    base::Result<std::string> text = ReadAll(fd);
    base::Result<RegisterRecord> record =
        text ? ParseWhole(*text) : base::Result<RegisterRecord>(text.error());
    if (text && !record && LockWithin(fd, LOCK_SH)) {
        text = ReadAll(fd);
        record = text ? ParseWhole(*text) : base::Result<RegisterRecord>(text.error());
    }
    ::close(fd);
    if (!text) return base::Fail(RecordName(path) + " cannot be read: " + text.message());
    if (!record) return base::Fail(RecordName(path) + " is damaged (" + record.message() + ")");
    return record;
}

namespace {

// Rewrites the record in place, for a writer the folder does not let replace it: the whole text
// over the old, then cut to its length, under the record's lock (waited for a short while only).
base::Result<> RewriteInPlace(const std::string& path, const std::string& text) {
    const auto fail = [&path](const std::string& why) {
        return base::Fail(RecordName(path) + " cannot be written: " + why);
    };
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return base::Fail(OpenProblem(path, errno, "written"));
    struct stat st {};
    std::string refusal;
    if (::fstat(fd, &st) != 0) {
        refusal = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        refusal = "it is " + base::NotRegularText(st.st_mode);
    } else if (st.st_nlink != 1) {
        refusal = "it has other names (hard links)";
    } else if (!LockWithin(fd, LOCK_EX)) {
        refusal = "another program holds its lock";
    }
    for (std::size_t done = 0; refusal.empty() && done < text.size();) {
        const ssize_t n =
            ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) refusal = n < 0 ? std::strerror(errno) : std::strerror(EIO);
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (refusal.empty() && ::ftruncate(fd, static_cast<off_t>(text.size())) != 0)
        refusal = std::strerror(errno);
    ::close(fd);
    if (!refusal.empty()) return fail(refusal);
    return {};
}

}  // namespace

base::Result<> SaveBoardRecord(const std::string& path, const RegisterRecord& record) {
    const std::string text = FormatBoardRecord(record);
    base::AtomicWriteOptions options;
    options.follow_links = false;
    options.new_file_mode = 0666;
    // Beside the port's lock, in a folder that lasts no longer than the machine's power.
    options.durable = false;
    base::Result<base::AtomicFile> file = base::AtomicFile::Create(path, options);
    if (!file) {
        const int err = file.error().errno_value;
        if (err == ELOOP || err == EINVAL) return base::Fail(OpenProblem(path, err, "written"));
        // A folder this user may not write beside a record it may: rewritten in place.
        struct stat st {};
        if ((err == EACCES || err == EPERM) && ::lstat(path.c_str(), &st) == 0)
            return RewriteInPlace(path, text);
        return base::Fail(RecordName(path) + " cannot be written: " +
                          (err != 0 ? std::string(std::strerror(err)) : file.message()));
    }
    if (base::Result<> written = file->Write(text); !written)
        return base::Fail(RecordName(path) + " cannot be written: " + written.message());
    if (base::Result<> committed = file->Commit(); !committed) {
        const int err = committed.error().errno_value;
        // A sticky folder lets only a file's owner replace it: another user's record is rewritten
        // in place instead.
        if (err == EPERM || err == EACCES) return RewriteInPlace(path, text);
        return base::Fail(RecordName(path) + " cannot be written: " + committed.message());
    }
    // Readable and writable by every user, as the port's lock is: root and a user take turns at
    // one port. A replacement keeps the old file's mode; a new one is made so here.
    if (const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & 07777) != 0666 && ::fchmod(fd, 0666) != 0) {
            // Kept as made: only other users cannot add to it.
        }
        ::close(fd);
    }
    return {};
}

KeptBoardRecord::KeptBoardRecord(std::string path, std::string writer)
    : path_(std::move(path)), on_ending_([this] { Flush(); }) {
    if (!path_.empty()) {
        base::Result<RegisterRecord> kept = LoadBoardRecord(path_);
        if (kept) {
            record_ = *kept;
        } else {
            // A damaged file of its own is replaced by this run's record; anything else in its
            // place (a link, a FIFO, a folder, a file this user may not read) is left alone.
            struct stat st {};
            const bool replaceable = ::lstat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                                     kept.message().find(" is damaged (") != std::string::npos;
            if (replaceable) {
                std::fprintf(stderr, "lensbay: %s; it starts afresh\n", kept.message().c_str());
            } else {
                std::fprintf(stderr, "lensbay: %s: this run is not recorded\n",
                             kept.message().c_str());
                path_.clear();
            }
            said_ = true;
        }
    }
    record_.SetWriter(std::move(writer));
    record_.OnChange([this] { dirty_ = true; });
}

KeptBoardRecord::~KeptBoardRecord() { Flush(); }

void KeptBoardRecord::Flush() {
    if (!dirty_) return;
    dirty_ = false;
    if (path_.empty()) return;
    if (base::Result<> saved = SaveBoardRecord(path_, record_); !saved && !said_) {
        // The program goes on; only the record of what it wrote is lost.
        std::fprintf(stderr, "lensbay: %s: this run is not recorded\n", saved.message().c_str());
        said_ = true;
    }
}

}  // namespace panel
