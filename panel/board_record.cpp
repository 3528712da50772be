#include "panel/board_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/base/shown.h"
#include "platform/portio/port_claim.h"

namespace panel {
namespace {

constexpr char kMagic[] = "lensbay-register-record 1";
// Seven lines of at most ~150 bytes; anything much larger is not a record.
constexpr std::size_t kMaxRecordBytes = 4096;
constexpr std::size_t kMaxWriterBytes = 100;

char HexDigit(unsigned v) { return "0123456789abcdef"[v & 0xF]; }

// A writer's name on one line: control characters become '?', a runaway name is cut.
std::string WriterText(std::string_view by) {
    std::string out;
    for (char c : by.substr(0, kMaxWriterBytes)) {
        const auto b = static_cast<unsigned char>(c);
        out += b < 0x20 || b == 0x7F ? '?' : c;
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

base::Result<RegisterRecord> LoadBoardRecord(const std::string& path) {
    // Not through a link: the record is only ever the file of its own name.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return RegisterRecord{};
        return base::Fail("the register record " + base::Shown(path) + " cannot be read: " +
                          (errno == ELOOP ? std::string("it is a symbolic link, not followed")
                                          : std::string(std::strerror(errno))));
    }
    std::string text;
    struct stat st {};
    int err = ::fstat(fd, &st) == 0 ? (S_ISREG(st.st_mode) ? 0 : EINVAL) : errno;
    // A writer rewrites the file in place under its exclusive lock: this waits for it to finish.
    while (err == 0 && ::flock(fd, LOCK_SH) != 0) {
        if (errno != EINTR) err = errno;
    }
    char buffer[kMaxRecordBytes + 1];
    while (err == 0 && text.size() <= kMaxRecordBytes) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (err != 0) {
        return base::Fail("the register record " + base::Shown(path) + " cannot be read: " +
                          (err == EINVAL ? std::string("it is not a regular file")
                                         : std::string(std::strerror(err))));
    }
    base::Result<RegisterRecord> record = text.size() > kMaxRecordBytes
                                              ? base::Result<RegisterRecord>(base::Fail("too long"))
                                              : ParseBoardRecord(text);
    if (!record)
        return base::Fail("the register record " + base::Shown(path) + " is damaged (" +
                          record.message() + ")");
    return record;
}

base::Result<> SaveBoardRecord(const std::string& path, const RegisterRecord& record) {
    const std::string text = FormatBoardRecord(record);
    const auto fail = [&path](const std::string& why) {
        return base::Fail("the register record " + base::Shown(path) +
                          " cannot be written: " + why);
    };
    constexpr int kFlags = O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    // An existing record is opened without O_CREAT, which a sticky folder may refuse for another
    // user's file even where its mode allows the write.
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);  // made meanwhile
    if (fd < 0) {
        return fail(errno == ELOOP ? std::string("it is a symbolic link, not followed")
                                   : std::string(std::strerror(errno)));
    }
    struct stat st {};
    std::string refusal;
    if (::fstat(fd, &st) != 0) {
        refusal = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        refusal = "it is not a regular file";
    } else if (st.st_nlink != 1) {
        refusal = "it has other names (hard links)";
    }
    if (refusal.empty()) {
        // Writable by every user, as the port's lock is: root and a user take turns at one port.
        if (st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0666 && ::fchmod(fd, 0666) != 0) {
            // Kept as made: only other users cannot add to it.
        }
        int err = 0;
        while (::flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                err = errno;
                break;
            }
        }
        if (err == 0 && ::ftruncate(fd, 0) != 0) err = errno;
        for (std::size_t done = 0; err == 0 && done < text.size();) {
            const ssize_t n =
                ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) err = n < 0 ? errno : EIO;
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        if (err != 0) refusal = std::strerror(err);
    }
    ::close(fd);
    if (!refusal.empty()) return fail(refusal);
    return {};
}

KeptBoardRecord::KeptBoardRecord(std::string path, std::string writer) : path_(std::move(path)) {
    if (!path_.empty()) {
        base::Result<RegisterRecord> kept = LoadBoardRecord(path_);
        if (kept) {
            record_ = *kept;
        } else {
            std::fprintf(stderr, "lensbay: %s; it starts afresh\n", kept.message().c_str());
            said_ = true;
        }
    }
    record_.SetWriter(std::move(writer));
    record_.OnChange([this] { Save(); });
}

void KeptBoardRecord::Save() {
    if (path_.empty()) return;
    if (base::Result<> saved = SaveBoardRecord(path_, record_); !saved && !said_) {
        // The program goes on; only the record of what it wrote is lost.
        std::fprintf(stderr, "lensbay: %s\n", saved.message().c_str());
        said_ = true;
    }
}

}  // namespace panel
