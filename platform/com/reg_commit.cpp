// File locking and commit: every change of the file is a transaction under an exclusive flock on
// "<file>.lock" beside the file (symbolic links followed): re-read, apply, write a temporary file,
// fsync, rename into place.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/base/files.h"
#include "platform/com/reg_state.h"

namespace reg {
namespace {

std::string DirName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

LSTATUS MakeDirectories(const std::string& dir) {
    if (dir.empty() || dir == "." || dir == "/") return ERROR_SUCCESS;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return ERROR_SUCCESS;
        return Fail(ERROR_REGISTRY_IO_FAILED, dir + " is not a directory");
    }
    LSTATUS status = MakeDirectories(DirName(dir));
    if (status != ERROR_SUCCESS) return status;
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return FailErrno(errno, "cannot create the directory " + dir);
    return ERROR_SUCCESS;
}

// Writes `text` whole to a temporary file beside `path` (the resolved file) and renames it into
// place, keeping the file's mode and owner.
LSTATUS WriteFileAtomically(RegistryWriteHook hook, const std::string& path,
                            const std::string& text, struct stat* written, bool* statted) {
    base::AtomicWriteOptions options;
    options.new_file_mode = 0644;
    options.hook = hook;
    auto failed = [](const base::Error& e) {
        const int err = e.errno_value;
        LSTATUS status = (err == EACCES || err == EPERM || err == EROFS) ? ERROR_ACCESS_DENIED
                                                                         : ERROR_REGISTRY_IO_FAILED;
        return Fail(status, e.message);
    };
    base::Result<base::AtomicFile> file = base::AtomicFile::Create(path, options);
    if (!file) return failed(file.error());
    if (base::Result<> w = file->Write(text); !w) return failed(w.error());
    if (base::Result<> c = file->Commit(); !c) return failed(c.error());
    *statted = stat(path.c_str(), written) == 0;
    return ERROR_SUCCESS;
}

// The file's path for writing: links followed, and refused when it is not a regular file.
LSTATUS WritablePath(const std::string& path, std::string* resolved) {
    base::Result<std::string> r = base::ResolveSymlinks(path);
    if (!r) return FailErrno(r.error().errno_value, "cannot follow " + path);
    *resolved = std::move(r).value();
    struct stat st;
    if (stat(resolved->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return NotRegular(*resolved);
    return ERROR_SUCCESS;
}

}  // namespace

// Safe to remove while we hold the lock, since no other writer can be between its mkstemp and its
// rename.
void RemoveStaleTemporaries(const std::string& path) {
    std::string dir = DirName(path);
    std::string prefix = BaseName(path) + ".tmp.";
    DIR* d = opendir(dir.c_str());
    if (!d) return;  // only housekeeping: the write itself does not depend on it
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
            unlink((dir + "/" + e->d_name).c_str());
    }
    closedir(d);
}

LSTATUS LockRegistry(const std::string& path, std::string* target, int* fd) {
    LSTATUS status = WritablePath(path, target);
    if (status != ERROR_SUCCESS) return status;
    status = MakeDirectories(DirName(*target));
    if (status != ERROR_SUCCESS) return status;
    std::string lockPath = *target + ".lock";
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (lockFd < 0) return FailErrno(errno, "cannot open the lock file " + lockPath);
    while (flock(lockFd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int err = errno;
        close(lockFd);
        return FailErrno(err, "cannot lock " + lockPath);
    }
    *fd = lockFd;
    return ERROR_SUCCESS;
}

// Writes `tree` as the file at `path` (`target` once links are followed; the lock is held) and
// keeps it, with the text written, as what the file holds.
LSTATUS State::WriteTree(const std::string& path, const std::string& target, Key tree) {
    std::string text = WriteRegistryText(tree);
    struct stat st;
    bool statted = false;
    LSTATUS status = WriteFileAtomically(hook_, target, text, &st, &statted);
    if (status != ERROR_SUCCESS) return status;  // the file and what is kept of it are unchanged
    user_.Wrote(path, std::move(tree), std::move(text), statted ? &st : nullptr);
    return ERROR_SUCCESS;
}

// The one writer of the file: under the lock beside the resolved file (taken here, or already held
// by the open batch), re-reads it, lets `edit` change a copy of the tree and writes the copy when
// `edit` changed anything.
LSTATUS State::Commit(const std::string& path, const std::function<LSTATUS(Key&, bool*)>& edit) {
    std::string target;
    int lockFd = -1;
    if (batch_.lockFd >= 0) {
        target = batch_.target;
    } else {
        LSTATUS status = LockRegistry(path, &target, &lockFd);
        if (status != ERROR_SUCCESS) return status;
    }
    // Closing the descriptor releases the lock on every way out.
    struct LockGuard {
        int fd;
        ~LockGuard() {
            if (fd >= 0) close(fd);
        }
    } guard{lockFd};

    LSTATUS status = user_.Refresh(path, true, true);
    if (status != ERROR_SUCCESS) return status;
    // Whatever a killed writer left behind goes on every locked pass, written or not.
    RemoveStaleTemporaries(target);
    bool layered = false;
    status = UpdateLayered(&layered);
    if (status != ERROR_SUCCESS) return status;
    // Changed in place: the kept tree is given back unless the edit changed it.
    Key tree;
    status = user_.TakeWhole(&tree);
    if (status != ERROR_SUCCESS) return status;
    bool changed = false;
    writing_ = layered;
    status = edit(tree, &changed);
    writing_ = false;
    if (status != ERROR_SUCCESS || !changed) {
        // A failed edit changed nothing (it checks before it applies).
        user_.KeepWhole(std::move(tree));
        return status;
    }
    return WriteTree(path, target, std::move(tree));
}

}  // namespace reg
