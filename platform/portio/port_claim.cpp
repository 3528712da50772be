#include "platform/portio/port_claim.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/portio/backend_registry.h"

namespace portio {

namespace {

// A port without a lock file (a fresh simulated board lives and dies with its program): only this
// process can be its second user.
std::atomic<bool> g_fresh_board_claimed{false};

struct Target {
    std::string port;       // as the refusal names it
    std::string lock_path;  // "" for a port only this process can reach
    bool known = true;
};

Target TargetOf(const std::string& choice) {
    std::string argument;
    const BackendEntry* entry = FindBackend(choice, &argument);
    if (entry == nullptr) return {"", "", false};
    PortLock lock = entry->lock(argument);
    return {std::move(lock.port), std::move(lock.path)};
}

// "lensbay, process 1234" from what the holder wrote into the lock file, as far as it can be told.
std::string HolderOf(int fd) {
    char text[256];
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return "another program";
    text[n] = '\0';
    char name[128];
    long pid = 0;
    if (std::sscanf(text, "%127s %ld", name, &pid) != 2 || pid <= 0) return "another program";
    return std::string(name) + ", process " + std::to_string(pid);
}

}  // namespace

std::string PortLockPath() { return TargetOf(ChosenBackend()).lock_path; }

std::string PortLockFolder() {
    const char* dir = std::getenv("LENSBAY_LOCK_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/run/lock";
}

PortClaim::~PortClaim() {
    if (fd_ >= 0) {
        // Emptied first, so that nobody later reads this process as the holder.
        if (::ftruncate(fd_, 0) != 0) {
        }
        ::close(fd_);
    }
    if (fresh_) g_fresh_board_claimed.store(false);
}

base::Result<std::unique_ptr<PortClaim>> ClaimPort() {
    const Target target = TargetOf(ChosenBackend());
    std::unique_ptr<PortClaim> claim(new PortClaim);
    if (!target.known) return claim;  // opening the backend says what is wrong with the name
    const std::string in_use = "the port " + target.port + " is in use by ";
    if (target.lock_path.empty()) {
        if (g_fresh_board_claimed.exchange(true))
            return base::Fail(in_use + "this program, process " + std::to_string(::getpid()));
        claim->fresh_ = true;
        return claim;
    }
    // Readable and writable by every user, so that a root program and a user's program exclude
    // each other and each can name itself as the holder.
    int fd = ::open(target.lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) != 0666 &&
            ::fchmod(fd, 0666) != 0) {
            // Kept as made: the lock still works, only others may not name this holder.
        }
    } else if (errno == EACCES) {
        fd = ::open(target.lock_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        return base::Fail("the port " + target.port + " cannot be claimed: its lock file '" +
                          target.lock_path + "' cannot be opened: " + std::strerror(errno) +
                          (target.lock_path.rfind(PortLockFolder(), 0) == 0
                               ? " (LENSBAY_LOCK_DIR=FOLDER chooses another folder)"
                               : ""));
    }
    // Never waits: a port in use is said at once.
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        const int err = errno;
        std::string message =
            err == EWOULDBLOCK ? in_use + HolderOf(fd)
                               : "the port " + target.port + " cannot be claimed: its lock file '" +
                                     target.lock_path + "' cannot be locked: " + std::strerror(err);
        ::close(fd);
        return base::Fail(message);
    }
    claim->fd_ = fd;
    const std::string holder =
        std::string(program_invocation_short_name) + " " + std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0 &&
        ::pwrite(fd, holder.data(), holder.size(), 0) != static_cast<ssize_t>(holder.size())) {
        // Not written (a lock file this user may only read): the lock still holds.
    }
    return claim;
}

}  // namespace portio
