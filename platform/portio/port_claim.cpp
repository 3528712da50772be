#include "platform/portio/port_claim.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/base/files.h"
#include "platform/base/shown.h"
#include "platform/portio/backend_registry.h"
#include "platform/portio/port_addresses.h"

namespace portio {

// Defined with the service (portio.cpp): closes its backend when no user is left.
namespace service_internal {
void CloseIfUnused();
}

namespace {

// A path in a message, as the port's messages quote it: in single quotes, escaped.
std::string Quoted(const std::string& path) { return "'" + base::EscapeText(path) + "'"; }

// The process's one claim and who holds it. Never destroyed: the service releases its backend at
// exit with the claim still held, so that nobody takes the port before the backend is done.
struct ProcessClaim {
    std::mutex mutex;
    pid_t owner = 0;  // the process the fields describe; a forked child starts with nothing
    bool held = false;
    int fd = -1;       // the lock file, or -1 for a port only this process can reach
    std::string port;  // as a refusal names it
    int users = 0;     // sessions and port users
    bool session = false;
    bool service = false;  // the service's backend stands on the claim
};

ProcessClaim& TheClaim() {
    static ProcessClaim* claim = new ProcessClaim;
    return *claim;
}

// A child made by fork() starts with nothing: the lock file's descriptor it inherited is closed at
// once, in the child's half of fork(), so that the lock (which belongs to the open file, shared by
// every copy of the descriptor) is the parent's alone and ends when the parent lets go, whatever
// the child does. A child that makes port cycles claims the port for itself.
void ForgetIfForked(ProcessClaim& c) {
    const pid_t self = ::getpid();
    if (c.owner == self) return;
    if (c.fd >= 0) ::close(c.fd);
    c.owner = self;
    c.held = false;
    c.fd = -1;
    c.port.clear();
    c.users = 0;
    c.session = false;
    c.service = false;
}

// Around fork(): the claim's fields are not changed by another thread meanwhile, and the child
// forgets the claim before it runs anything else.
void BeforeFork() { TheClaim().mutex.lock(); }
void AfterForkInParent() { TheClaim().mutex.unlock(); }
void AfterForkInChild() {
    ProcessClaim& c = TheClaim();
    ForgetIfForked(c);
    c.mutex.unlock();
}

// Installed once, before the first claim.
void WatchForks() {
    static const bool installed =
        ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild) == 0;
    (void)installed;
}

// The program's name as its process shows it: the last part of its first argument, read back
// from the kernel, since Wine writes the Windows program's path there (cscript.exe for
// C:\windows\system32\cscript.exe) after the C library took its short name from the original.
std::string ProgramName() {
    std::string name;
    if (const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC); fd >= 0) {
        char text[4096];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n > 0) {
            text[n] = '\0';
            name = text;
            const std::size_t cut = name.find_last_of("/\\");
            if (cut != std::string::npos) name.erase(0, cut + 1);
        }
    }
    if (name.empty()) name = program_invocation_short_name;
    if (name.size() > 100) name.resize(100);
    // One line in the lock file; whoever shows it escapes the rest.
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return name;
}

std::string Holder(pid_t pid) {
    return base::EscapeText(ProgramName()) + ", process " + std::to_string(pid);
}

// "lensbay, process 1234" from what the holder wrote into the lock file ("NAME PID"; the name
// may hold blanks), escaped as any name another program gave; "" when it names nobody.
std::string HolderOf(int fd) {
    char text[256];
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return "";
    std::string line(text, static_cast<std::size_t>(n));
    line.erase(std::min(line.find('\n'), line.size()));
    const std::size_t space = line.rfind(' ');
    if (space == std::string::npos || space == 0) return "";
    char* end = nullptr;
    const long pid = std::strtol(line.c_str() + space + 1, &end, 10);
    if (pid <= 0 || *end != '\0') return "";
    return base::EscapeText(line.substr(0, space)) + ", process " + std::to_string(pid);
}

// The process that holds a lock on the file (device and inode) as the kernel lists it, named
// from /proc ("flock, process 1234"); "" when none can be found. For a holder that wrote no name:
// a program that is not ours, or one of ours between taking the lock and naming itself.
std::string LockHolderFromKernel(dev_t dev, ino_t ino) {
    const base::Result<std::string> locks = base::ReadRegularFile("/proc/locks", 1 << 20);
    if (!locks) return "";
    std::size_t at = 0;
    while (at < locks->size()) {
        const std::size_t eol = std::min(locks->find('\n', at), locks->size());
        const std::string line = locks->substr(at, eol - at);
        at = eol + 1;
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"
        unsigned major_no = 0, minor_no = 0;
        unsigned long inode = 0;
        long pid = 0;
        char kind[16], mode[16], access[16];
        if (line.find(" -> ") != std::string::npos) continue;  // a waiter, not the holder
        if (std::sscanf(line.c_str(), "%*d: %15s %15s %15s %ld %x:%x:%lu", kind, mode, access, &pid,
                        &major_no, &minor_no, &inode) != 7)
            continue;
        if (inode != static_cast<unsigned long>(ino) || major_no != major(dev) ||
            minor_no != minor(dev) || pid <= 0)
            continue;
        std::string name;
        const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
        if (base::Result<std::string> text = base::ReadRegularFile(comm, 256); text) {
            name = *text;
            if (!name.empty() && name.back() == '\n') name.pop_back();
        }
        return (name.empty() ? std::string("a program") : base::EscapeText(name)) + ", process " +
               std::to_string(pid);
    }
    return "";
}

// The holder of the lock on `fd`, which this process was just refused: its own words, else the
// kernel's list. A holder of ours names itself right after it takes the lock (and empties the
// file only just before it lets go), so a file that names nobody is looked at again for a short
// while, taking the lock if it comes free meanwhile: never longer than kNamingWait.
constexpr auto kNamingWait = std::chrono::milliseconds(100);
struct Refused {
    bool taken = false;  // the lock came free and is now this process's
    std::string holder;
};
Refused NameTheHolder(int fd) {
    const auto until = std::chrono::steady_clock::now() + kNamingWait;
    for (;;) {
        if (std::string holder = HolderOf(fd); !holder.empty()) return {false, holder};
        if (std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return {true, ""};
    }
    struct stat st {};
    std::string holder;
    if (::fstat(fd, &st) == 0) holder = LockHolderFromKernel(st.st_dev, st.st_ino);
    // Let go of just now: the port is this process's after all.
    if (holder.empty() && ::flock(fd, LOCK_EX | LOCK_NB) == 0) return {true, ""};
    return {false, holder.empty() ? "another program" : holder};
}

// "root (uid 0)", or the number alone for a user the machine does not name.
std::string OwnerName(uid_t uid) {
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    const std::string id = "uid " + std::to_string(uid);
    if (::getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_name != nullptr)
        return base::EscapeText(found->pw_name) + " (" + id + ")";
    return id;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What a refusal over the lock file itself adds: whose file it is, whether anyone holds it, and
// the way out (a file planted in the shared folder stays until root removes it).
std::string FileAdvice(const std::string& path, const struct stat& st, bool machine_wide) {
    std::string out;
    if (st.st_uid == ::geteuid()) {
        out = "; the file is yours: remove it (rm -- " + Quoted(path) + ")";
    } else {
        out = "; the file is " + OwnerName(st.st_uid) + "'s";
        if (LockHolderFromKernel(st.st_dev, st.st_ino).empty()) out += ", and no program holds it";
        out += ": remove it as root (sudo rm -- " + Quoted(path) + ")";
    }
    out += machine_wide ? ", or choose another folder with LENSBAY_LOCK_DIR=FOLDER"
                        : ", or choose another board with LENSBAY_SIM_STATE=FILE";
    return out;
}

// Opens the lock file, making it when it is missing. Never follows a link, and takes only a
// regular file with no other name, so that a claim never writes into a file planted there.
base::Result<int> OpenLockFile(const std::string& port, const std::string& path) {
    const std::string file =
        "the port " + port + " cannot be claimed: its lock file " + Quoted(path);
    // The machine-wide locks of the physical ports (PortLockPath) may go to another folder.
    const bool machine_wide = path.rfind(PortLockFolder() + "/lensbay-port-", 0) == 0;
    const std::string way_out =
        machine_wide ? " (LENSBAY_LOCK_DIR=FOLDER chooses another folder)" : "";
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
    if (fd < 0 && errno == EACCES) {
        // Another user's lock file this user may only read still holds a lock. When there is none
        // yet, the folder is what refuses: that is said, not the missing file.
        fd = ::open(path.c_str(), O_RDONLY | kFlags);
        if (fd < 0 && errno == ENOENT) {
            return base::Fail(file + " cannot be created: " + std::strerror(EACCES) +
                              ": the folder " + Quoted(FolderOf(path)) + " cannot be written" +
                              way_out);
        }
        if (fd < 0) errno = EACCES;
    }
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        const bool there = ::lstat(path.c_str(), &st) == 0;
        if (err == ELOOP && there && S_ISLNK(st.st_mode))
            return base::Fail(file + " is a symbolic link; a lock file is never followed" +
                              FileAdvice(path, st, machine_wide));
        return base::Fail(file + " cannot be opened: " + std::strerror(err) +
                          (there ? FileAdvice(path, st, machine_wide) : way_out));
    }
    struct stat st {};
    std::string refusal;
    if (::fstat(fd, &st) != 0) {
        refusal = file + " cannot be examined: " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        refusal =
            file + " is " + base::NotRegularText(st.st_mode) + FileAdvice(path, st, machine_wide);
    } else if (st.st_nlink != 1) {
        refusal = file + " has other names (hard links); a lock file must be a file of its own" +
                  FileAdvice(path, st, machine_wide);
    }
    if (!refusal.empty()) {
        ::close(fd);
        return base::Fail(refusal);
    }
    // Readable and writable by every user, so that a root program and a user's program exclude
    // each other and each can name itself as the holder.
    if (st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0666 && ::fchmod(fd, 0666) != 0) {
        // Kept as made: the lock still works, only others may not name this holder.
    }
    return fd;
}

// Takes the claim of the port PORTIO names for this process, unless it holds it already.
base::Result<> Take(ProcessClaim& c) {
    if (c.held) return {};
    std::string argument;
    const BackendEntry* entry = FindBackend(ChosenBackend(), &argument);
    if (entry == nullptr) return {};  // opening the backend says what is wrong with the name
    base::Result<PortLock> lock = entry->lock(argument);
    if (!lock) return base::FailPortRefused(lock.message());
    if (lock->path.empty()) {
        c.held = true;
        c.port = lock->port;
        return {};
    }
    base::Result<int> fd = OpenLockFile(lock->port, lock->path);
    if (!fd) return base::FailPortRefused(fd.message());
    // Never waits: a port in use is said at once (naming its holder may take a moment).
    int locked;
    while ((locked = ::flock(*fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        const int err = errno;
        Refused refused;
        if (err == EWOULDBLOCK) refused = NameTheHolder(*fd);
        if (!refused.taken) {
            std::string message =
                err == EWOULDBLOCK
                    ? "the port " + lock->port + " is in use by " + refused.holder
                    : "the port " + lock->port + " cannot be claimed: its lock file " +
                          Quoted(lock->path) + " cannot be locked: " + std::strerror(err);
            ::close(*fd);
            return base::FailPortRefused(message);
        }
    }
    c.held = true;
    c.fd = *fd;
    c.port = lock->port;
    // Written whole over the old name, then cut to its length: the file never names nobody while
    // the lock is held.
    const std::string holder = ProgramName() + " " + std::to_string(::getpid()) + "\n";
    if (::pwrite(c.fd, holder.data(), holder.size(), 0) == static_cast<ssize_t>(holder.size()) &&
        ::ftruncate(c.fd, static_cast<off_t>(holder.size())) != 0) {
        // Not cut (a lock file this user may only read): the lock still holds.
    }
    return {};
}

// Gives the claim up once nobody in the process stands on it.
void DropIfUnused(ProcessClaim& c) {
    if (!c.held || c.users > 0 || c.service) return;
    if (c.fd >= 0) {
        // Emptied first, so that nobody later reads this process as the holder.
        if (::ftruncate(c.fd, 0) != 0) {
        }
        ::close(c.fd);
    }
    c.held = false;
    c.fd = -1;
    c.port.clear();
}

// A session or a port user ended: the last one closes the service, then the claim goes.
void EndOfUser() {
    ProcessClaim& c = TheClaim();
    bool last;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        last = c.owner == ::getpid() && c.users == 0;
    }
    if (!last) return;
    service_internal::CloseIfUnused();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.owner == ::getpid()) DropIfUnused(c);
}

}  // namespace

std::string PortLockPath() {
    std::string argument;
    const BackendEntry* entry = FindBackend(ChosenBackend(), &argument);
    if (entry == nullptr) return "";
    const base::Result<PortLock> lock = entry->lock(argument);
    return lock ? lock->path : "";
}

std::string PortLockFolder() {
    const char* dir = std::getenv("LENSBAY_LOCK_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/run/lock";
}

std::string PortLockPath(unsigned long base) {
    return PortLockFolder() + "/lensbay-port-" + PortName(base);
}

PortClaim::~PortClaim() {
    {
        ProcessClaim& c = TheClaim();
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.owner != ::getpid()) return;
        c.session = false;
        --c.users;
    }
    EndOfUser();
}

base::Result<std::unique_ptr<PortClaim>> ClaimPort() {
    WatchForks();
    ProcessClaim& c = TheClaim();
    std::lock_guard<std::mutex> lock(c.mutex);
    ForgetIfForked(c);
    if (c.session && c.held) {
        // The process holds the port already; a port no lock file keeps has no holder to read.
        const std::string holder =
            c.fd >= 0 ? Holder(::getpid()) : "this program, process " + std::to_string(::getpid());
        return base::FailPortRefused("the port " + c.port + " is in use by " + holder);
    }
    if (base::Result<> taken = Take(c); !taken) return taken.error();
    c.session = true;
    ++c.users;
    return std::unique_ptr<PortClaim>(new PortClaim);
}

PortUser::PortUser() {
    WatchForks();
    ProcessClaim& c = TheClaim();
    std::lock_guard<std::mutex> lock(c.mutex);
    ForgetIfForked(c);
    ++c.users;
}

PortUser::~PortUser() {
    {
        ProcessClaim& c = TheClaim();
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.owner != ::getpid()) return;
        --c.users;
    }
    EndOfUser();
}

base::Result<> claim_internal::HoldForService() {
    WatchForks();
    ProcessClaim& c = TheClaim();
    std::lock_guard<std::mutex> lock(c.mutex);
    ForgetIfForked(c);
    if (base::Result<> taken = Take(c); !taken) return taken;
    c.service = true;
    return {};
}

void claim_internal::ReleaseForService() {
    ProcessClaim& c = TheClaim();
    std::lock_guard<std::mutex> lock(c.mutex);
    ForgetIfForked(c);
    c.service = false;
    DropIfUnused(c);
}

int claim_internal::Users() {
    ProcessClaim& c = TheClaim();
    std::lock_guard<std::mutex> lock(c.mutex);
    ForgetIfForked(c);
    return c.users;
}

}  // namespace portio
