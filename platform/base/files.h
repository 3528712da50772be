// Safe file handling shared by every layer: whole-file replacement that never leaves a partial
// file behind, and reads that refuse anything that is not a regular file (a FIFO or a device
// never blocks the caller).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"

// The base library is one shared library (one list of temporary files per process).
#define BASE_FILES_EXPORT __attribute__((visibility("default")))

namespace base {

// Follows symbolic links (relative ones against their own directory) to the file a write must
// replace. The last link's target need not exist; a loop of links fails with ELOOP.
BASE_FILES_EXPORT Result<std::string> ResolveSymlinks(const std::string& path);

// What a file of this type is, for a refusal: "a FIFO, not a regular file" (or "a directory",
// "a device", "a socket", "something else").
BASE_FILES_EXPORT std::string NotRegularText(mode_t mode);
// The same for the file at `path` as it is now (links followed); "not a regular file" when it
// cannot be examined or has become one.
BASE_FILES_EXPORT std::string DescribeNotRegular(const std::string& path);

// Reads a whole regular file, at most `max` bytes from its start. Refuses without blocking
// anything that is not a regular file (errno_value EINVAL, "PATH is a FIFO, not a regular file");
// a missing file fails with errno_value ENOENT. Every failure is of the kind ErrorKind::kSystem
// with its errno.
BASE_FILES_EXPORT Result<std::string> ReadRegularFile(const std::string& path,
                                                      std::size_t max = ~std::size_t{0});

struct AtomicWriteOptions {
    // The mode of a file that does not exist yet, before the umask. An existing file keeps its
    // mode and, where the writer may keep it, its owner and group.
    mode_t new_file_mode = 0666;
    // False: a symbolic link in the target's place is refused (errno_value ELOOP) instead of
    // followed to the file it names, for files that another user could otherwise redirect.
    bool follow_links = true;
    // False: the content and the rename are not flushed to the disk (a file that is meant to last
    // no longer than the machine's power, such as one in a RAM folder); a crash or a signal still
    // leaves the old file or the new one, never a part of one.
    bool durable = true;
    // For tests: called before each step ("open-temp", "write", "fsync", "rename", and
    // "flush-folder" after the rename); a non-zero answer makes that step fail with that errno
    // value (a folder's flush is then skipped, as its failure is not reported).
    int (*hook)(const char* step) = nullptr;
};

// A replacement of one file in the making: a temporary file beside the final target (links
// followed) that takes the new content and is renamed over the old file only by Commit().
// Until then the old file is untouched; a replacement dropped uncommitted removes its temporary
// file, and so does a SIGTERM, SIGINT, SIGHUP or SIGPIPE that ends the process meanwhile (when the
// program has not taken those signals over). A temporary file left by a process that died anyway
// (SIGKILL, power loss) is removed by the next replacement of the same name.
class BASE_FILES_EXPORT AtomicFile {
public:
    // Fails when the target exists and is not a regular file (errno_value EINVAL, "PATH is a FIFO,
    // not a regular file"), when it exists and the process may not write it (EACCES or EROFS: its
    // mode, owner and links decide, not the folder's; a file with no write permission bit at all
    // is read-only for root as well), or when the temporary file cannot be made (its errno). A
    // target with several hard links is replaced under the one name; its other names keep the old
    // content. The temporary file's name is the target's with ".tmp.PID.XXXXXX" added, the
    // target's part cut short where the whole would be too long a name for the folder.
    static Result<AtomicFile> Create(const std::string& path,
                                     const AtomicWriteOptions& options = {});
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;
    AtomicFile(const AtomicFile&) = delete;
    ~AtomicFile();

    Result<> Write(std::string_view bytes);
    // Flushes the content to the disk, then renames the temporary file over the target.
    Result<> Commit();

    const std::string& target() const { return target_; }
    const std::string& temp_path() const { return temp_; }

private:
    AtomicFile() = default;
    void Abandon();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    int slot_ = -1;
    AtomicWriteOptions options_;
};

// While one is alive, the replacements this thread commits leave the flush of their folder (which
// makes a rename durable) to it, and it flushes each such folder once when it ends: for files
// written together, such as a capture's pictures and its record. A folder's flush covers every
// rename made in it before the flush.
class BASE_FILES_EXPORT FolderFlushGroup {
public:
    FolderFlushGroup();
    ~FolderFlushGroup();
    FolderFlushGroup(const FolderFlushGroup&) = delete;
    FolderFlushGroup& operator=(const FolderFlushGroup&) = delete;

    // The group alive on this thread, or null.
    static FolderFlushGroup* Current();
    void Add(const std::string& folder);

private:
    FolderFlushGroup* outer_;
    std::vector<std::string> folders_;
};

// Removes the temporary files of the replacements in the making. Safe in a signal handler; for a
// program that takes SIGTERM, SIGINT, SIGHUP and SIGPIPE over itself and ends the process without
// unwinding (the takeover above is then left out).
BASE_FILES_EXPORT void RemoveTemporaryFiles();

// For tests: a hook every replacement without one of its own calls, as AtomicWriteOptions::hook
// (so that a full disk can be played without one). Null removes it.
BASE_FILES_EXPORT void SetAtomicWriteHookForTesting(int (*hook)(const char* step));

// Create, Write and Commit in one. The error message names the file and the reason.
BASE_FILES_EXPORT Result<> AtomicWriteFile(const std::string& path, std::string_view bytes,
                                           const AtomicWriteOptions& options = {});

}  // namespace base
