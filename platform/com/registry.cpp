// The class registry over one REGEDIT4 file. Reads use a cached tree that is refreshed whenever
// the file's identity changes; every change is a transaction under an exclusive flock on
// "<file>.lock": re-read, apply, write a temporary file, fsync, rename into place.
#include "platform/com/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "platform/com/reg_cache.h"
#include "platform/com/reg_file.h"

struct HKEY__ {
    std::vector<std::string> names;  // path from HKEY_CLASSES_ROOT
};

namespace {

using Names = std::vector<std::string>;

thread_local std::string t_lastError;

struct State {
    std::mutex mu;
    std::set<HKEY__*> handles;
    // The cached view of the file: what it was made from, and the tree (or why the file did
    // not parse).
    reg::FileMemory file;
    bool bad = false;  // the file did not parse; badText says where
    std::string badText;
    reg::Key tree;
    RegistryWriteHook hook = nullptr;
};

State& S() {
    static State* state = new State;  // never destroyed: handles may be closed during exit
    return *state;
}

LSTATUS Fail(LSTATUS status, std::string text) {
    t_lastError = std::move(text);
    return status;
}

LSTATUS FailErrno(int err, const std::string& what) {
    LSTATUS status = (err == EACCES || err == EPERM || err == EROFS) ? ERROR_ACCESS_DENIED
                                                                     : ERROR_REGISTRY_IO_FAILED;
    return Fail(status, what + ": " + std::strerror(err));
}

std::string JoinNames(const Names& names) {
    std::string out;
    for (const auto& n : names) {
        if (!out.empty()) out.push_back('\\');
        out += n;
    }
    return out;
}

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

int Hook(State& s, const char* step) { return s.hook ? s.hook(step) : 0; }

// Reads the whole of an open file.
LSTATUS ReadAll(int fd, const std::string& path, std::string* text, off_t sizeHint = 0) {
    // Read straight into the string, sized for the whole file at once (it may still grow or
    // shrink while read).
    std::size_t used = 0;
    text->resize(sizeHint > 0 ? static_cast<std::size_t>(sizeHint) + 1 : 65536);
    while (true) {
        if (used == text->size()) text->resize(text->size() * 2);
        ssize_t n = read(fd, text->data() + used, text->size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            text->clear();
            return FailErrno(errno, "cannot read " + path);
        }
        if (n == 0) {
            text->resize(used);
            return ERROR_SUCCESS;
        }
        used += static_cast<std::size_t>(n);
    }
}

// Brings the cache up to date with the file at `path`. `force` reads the file even when it
// seems unchanged (transactions do, under the lock); a text the tree was made from is not
// parsed again.
LSTATUS Refresh(State& s, const std::string& path, bool force) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) return FailErrno(errno, "cannot open " + path);
        // No file yet: an empty registry.
        s.file.Forget();
        s.bad = false;
        s.tree = reg::Key{};
        return ERROR_SUCCESS;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        return FailErrno(err, "cannot examine " + path);
    }
    if (force || !s.file.Fresh(path, st)) {
        std::string text;
        LSTATUS status = ReadAll(fd, path, &text, st.st_size);
        if (status != ERROR_SUCCESS) {
            close(fd);
            s.file.Forget();
            return status;
        }
        if (!s.file.SameText(path, text)) {
            reg::Key tree;
            const base::Result<> parsed = reg::ParseRegistryText(text, &tree);
            s.bad = !parsed.ok();
            s.badText = s.bad ? path + ":" + parsed.message() : std::string();
            s.tree = s.bad ? reg::Key{} : std::move(tree);
        }
        s.file.Remember(path, st, std::move(text));
    }
    close(fd);
    if (s.bad) return Fail(ERROR_BADDB, s.badText);
    return ERROR_SUCCESS;
}

// Resolves a handle to the key path it names (the root for HKEY_CLASSES_ROOT).
LSTATUS HandleNames(State& s, HKEY key, Names* names) {
    if (key == HKEY_CLASSES_ROOT) {
        names->clear();
        return ERROR_SUCCESS;
    }
    if (!key || !s.handles.count(key))
        return Fail(ERROR_INVALID_HANDLE, "not an open registry key handle");
    *names = key->names;
    return ERROR_SUCCESS;
}

LSTATUS FullNames(State& s, HKEY key, const char* subKey, Names* names) {
    LSTATUS status = HandleNames(s, key, names);
    if (status != ERROR_SUCCESS) return status;
    Names sub;
    if (subKey && !reg::SplitKeyPath(subKey, &sub))
        return Fail(ERROR_INVALID_PARAMETER, std::string("bad key name \"") + subKey + "\"");
    names->insert(names->end(), sub.begin(), sub.end());
    return ERROR_SUCCESS;
}

reg::Key* Find(reg::Key& root, const Names& names) {
    reg::Key* key = &root;
    for (const auto& n : names) {
        auto it = key->subkeys.find(n);
        if (it == key->subkeys.end()) return nullptr;
        key = &it->second;
    }
    return key;
}

// The key at `names`, made with every missing key on the way (setting *changed when any was).
reg::Key* CreatePath(reg::Key& root, const Names& names, bool* changed) {
    reg::Key* key = &root;
    for (const auto& n : names) {
        auto it = key->subkeys.find(n);
        if (it == key->subkeys.end()) {
            it = key->subkeys.emplace(n, reg::Key{}).first;
            *changed = true;
        }
        key = &it->second;
    }
    return key;
}

LSTATUS KeyDeleted(const Names& names) {
    return Fail(ERROR_KEY_DELETED, "the key " + JoinNames(names) + " has been deleted");
}

// The key an open handle names, in the tree as it is now (ERROR_KEY_DELETED when another
// writer removed it meanwhile).
LSTATUS OpenedKey(State& s, reg::Key& root, HKEY key, Names* names, reg::Key** out) {
    LSTATUS status = HandleNames(s, key, names);
    if (status != ERROR_SUCCESS) return status;
    *out = Find(root, *names);
    return *out ? ERROR_SUCCESS : KeyDeleted(*names);
}

LSTATUS NotFound(const Names& names) {
    return Fail(ERROR_FILE_NOT_FOUND, "no key " + JoinNames(names));
}

// A read: runs `fn` on the current tree with the state locked.
LSTATUS ReadOp(const std::function<LSTATUS(State&, reg::Key&)>& fn) {
    State& s = S();
    std::lock_guard lock(s.mu);
    LSTATUS status = Refresh(s, RegistryFilePath(), false);
    if (status != ERROR_SUCCESS) return status;
    return fn(s, s.tree);
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

// Temporary files left by a writer that died before its rename; safe to remove while we hold
// the lock, since no other writer can be between its mkstemp and its rename.
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

// Writes `text` whole to a temporary file beside `path` and renames it into place.
LSTATUS WriteFileAtomically(State& s, const std::string& path, const std::string& text,
                            struct stat* written) {
    std::string temp = path + ".tmp.XXXXXX";
    int err = Hook(s, "open-temp");
    int fd = err ? -1 : mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return FailErrno(err ? err : errno, "cannot create a temporary file beside " + path);
    auto abandon = [&](int e, const std::string& what) {
        close(fd);
        unlink(temp.c_str());
        return FailErrno(e, what);
    };
    if (fchmod(fd, 0644) != 0) return abandon(errno, "cannot set the mode of " + temp);
    std::size_t done = 0;
    while (done < text.size()) {
        if ((err = Hook(s, "write")) != 0) return abandon(err, "cannot write " + temp);
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return abandon(errno, "cannot write " + temp);
        }
        done += static_cast<std::size_t>(n);
    }
    if ((err = Hook(s, "fsync")) != 0 || fsync(fd) != 0)
        return abandon(err ? err : errno, "cannot flush " + temp);
    struct stat st;
    if (fstat(fd, &st) != 0) return abandon(errno, "cannot examine " + temp);
    if (close(fd) != 0) {
        err = errno;
        unlink(temp.c_str());
        return FailErrno(err, "cannot close " + temp);
    }
    if ((err = Hook(s, "rename")) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        err = err ? err : errno;
        unlink(temp.c_str());
        return FailErrno(err, "cannot rename " + temp + " to " + path);
    }
    // Make the rename itself durable. The new file is in place whatever happens here, so a
    // failure to flush the directory is not reported as a failed change.
    int dfd = open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)fsync(dfd);
        close(dfd);
    }
    *written = st;
    return ERROR_SUCCESS;
}

// A change: `fn` edits a copy of the freshly read tree and says whether it changed anything.
LSTATUS Transaction(const std::function<LSTATUS(State&, reg::Key&, bool*)>& fn) {
    State& s = S();
    std::lock_guard lock(s.mu);
    std::string path = RegistryFilePath();
    LSTATUS status = MakeDirectories(DirName(path));
    if (status != ERROR_SUCCESS) return status;
    std::string lockPath = path + ".lock";
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) return FailErrno(errno, "cannot open the lock file " + lockPath);
    while (flock(lockFd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int err = errno;
        close(lockFd);
        return FailErrno(err, "cannot lock " + lockPath);
    }
    // Closing the descriptor releases the lock on every way out.
    struct LockGuard {
        int fd;
        ~LockGuard() { close(fd); }
    } guard{lockFd};

    status = Refresh(s, path, true);
    if (status != ERROR_SUCCESS) return status;
    reg::Key tree = s.tree;
    bool changed = false;
    status = fn(s, tree, &changed);
    if (status != ERROR_SUCCESS || !changed) return status;
    RemoveStaleTemporaries(path);
    struct stat written;
    std::string text = reg::WriteRegistryText(tree);
    status = WriteFileAtomically(s, path, text, &written);
    if (status != ERROR_SUCCESS) return status;
    s.tree = std::move(tree);
    s.file.Remember(path, written, std::move(text));
    return ERROR_SUCCESS;
}

HKEY NewHandle(State& s, Names names) {
    HKEY h = new HKEY__{std::move(names)};
    s.handles.insert(h);
    return h;
}

// Copies `data` out with the platform's size protocol.
LSTATUS CopyOut(const std::string& data, BYTE* out, DWORD* size) {
    if (out && !size) return Fail(ERROR_INVALID_PARAMETER, "a data buffer without its size");
    if (!size) return ERROR_SUCCESS;
    DWORD needed = static_cast<DWORD>(data.size());
    if (out && *size < needed) {
        *size = needed;
        return Fail(ERROR_MORE_DATA, "the buffer is too small");
    }
    if (out) std::memcpy(out, data.data(), data.size());
    *size = needed;
    return ERROR_SUCCESS;
}

// Copies a name out as RegEnumKeyEx does: *size in chars, NUL included on the way in.
LSTATUS CopyName(const std::string& name, char* out, DWORD* size) {
    if (!out || !size) return Fail(ERROR_INVALID_PARAMETER, "no buffer for the name");
    if (*size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        return Fail(ERROR_MORE_DATA, "the name buffer is too small");
    }
    std::memcpy(out, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

std::string RegistryFilePath() {
    const char* env = std::getenv("OLE_REGISTRY");
    if (env && *env) return env;
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir = home && *home ? home : "";
        if (homeDir.empty()) {
            struct passwd pw;
            struct passwd* found = nullptr;
            char buf[4096];
            if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found)
                homeDir = found->pw_dir;
        }
        base = (homeDir.empty() ? std::string(".") : homeDir) + "/.local/share";
    }
    return base + "/lensbay/registry.reg";
}

std::string RegistryLastError() { return t_lastError; }

void SetRegistryWriteHookForTesting(RegistryWriteHook hook) {
    State& s = S();
    std::lock_guard lock(s.mu);
    s.hook = hook;
}

LSTATUS RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM, void*,
                        PHKEY result, DWORD* disposition) {
    if (!result) return Fail(ERROR_INVALID_PARAMETER, "no place for the key handle");
    *result = nullptr;
    Names names;
    // Opening an existing key writes nothing, so it works on a read-only registry too.
    LSTATUS status = ReadOp([&](State& s, reg::Key& root) {
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        Names base;
        HandleNames(s, key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        if (!Find(root, names)) return ERROR_FILE_NOT_FOUND;
        *result = NewHandle(s, names);
        if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_FILE_NOT_FOUND) return status;
    return Transaction([&](State& s, reg::Key& root, bool* changed) {
        Names base;
        LSTATUS st = HandleNames(s, key, &base);
        if (st != ERROR_SUCCESS) return st;
        if (!Find(root, base)) return KeyDeleted(base);
        CreatePath(root, names, changed);
        *result = NewHandle(s, names);
        if (disposition) *disposition = *changed ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return Fail(ERROR_INVALID_PARAMETER, "no place for the key handle");
    *result = nullptr;
    return ReadOp([&](State& s, reg::Key& root) {
        Names base, names;
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        HandleNames(s, key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        if (!Find(root, names)) return NotFound(names);
        *result = NewHandle(s, names);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    State& s = S();
    std::lock_guard lock(s.mu);
    if (!key || !s.handles.erase(key))
        return Fail(ERROR_INVALID_HANDLE, "not an open registry key handle");
    delete key;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD size) {
    std::string name = valueName ? valueName : "";
    if (!reg::IsStorableValueName(name))
        return Fail(ERROR_INVALID_PARAMETER, "a value name with a control character");
    if (!data && size) return Fail(ERROR_INVALID_PARAMETER, "no data for a non-empty value");
    reg::Value value{type, std::string(reinterpret_cast<const char*>(data), data ? size : 0)};
    return Transaction([&](State& s, reg::Key& root, bool* changed) {
        Names names;
        reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        auto it = k->values.find(name);
        if (it == k->values.end()) {
            k->values.emplace(name, value);
            *changed = true;
        } else if (!(it->second == value)) {
            it->second = value;
            *changed = true;
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size) {
    if (reserved) return Fail(ERROR_INVALID_PARAMETER, "reserved must be null");
    if (data && !size) return Fail(ERROR_INVALID_PARAMETER, "a data buffer without its size");
    return ReadOp([&](State& s, reg::Key& root) {
        Names names;
        reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        auto it = k->values.find(valueName ? valueName : "");
        if (it == k->values.end())
            return Fail(ERROR_FILE_NOT_FOUND, "no value \"" +
                                                  std::string(valueName ? valueName : "") +
                                                  "\" in " + JoinNames(names));
        if (type) *type = it->second.type;
        return CopyOut(it->second.data, data, size);
    });
}

LSTATUS RegDeleteValueA(HKEY key, const char* valueName) {
    std::string name = valueName ? valueName : "";
    return Transaction([&](State& s, reg::Key& root, bool* changed) {
        Names names;
        reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        if (!k->values.erase(name))
            return Fail(ERROR_FILE_NOT_FOUND, "no value \"" + name + "\" in " + JoinNames(names));
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteKeyA(HKEY key, const char* subKey) {
    if (!subKey) return Fail(ERROR_INVALID_PARAMETER, "no key name");
    return Transaction([&](State& s, reg::Key& root, bool* changed) {
        Names base, names;
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        HandleNames(s, key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        if (names.empty()) return Fail(ERROR_ACCESS_DENIED, "the root cannot be deleted");
        Names parentNames(names.begin(), names.end() - 1);
        reg::Key* parent = Find(root, parentNames);
        if (!parent) return NotFound(names);
        auto it = parent->subkeys.find(names.back());
        if (it == parent->subkeys.end()) return NotFound(names);
        if (!it->second.subkeys.empty())
            return Fail(ERROR_ACCESS_DENIED, "the key " + JoinNames(names) + " has subkeys");
        parent->subkeys.erase(it);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteTreeA(HKEY key, const char* subKey) {
    return Transaction([&](State& s, reg::Key& root, bool* changed) {
        Names base, names;
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        HandleNames(s, key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        if (names.size() == base.size()) {
            // No subkey named: the key stays, its values and subkeys go.
            reg::Key* k = Find(root, names);
            *changed = !k->values.empty() || !k->subkeys.empty();
            *k = reg::Key{};
            return ERROR_SUCCESS;
        }
        Names parentNames(names.begin(), names.end() - 1);
        reg::Key* parent = Find(root, parentNames);
        if (!parent || !parent->subkeys.erase(names.back())) return NotFound(names);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                      char* klass, DWORD* klassSize, void*) {
    if (reserved) return Fail(ERROR_INVALID_PARAMETER, "reserved must be null");
    return ReadOp([&](State& s, reg::Key& root) {
        Names names;
        reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
        auto it = std::next(k->subkeys.begin(), index);
        st = CopyName(it->first, name, nameSize);
        if (st != ERROR_SUCCESS) return st;
        if (klass && klassSize && *klassSize > 0) klass[0] = '\0';
        if (klassSize) *klassSize = 0;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, char* valueName, DWORD* valueNameSize, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataSize) {
    if (reserved) return Fail(ERROR_INVALID_PARAMETER, "reserved must be null");
    if (data && !dataSize) return Fail(ERROR_INVALID_PARAMETER, "a data buffer without its size");
    return ReadOp([&](State& s, reg::Key& root) {
        Names names;
        reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
        auto it = std::next(k->values.begin(), index);
        st = CopyName(it->first, valueName, valueNameSize);
        if (st != ERROR_SUCCESS) return st;
        if (type) *type = it->second.type;
        return CopyOut(it->second.data, data, dataSize);
    });
}

LSTATUS RegSetValueA(HKEY key, const char* subKey, DWORD type, const char* data, DWORD) {
    if (type != REG_SZ) return Fail(ERROR_INVALID_PARAMETER, "only REG_SZ can be set this way");
    if (!data) return Fail(ERROR_INVALID_PARAMETER, "no data");
    reg::Value value{REG_SZ, std::string(data, std::strlen(data) + 1)};
    return Transaction([&](State& s, reg::Key& root, bool* changed) {
        Names base, names;
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        HandleNames(s, key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        reg::Key* k = CreatePath(root, names, changed);
        auto it = k->values.find("");
        if (it == k->values.end() || !(it->second == value)) {
            k->values[""] = value;
            *changed = true;
        }
        return ERROR_SUCCESS;
    });
}
