#include "platform/portio/sim/board_state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/base/files.h"
#include "platform/base/text.h"

namespace sim {

namespace {

constexpr char kMagic[] = "lensbay-sim-board 1";
// A state file is a few hundred bytes; anything much larger is not one.
constexpr std::size_t kMaxStateBytes = 4096;

std::string Errno(int err) { return std::strerror(err); }

// Why a name opened without following links could not be opened: a link in its place is said.
std::string OpenError(const std::string& path, int err) {
    struct stat st {};
    if (err == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return "it is a symbolic link, which is never followed";
    return Errno(err);
}

// The lock file beside the state file, held while it is read or replaced; closed by the
// destructor, which ends the hold. It is never followed as a link. Readable by every user who may
// reach the folder, so that a board root once used stays its user's (a read-only descriptor
// holds a lock as well).
// The longest a program waits for the state's lock.
constexpr auto kStateLockWait = std::chrono::milliseconds(2000);
std::atomic<bool (*)()> g_abandoned{nullptr};
std::atomic<bool> g_waited_in_vain{false};

class StateLock {
public:
    static base::Result<StateLock> Take(const std::string& path, int operation) {
        StateLock lock;
        const std::string name = path + ".lock";
        constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
        lock.fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
        if (lock.fd_ < 0 && errno == EACCES) lock.fd_ = ::open(name.c_str(), O_RDONLY | kFlags);
        if (lock.fd_ < 0) return Refused(name, "cannot be opened: " + OpenError(name, errno));
        struct stat st {};
        if (::fstat(lock.fd_, &st) != 0)
            return Refused(name, "cannot be examined: " + Errno(errno));
        if (!S_ISREG(st.st_mode)) return Refused(name, "is " + base::NotRegularText(st.st_mode));
        if (st.st_uid == ::geteuid() && (st.st_mode & 0644) != 0644 &&
            ::fchmod(lock.fd_, (st.st_mode & 07777) | 0644) != 0) {
            // Kept as it is: only another user of the board may not take its turn.
        }
        // Held by a program of ours only for one read or one replacement; a holder that keeps it
        // longer (anyone who may read the file can take it) is not waited for past kStateLockWait.
        const auto until = std::chrono::steady_clock::now() + kStateLockWait;
        while (::flock(lock.fd_, operation | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return Refused(name, "cannot be locked: " + Errno(errno));
            if (const auto abandoned = g_abandoned.load(); abandoned && abandoned())
                return Refused(name,
                               "is held by another program; the ending program does not "
                               "wait for it");
            if (g_waited_in_vain.load() || std::chrono::steady_clock::now() >= until) {
                // Waited for once: later turns of this program do not wait again.
                g_waited_in_vain.store(true);
                return Refused(name, "is held by another program for longer than " +
                                         std::to_string(kStateLockWait.count()) +
                                         " ms; the board's state is not waited for");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return lock;
    }
    StateLock(StateLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    StateLock& operator=(StateLock&&) = delete;
    ~StateLock() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    StateLock() = default;
    static base::Error Refused(const std::string& name, const std::string& why) {
        return base::Fail("the simulated board's lock file '" + name + "' " + why);
    }
    int fd_ = -1;
};

bool ParseUnsigned(std::string_view text, std::uint64_t* out) {
    if (text.empty()) return false;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

bool ParseOnOff(std::string_view text, bool* out) {
    if (text != "on" && text != "off") return false;
    *out = text == "on";
    return true;
}

}  // namespace

void SetLockWaitAbandoned(bool (*abandoned)()) { g_abandoned.store(abandoned); }

base::Result<std::string> StateFilePath() {
    // Set, even to nothing, it decides: "" asks for a fresh board in each program.
    if (const char* named = std::getenv("LENSBAY_SIM_STATE"); named != nullptr)
        return std::string(named);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    // Without a runtime folder (a container, su, a service, a CI job) the board is kept in a
    // folder of the user's own under /tmp, which lasts while the machine runs, so that every
    // shell of the user shares one board. Made once, and said when it is.
    const bool own_tmp = runtime == nullptr || *runtime == '\0';
    // The folder is this user's alone: another user who made it first (or a link in its place)
    // could otherwise see the board, swap its files or plant links in it.
    const std::string folder =
        own_tmp ? "/tmp/lensbay-" + std::to_string(::geteuid()) : std::string(runtime) + "/lensbay";
    auto refused = [&folder](const std::string& why) {
        return base::Fail("the simulated board's folder '" + folder + "' " + why +
                          "; remove it, or name the board's file with LENSBAY_SIM_STATE");
    };
    if (::mkdir(folder.c_str(), 0700) == 0) {
        if (::chmod(folder.c_str(), 0700) != 0)
            return refused("cannot be made private: " + Errno(errno));
        if (own_tmp) {
            std::fprintf(stderr,
                         "simulated board: XDG_RUNTIME_DIR is not set, so the board is kept in "
                         "'%s/sim-board' while the machine runs (LENSBAY_SIM_STATE=FILE names "
                         "another file)\n",
                         folder.c_str());
        }
    } else if (errno != EEXIST) {
        return base::Fail("the simulated board's folder '" + folder +
                          "' cannot be made: " + Errno(errno));
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return refused("cannot be examined: " + Errno(errno));
    if (!S_ISDIR(st.st_mode)) return refused("is not a folder (a link or another file)");
    if (st.st_uid != ::geteuid())
        return refused("belongs to another user (uid " + std::to_string(st.st_uid) + ")");
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return refused(std::string("is open to other users (mode ") + mode + ")");
    }
    return folder + "/sim-board";
}

std::string FormatBoardState(const BoardState& s) {
    std::string out = std::string(kMagic) + "\n";
    out += "switches ";
    for (int bit = 3; bit >= 0; --bit) out += (s.switches >> bit & 1) ? '1' : '0';
    out += "\nfollows-prompts ";
    out += s.follows_prompts ? "on" : "off";
    out += "\nagc ";
    out += s.agc ? "on" : "off";
    out += "\nreset-request ";
    out += s.reset_requested ? "1" : "0";
    out += "\nframes " + std::to_string(s.frames);
    out += "\nscene-time " + std::to_string(s.scene_time);
    out += "\nnext-time " + std::to_string(s.next_time) + "\n";
    for (int r = FCTL; r <= VWCTL; ++r) {
        if (!s.latched[r]) continue;
        out += "register ";
        out += RegisterName(r);
        out += ' ';
        const char byte = static_cast<char>(*s.latched[r]);
        base::AppendHexBytes(&out, std::string_view(&byte, 1));
        out += '\n';
    }
    return out;
}

base::Result<BoardState> ParseBoardState(std::string_view text) {
    BoardState s;
    if (text.substr(0, sizeof kMagic) != std::string(kMagic) + "\n")
        return base::Fail("line 1: not a simulated board's state (\"" + std::string(kMagic) +
                          "\" expected)");
    text.remove_prefix(sizeof kMagic);
    constexpr const char* kKeys[] = {"switches", "follows-prompts", "agc",      "reset-request",
                                     "frames",   "scene-time",      "next-time"};
    constexpr int kKeyCount = static_cast<int>(std::size(kKeys));
    bool seen[kKeyCount + 8] = {};
    int line_number = 1;
    while (!text.empty()) {
        ++line_number;
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return base::Fail("line " + std::to_string(line_number) + ": the last line is cut");
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        auto bad = [&](const std::string& what) {
            return base::Fail("line " + std::to_string(line_number) + ": " + what);
        };
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos) return bad("a key and a value expected");
        const std::string_view key = line.substr(0, space);
        std::string_view value = line.substr(space + 1);
        int slot = -1;
        bool ok = true;
        std::uint64_t number = 0;
        if (key == "register") {
            const std::size_t gap = value.find(' ');
            const std::string_view name = value.substr(0, gap);
            for (int r = FCTL; r <= VWCTL; ++r)
                if (name == RegisterName(r)) slot = kKeyCount + r;
            if (slot < 0 || gap == std::string_view::npos) return bad("unknown register");
            value = value.substr(gap + 1);
            unsigned byte = 0;
            const auto [ptr, ec] =
                std::from_chars(value.data(), value.data() + value.size(), byte, 16);
            ok = value.size() == 2 && ec == std::errc() && ptr == value.data() + value.size();
            if (ok) s.latched[slot - kKeyCount] = static_cast<std::uint8_t>(byte);
        } else {
            for (int k = 0; k < kKeyCount; ++k)
                if (key == kKeys[k]) slot = k;
            switch (slot) {
                case 0:
                    ok = value.size() == 4;
                    s.switches = 0;
                    for (char c : value) {
                        ok = ok && (c == '0' || c == '1');
                        s.switches = static_cast<std::uint8_t>(s.switches << 1 | (c == '1'));
                    }
                    break;
                case 1:
                    ok = ParseOnOff(value, &s.follows_prompts);
                    break;
                case 2:
                    ok = ParseOnOff(value, &s.agc);
                    break;
                case 3:
                    ok = value == "0" || value == "1";
                    s.reset_requested = value == "1";
                    break;
                case 4:
                case 5:
                case 6:
                    ok = ParseUnsigned(value, &number);
                    (slot == 4 ? s.frames : slot == 5 ? s.scene_time : s.next_time) = number;
                    break;
                default:
                    return bad("unknown key '" + std::string(key.substr(0, 32)) + "'");
            }
        }
        if (!ok) return bad("bad value for " + std::string(key));
        if (seen[slot]) return bad(std::string(key) + " given twice");
        seen[slot] = true;
    }
    for (int k = 0; k < kKeyCount; ++k)
        if (!seen[k]) return base::Fail(std::string("the key ") + kKeys[k] + " is missing");
    return s;
}

base::Result<BoardState> LoadBoardState(const std::string& path) {
    base::Result<StateLock> lock = StateLock::Take(path, LOCK_SH);
    if (!lock) return lock.error();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return BoardState{};  // a board just powered on
        return base::Fail("the simulated board's state '" + path +
                          "' cannot be read: " + OpenError(path, errno));
    }
    std::string text;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    int err = errno;
    if (ok && !S_ISREG(st.st_mode)) {
        ok = false;
        err = EINVAL;
    }
    // Its size is known before anything is read: a huge file is refused at once.
    const bool too_long = ok && st.st_size > static_cast<off_t>(kMaxStateBytes);
    char buffer[kMaxStateBytes + 1];
    while (ok && !too_long && text.size() <= kMaxStateBytes) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            err = errno;
        }
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) {
        return base::Fail("the simulated board's state '" + path + "' cannot be read: " +
                          (err == EINVAL ? std::string("not a regular file") : Errno(err)));
    }
    base::Result<BoardState> state = too_long || text.size() > kMaxStateBytes
                                         ? base::Result<BoardState>(base::Fail("too long"))
                                         : ParseBoardState(text);
    if (!state) {
        return base::Fail("the simulated board's state '" + path + "' is damaged (" +
                          state.message() + "); `lensbay power-cycle` starts it afresh");
    }
    return state;
}

base::Result<> SaveBoardState(const std::string& path, const BoardState& state) {
    base::Result<StateLock> lock = StateLock::Take(path, LOCK_EX);
    if (!lock) return lock.error();
    // Replaced whole, through a temporary file of its own beside it: never a link followed, the
    // file's owner and mode kept (a board root used stays its user's). It lives for the power of
    // the board, not of the machine: no flush to the disk.
    base::AtomicWriteOptions options;
    options.new_file_mode = 0600;
    options.follow_links = false;
    options.durable = false;
    if (base::Result<> written = base::AtomicWriteFile(path, FormatBoardState(state), options);
        !written) {
        const std::string why = written.error().errno_value == ELOOP
                                    ? "it is a symbolic link, which is never followed"
                                    : written.message();
        return base::Fail("the simulated board's state '" + path + "' cannot be written: " + why);
    }
    return {};
}

}  // namespace sim
