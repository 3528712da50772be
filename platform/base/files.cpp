#include "platform/base/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <utility>

namespace base {
namespace {

Error Errno(int err, const std::string& what) {
    return FailSystem(what + ": " + std::strerror(err), err);
}

std::string DirName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files in the making, for the termination handler to remove. A slot is claimed, then
// filled, then armed; the handler only reads armed slots.
struct TempSlot {
    std::atomic<bool> claimed{false};
    std::atomic<bool> armed{false};
    char path[PATH_MAX] = {};
};
constexpr int kSlots = 16;
TempSlot g_slots[kSlots];

void UnlinkArmedSlots() {
    const int saved = errno;
    for (TempSlot& slot : g_slots)
        if (slot.armed.load()) ::unlink(slot.path);
    errno = saved;
}

extern "C" void RemoveTemporariesAndDie(int sig) {
    UnlinkArmedSlots();
    // SA_RESETHAND has put the default action back: the signal ends the process on return.
    ::raise(sig);
}

// Takes over SIGTERM, SIGINT, SIGHUP and SIGPIPE where the program left them at their default
// (ending the process), so that their end removes temporary files first. A program that took them
// over itself calls RemoveTemporaryFiles before it ends.
void InstallTerminationCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
                (old.sa_flags & SA_SIGINFO))
                continue;
            struct sigaction act {};
            act.sa_handler = RemoveTemporariesAndDie;
            act.sa_flags = SA_RESETHAND;
            sigemptyset(&act.sa_mask);
            ::sigaction(sig, &act, nullptr);
        }
    });
}

int ClaimSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (g_slots[i].claimed.compare_exchange_strong(expected, true)) {
            std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
            g_slots[i].armed.store(true);
            return i;
        }
    }
    return -1;  // more replacements at once than slots: they go without the signal cleanup
}

void ReleaseSlot(int slot) {
    if (slot < 0) return;
    g_slots[slot].armed.store(false);
    g_slots[slot].claimed.store(false);
}

// The process's file-creation mask, read without changing it.
mode_t CurrentUmask() {
    std::FILE* f = std::fopen("/proc/self/status", "re");
    mode_t mask = 022;
    if (!f) return mask;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "Umask:", 6) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
            break;
        }
    }
    std::fclose(f);
    return mask;
}

// Removes "<name>.tmp.<pid>.XXXXXX" files whose process no longer exists.
void RemoveOrphans(const std::string& dir, const std::string& name) {
    const std::string prefix = name + ".tmp.";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;  // housekeeping only
    while (dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(e->d_name + prefix.size(), &end, 10);
        if (pid <= 0 || !end || *end != '.' || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlink((dir + "/" + e->d_name).c_str());
    }
    ::closedir(d);
}

std::atomic<int (*)(const char*)> g_testHook{nullptr};

// Six letters or digits, different for every call.
std::string RandomSuffix() {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> counter{0};
    unsigned char bytes[6];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        std::uint64_t n =
            counter.fetch_add(1) * 2654435761u ^ static_cast<std::uint64_t>(::time(nullptr));
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(n);
            n = n >> 8 | n << 56;
        }
    }
    std::string out;
    for (unsigned char b : bytes) out += kChars[b % (sizeof kChars - 1)];
    return out;
}

// The part of a temporary file's name taken from its target's: the whole name, or as much of its
// start as leaves room for ".tmp.PID.XXXXXX" in a name the folder accepts (cut before a UTF-8
// sequence, never inside one), so that any name the folder takes can be replaced.
std::string TempStem(const std::string& dir, const std::string& name) {
    long name_max = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    if (name_max <= 0) name_max = NAME_MAX;
    // ".tmp." + the largest process id + "." + six letters
    const std::size_t suffix = 5 + std::to_string(std::numeric_limits<pid_t>::max()).size() + 7;
    const std::size_t room = static_cast<std::size_t>(name_max) > suffix
                                 ? static_cast<std::size_t>(name_max) - suffix
                                 : 1;
    if (name.size() <= room) return name;
    std::size_t cut = room;
    while (cut > 1 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

int Hook(const AtomicWriteOptions& o, const char* step) {
    if (o.hook) return o.hook(step);
    auto* hook = g_testHook.load();
    return hook ? hook(step) : 0;
}

// Makes the renames made in a folder durable. The new files are in place whatever happens here,
// so a failure to flush the folder is not reported.
void FlushFolder(const std::string& folder, const AtomicWriteOptions& options) {
    if (Hook(options, "flush-folder") != 0) return;
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
}

}  // namespace

std::string NotRegularText(mode_t mode) {
    const char* kind = S_ISDIR(mode)                    ? "a directory"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISSOCK(mode)                 ? "a socket"
                                                        : "something else";
    return std::string(kind) + ", not a regular file";
}

std::string DescribeNotRegular(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return "not a regular file";
    return NotRegularText(st.st_mode);
}

Result<std::string> ResolveSymlinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT) return current;
            return Errno(errno, "cannot examine " + current);
        }
        if (!S_ISLNK(st.st_mode)) return current;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
        if (n < 0) return Errno(errno, "cannot read the link " + current);
        target[n] = '\0';
        if (target[0] == '/')
            current = target;
        else
            current = DirName(current) + "/" + target;
    }
    return Errno(ELOOP, "cannot follow " + path);
}

Result<std::string> ReadRegularFile(const std::string& path, std::size_t max) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Errno(errno, "cannot open " + path);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Errno(errno, "cannot examine " + path);
    if (!S_ISREG(st.st_mode)) return FailSystem(path + " is " + NotRegularText(st.st_mode), EINVAL);
    std::string text;
    char buf[65536];
    while (text.size() < max) {
        const std::size_t want = std::min(sizeof buf, max - text.size());
        const ssize_t n = ::read(fd, buf, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Errno(errno, "cannot read " + path);
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

void RemoveTemporaryFiles() { UnlinkArmedSlots(); }

void SetAtomicWriteHookForTesting(int (*hook)(const char* step)) { g_testHook.store(hook); }

Result<AtomicFile> AtomicFile::Create(const std::string& path, const AtomicWriteOptions& options) {
    if (path.empty()) return Errno(ENOENT, "cannot write a file without a name");
    AtomicFile file;
    file.options_ = options;
    if (options.follow_links) {
        Result<std::string> resolved = ResolveSymlinks(path);
        if (!resolved) return resolved.error();
        file.target_ = std::move(resolved).value();
    } else {
        file.target_ = path;
    }
    struct stat st {};
    const bool exists = ::lstat(file.target_.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return Errno(errno, "cannot examine " + file.target_);
    if (exists && S_ISLNK(st.st_mode))
        return FailSystem(file.target_ + " is a symbolic link, which is not followed", ELOOP);
    if (exists && !S_ISREG(st.st_mode))
        return FailSystem(file.target_ + " is " + NotRegularText(st.st_mode), EINVAL);
    // The rename would replace a file the user may not write (a read-only one, or another user's
    // in a shared folder): refused as an open for writing would be. The effective ids decide; a
    // file nobody may write stays read-only for root too, whose access check always passes.
    if (exists && (st.st_mode & 0222) == 0)
        return Errno(EACCES, "cannot write " + file.target_ + " (it is read-only)");
    if (exists && ::faccessat(AT_FDCWD, file.target_.c_str(), W_OK, AT_EACCESS) != 0)
        return Errno(errno, "cannot write " + file.target_);

    const std::string dir = DirName(file.target_);
    const std::string name = TempStem(dir, BaseName(file.target_));
    RemoveOrphans(dir, name);
    InstallTerminationCleanup();
    // The name is listed for the termination handler before the file exists, so that no moment
    // of a signal can leave it behind; removing a name not made yet is harmless.
    int err = Hook(options, "open-temp");
    for (int attempt = 0; err == 0; ++attempt) {
        file.temp_ = dir + "/" + name + ".tmp." + std::to_string(::getpid()) + "." + RandomSuffix();
        file.slot_ = ClaimSlot(file.temp_);
        file.fd_ = ::open(file.temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (file.fd_ >= 0) break;
        err = errno;
        ReleaseSlot(std::exchange(file.slot_, -1));
        if (err == EEXIST && attempt < 100) err = 0;
    }
    if (err != 0) return Errno(err, "cannot create a temporary file beside " + file.target_);
    const mode_t mode = exists ? (st.st_mode & 07777) : (options.new_file_mode & ~CurrentUmask());
    if (::fchmod(file.fd_, mode) != 0) {
        err = errno;
        file.Abandon();
        return Errno(err, "cannot set the mode of " + file.temp_);
    }
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        // Keeping the owner needs privilege; keeping the group may not. Neither is an error.
        if (::fchown(file.fd_, st.st_uid, st.st_gid) != 0) (void)::fchown(file.fd_, -1, st.st_gid);
        (void)::fchmod(file.fd_, mode);  // a change of owner clears set-id bits
    }
    return file;
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      fd_(std::exchange(other.fd_, -1)),
      slot_(std::exchange(other.slot_, -1)),
      options_(other.options_) {}

AtomicFile::~AtomicFile() { Abandon(); }

void AtomicFile::Abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(temp_.c_str());
    }
    ReleaseSlot(std::exchange(slot_, -1));
}

Result<> AtomicFile::Write(std::string_view bytes) {
    if (fd_ < 0) return FailSystem("the replacement of " + target_ + " is no longer open", EBADF);
    while (!bytes.empty()) {
        int err = Hook(options_, "write");
        if (err != 0) return Errno(err, "cannot write " + temp_);
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return Errno(errno, "cannot write " + temp_);
        }
        if (n == 0) return Errno(EIO, "cannot write " + temp_);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

Result<> AtomicFile::Commit() {
    if (fd_ < 0) return FailSystem("the replacement of " + target_ + " is no longer open", EBADF);
    int err = 0;
    if (options_.durable) {
        err = Hook(options_, "fsync");
        if (err == 0 && ::fsync(fd_) != 0) err = errno;
    }
    if (err != 0) {
        Abandon();
        return Errno(err, "cannot flush " + temp_);
    }
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) {
        err = errno;
        ::unlink(temp_.c_str());
        ReleaseSlot(std::exchange(slot_, -1));
        return Errno(err, "cannot close " + temp_);
    }
    err = Hook(options_, "rename");
    if (err == 0 && ::rename(temp_.c_str(), target_.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp_.c_str());
        ReleaseSlot(std::exchange(slot_, -1));
        return Errno(err, "cannot rename " + temp_ + " to " + target_);
    }
    ReleaseSlot(std::exchange(slot_, -1));
    if (!options_.durable) return {};
    if (FolderFlushGroup* group = FolderFlushGroup::Current()) {
        group->Add(DirName(target_));
    } else {
        FlushFolder(DirName(target_), options_);
    }
    return {};
}

namespace {
thread_local FolderFlushGroup* t_flushGroup = nullptr;
}  // namespace

FolderFlushGroup::FolderFlushGroup() : outer_(t_flushGroup) { t_flushGroup = this; }

FolderFlushGroup::~FolderFlushGroup() {
    t_flushGroup = outer_;
    for (const std::string& folder : folders_) FlushFolder(folder, {});
}

FolderFlushGroup* FolderFlushGroup::Current() { return t_flushGroup; }

void FolderFlushGroup::Add(const std::string& folder) {
    for (const std::string& known : folders_)
        if (known == folder) return;
    folders_.push_back(folder);
}

Result<> AtomicWriteFile(const std::string& path, std::string_view bytes,
                         const AtomicWriteOptions& options) {
    Result<AtomicFile> file = AtomicFile::Create(path, options);
    if (!file) return file.error();
    if (Result<> written = file->Write(bytes); !written) return written;
    return file->Commit();
}

}  // namespace base
