#include "platform/portio/sim/board_state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

constexpr char kMagic[] = "lensbay-sim-board 1";
// A state file is a few hundred bytes; anything much larger is not one.
constexpr std::size_t kMaxStateBytes = 4096;

constexpr const char* kRegisterNames[] = {nullptr, "FCTL", "EXCTL", "GCTL",
                                          "FRCTL", "MCTL", "HWCTL", "VWCTL"};

std::string Errno(int err) { return std::strerror(err); }

// The lock file beside the state file, held while it is read or replaced; closed by the
// destructor, which ends the hold.
class StateLock {
public:
    static base::Result<StateLock> Take(const std::string& path, int operation) {
        StateLock lock;
        const std::string name = path + ".lock";
        lock.fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock.fd_ < 0) {
            return base::Fail("the simulated board's lock file '" + name +
                              "' cannot be opened: " + Errno(errno));
        }
        // Held only for one read or one replacement, so waiting for it is short.
        while (::flock(lock.fd_, operation) != 0) {
            if (errno != EINTR) {
                return base::Fail("the simulated board's lock file '" + name +
                                  "' cannot be locked: " + Errno(errno));
            }
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

char HexDigit(unsigned v) { return "0123456789abcdef"[v & 0xF]; }

}  // namespace

std::string StateFilePath() {
    if (const char* named = std::getenv("LENSBAY_SIM_STATE"); named != nullptr && *named != '\0')
        return named;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return "";
    const std::string folder = std::string(runtime) + "/lensbay";
    // A failure shows when the file is read or written, with its reason.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return folder + "/sim-board";
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
        out += kRegisterNames[r];
        out += ' ';
        out += HexDigit(*s.latched[r] >> 4);
        out += HexDigit(*s.latched[r]);
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
                if (name == kRegisterNames[r]) slot = kKeyCount + r;
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return BoardState{};  // a board just powered on
        return base::Fail("the simulated board's state '" + path +
                          "' cannot be read: " + Errno(errno));
    }
    std::string text;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    int err = errno;
    if (ok && !S_ISREG(st.st_mode)) {
        ok = false;
        err = EINVAL;
    }
    char buffer[kMaxStateBytes + 1];
    while (ok && text.size() <= kMaxStateBytes) {
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
    base::Result<BoardState> state = text.size() > kMaxStateBytes
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
    // Writers take turns through the lock, so one temporary name is enough; a
    // temporary file a killed writer left is truncated and reused by the next one.
    const std::string temp = path + ".new";
    const std::string text = FormatBoardState(state);
    auto fail = [&](const char* what, int err) {
        ::unlink(temp.c_str());
        return base::Fail("the simulated board's state '" + path + "' cannot be " + what + ": " +
                          Errno(err));
    };
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return base::Fail("the simulated board's state '" + path +
                          "' cannot be written: " + Errno(errno));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return fail("written", err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) return fail("written", errno);
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail("replaced", errno);
    return {};
}

}  // namespace sim
