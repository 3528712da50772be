#include "platform/portio/port_claim.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/portio/backend_registry.h"
#include "platform/portio/port_addresses.h"

namespace portio {

// Defined with the service (portio.cpp): closes its backend when no user is left.
namespace service_internal {
void CloseIfUnused();
}

namespace {

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

// A child made by fork() inherits the parent's lock file descriptor, not its claim: the lock stays
// the parent's (the descriptor is only closed here), and the child claims for itself.
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
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return name;
}

std::string Holder(pid_t pid) { return ProgramName() + ", process " + std::to_string(pid); }

// "lensbay, process 1234" from what the holder wrote into the lock file ("NAME PID"; the name
// may hold blanks), as far as it can be told.
std::string HolderOf(int fd) {
    char text[256];
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return "another program";
    std::string line(text, static_cast<std::size_t>(n));
    line.erase(std::min(line.find('\n'), line.size()));
    const std::size_t space = line.rfind(' ');
    if (space == std::string::npos || space == 0) return "another program";
    char* end = nullptr;
    const long pid = std::strtol(line.c_str() + space + 1, &end, 10);
    if (pid <= 0 || *end != '\0') return "another program";
    std::string name = line.substr(0, space);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return name + ", process " + std::to_string(pid);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Opens the lock file, making it when it is missing. Never follows a link, and takes only a
// regular file with no other name, so that a claim never writes into a file planted there.
base::Result<int> OpenLockFile(const std::string& port, const std::string& path) {
    const std::string file =
        "the port " + port + " cannot be claimed: its lock file '" + path + "'";
    // The machine-wide locks of the physical ports (PortLockPath) may go to another folder.
    const std::string way_out = path.rfind(PortLockFolder() + "/lensbay-port-", 0) == 0
                                    ? " (LENSBAY_LOCK_DIR=FOLDER chooses another folder)"
                                    : "";
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
    if (fd < 0 && errno == EACCES) {
        // Another user's lock file this user may only read still holds a lock. When there is none
        // yet, the folder is what refuses: that is said, not the missing file.
        fd = ::open(path.c_str(), O_RDONLY | kFlags);
        if (fd < 0 && errno == ENOENT) {
            return base::Fail(file + " cannot be created: " + std::strerror(EACCES) +
                              ": the folder '" + FolderOf(path) + "' cannot be written" + way_out);
        }
    }
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (err == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return base::Fail(file + " is a symbolic link; a lock file is never followed" +
                              way_out);
        return base::Fail(file + " cannot be opened: " + std::strerror(err) + way_out);
    }
    struct stat st {};
    std::string refusal;
    if (::fstat(fd, &st) != 0) {
        refusal = file + " cannot be examined: " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        refusal = file + " is not a regular file" + way_out;
    } else if (st.st_nlink != 1) {
        refusal =
            file + " has other names (hard links); a lock file must be a file of its own" + way_out;
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
    // Never waits: a port in use is said at once.
    int locked;
    while ((locked = ::flock(*fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        const int err = errno;
        std::string message =
            err == EWOULDBLOCK ? "the port " + lock->port + " is in use by " + HolderOf(*fd)
                               : "the port " + lock->port + " cannot be claimed: its lock file '" +
                                     lock->path + "' cannot be locked: " + std::strerror(err);
        ::close(*fd);
        return base::FailPortRefused(message);
    }
    c.held = true;
    c.fd = *fd;
    c.port = lock->port;
    const std::string holder = ProgramName() + " " + std::to_string(::getpid()) + "\n";
    if (::ftruncate(c.fd, 0) == 0 &&
        ::pwrite(c.fd, holder.data(), holder.size(), 0) != static_cast<ssize_t>(holder.size())) {
        // Not written (a lock file this user may only read): the lock still holds.
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
