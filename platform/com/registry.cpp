// The class registry over one REGEDIT4 file. Reads use the file's text kept in memory, read again
// whenever the file's identity changes; every change is a transaction under an exclusive flock
// on "<file>.lock" beside the file (symbolic links followed): re-read, apply, write a temporary
// file, fsync, rename into place.
//
// A read does not need the whole tree: the text is checked once (the same faults as a full
// parse) while its sections are listed, and a file in the order this code writes answers a
// lookup by binary search over them, parsing only the sections under the key asked for. The
// whole tree is parsed when a change, a batch, the machine-wide layering or a file in another
// order needs it, and is kept until the text changes.
//
// The transaction seam. A mutating call never edits the tree directly: it checks its arguments
// against a tree and answers a list of Changes, which ApplyChange replays onto any tree. Without
// a batch, the list is replayed at once onto the freshly read file under the lock (Commit). In a
// batch (RegistryBeginBatch), the changes go onto the batch's own copy of the tree, which the
// batch's reads see, and are kept in order; the batch holds the file's lock from its first use,
// and RegistryCommitBatch re-reads the file, replays them all and writes the file once. Whoever
// reads or writes the file goes through Refresh (reads, cached by file identity) and Commit
// (writes); a faster read path belongs there.
#include "platform/com/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/base/files.h"
#include "platform/com/reg_cache.h"
#include "platform/com/reg_file.h"

struct HKEY__ {
    std::vector<std::string> names;  // path from HKEY_CLASSES_ROOT
};

namespace {

using Names = std::vector<std::string>;

thread_local std::string t_lastError;

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    // The status-change time too: a writer cannot set it, so a change that puts the
    // modification time back is still seen.
    timespec ctime{};
    bool operator==(const FileId& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

FileId IdOf(const struct stat& st) {
    return FileId{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// A file modified within this many seconds of being read may change again without its identity
// changing (coarse file-system clocks, inode numbers reused by the next rename), so it is read
// again next time rather than trusted.
constexpr time_t kRacySeconds = 2;

// One change of the tree, replayable onto a tree that others changed meanwhile: each kind says
// what must hold afterwards rather than what the tree looked like before.
struct Change {
    enum Kind {
        kCreateKey,    // the key exists (with every key on its way)
        kSetValue,     // the key exists and holds `value` under `valueName`
        kDeleteValue,  // the key, if present, holds no value `valueName`
        kDeleteKey,    // the key is gone, unless another writer gave it subkeys meanwhile
        kDeleteTree,   // the key and everything under it are gone
        kClearKey,     // the key, if present, has no values and no subkeys
    } kind;
    Names names;
    std::string valueName;
    reg::Value value;
};
using Changes = std::vector<Change>;

// The process's open batch: every change made while it is open lands in one rewrite of the file.
struct Batch {
    int depth = 0;         // RegistryBeginBatch calls not yet matched
    bool doomed = false;   // an inner level was abandoned: the outer commit fails
    bool loaded = false;   // `tree` holds the file as read at the first use plus `log`
    bool changed = false;  // `log` changed `tree`
    FileId id;             // the file as read at the first use
    std::string path;      // the registry file when the batch opened
    std::string target;    // the file itself (links followed), while the lock is held
    int lockFd = -1;       // the file's lock, held from the first use to the end
    reg::Key tree;
    Changes log;
};

struct State {
    std::mutex mu;
    std::set<HKEY__*> handles;
    // The text the cached tree was made from: a file read again with the same bytes is not
    // parsed again.
    reg::FileMemory file;
    // What a file read again is read into: kept while the file is one read on every call (just
    // changed), so that those reads neither allocate nor fault in fresh pages.
    std::string readBuffer;
    // The cached view of the file at `path`.
    bool cached = false;
    bool racy = false;
    std::string path;
    FileId id;
    bool bad = false;  // the file did not parse; badText says where
    std::string badText;
    reg::Key tree;                 // the whole tree, when `whole`
    std::uint64_t generation = 0;  // counts the trees the cache has held
    RegistryWriteHook hook = nullptr;
    Batch batch;
    // The kept text's sections (when `indexed`), the whole tree made from it (when `whole`), and
    // the trees parsed from runs of its sections, by run.
    reg::SectionIndex index;
    bool indexed = false;
    bool whole = false;
    std::map<std::pair<std::size_t, std::size_t>, std::unique_ptr<reg::Key>> pieces;
    std::size_t piecesBytes = 0;  // the text the pieces were parsed from, overlaps counted twice
    // The view of the user's tree over the machine-wide one, for the generations it was made of.
    reg::Key layered;
    std::uint64_t layeredUser = 0, layeredMachine = 0;
    bool layeredValid = false;
    bool writing = false;  // inside a change of the user's tree
};

State& S() {
    static State* state = new State;  // never destroyed: handles may be closed during exit
    return *state;
}

// The cache of the machine-wide file (only its cache fields are used; S().mu guards it).
State& Machine() {
    static State* state = new State;
    return *state;
}

// The machine-wide file when it lies beneath the user's, else "".
std::string LayeredMachinePath() {
    const char* env = std::getenv("OLE_REGISTRY");
    if (env && *env) return "";
    return MachineRegistryFilePath();
}

// Lays `above` over `below`: values of the same name and keys of the same name merge, the
// upper's value winning.
void Overlay(reg::Key& below, const reg::Key& above) {
    for (const auto& [name, value] : above.values) below.values[name] = value;
    for (const auto& [name, key] : above.subkeys) Overlay(below.subkeys[name], key);
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

LSTATUS NotRegular(const std::string& path) {
    return Fail(ERROR_ACCESS_DENIED,
                path + " is not a regular file; the class registry must be one (nothing written)");
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

// Reads the whole of an open file, straight into one string sized from its length (it may
// still grow or shrink while read).
LSTATUS ReadAll(int fd, const std::string& path, std::string* text, off_t sizeHint = 0) {
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

void ClearPieces(State& s) {
    s.pieces.clear();
    s.piecesBytes = 0;
}

// Brings the cache up to date with the file at `path`. `force` reads the file even when its
// identity is unchanged (transactions do, under the lock). `whole`: the caller needs the whole
// tree, so a new text is parsed whole at once rather than checked and indexed first.
LSTATUS Refresh(State& s, const std::string& path, bool force, bool whole = false) {
    // Non-blocking, so that a FIFO in the file's place cannot hang the caller; refused below.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) return FailErrno(errno, "cannot open " + path);
        // No file yet: an empty registry (a new tree only when there was one before).
        if (!s.cached || s.path != path || !(s.id == FileId{}) || s.bad ||
            !s.tree.subkeys.empty() || !s.tree.values.empty()) {
            ++s.generation;
        }
        s.cached = true;
        s.racy = true;
        s.path = path;
        s.id = FileId{};
        s.bad = false;
        s.tree = reg::Key{};
        s.whole = true;
        s.index = reg::SectionIndex{};
        s.indexed = true;
        ClearPieces(s);
        s.file.Forget();
        return ERROR_SUCCESS;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        return FailErrno(err, "cannot examine " + path);
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        s.cached = false;
        return NotRegular(path);
    }
    FileId id = IdOf(st);
    if (force || !s.cached || s.racy || s.path != path || !(s.id == id)) {
        std::string& text = s.readBuffer;
        LSTATUS status = ReadAll(fd, path, &text, st.st_size);
        if (status != ERROR_SUCCESS) {
            close(fd);
            // Nothing kept stands for the file any more: the next read reads it again.
            s.file.Forget();
            s.cached = false;
            s.whole = s.indexed = false;
            s.tree = reg::Key{};
            ClearPieces(s);
            return status;
        }
        if (!s.file.SameText(path, text)) {
            // Checked and listed now; parsed key by key as reads ask (or whole, when needed).
            reg::SectionIndex index;
            reg::Key tree;
            const base::Result<> checked =
                whole ? reg::ParseRegistryText(text, &tree) : reg::IndexRegistryText(text, &index);
            s.bad = !checked.ok();
            s.badText = s.bad ? path + ":" + checked.message() : std::string();
            s.index = s.bad ? reg::SectionIndex{} : std::move(index);
            s.indexed = !s.bad && !whole;
            s.tree = s.bad ? reg::Key{} : std::move(tree);
            s.whole = !s.bad && whole;
            ClearPieces(s);
            ++s.generation;
        }
        s.file.Remember(path, st, &text);
        s.cached = true;
        s.path = path;
        s.id = id;
        const time_t changed = std::max(st.st_mtim.tv_sec, st.st_ctim.tv_sec);
        s.racy = std::time(nullptr) - changed < kRacySeconds;
        if (!s.racy) std::string().swap(text);
    }
    close(fd);
    if (s.bad) return Fail(ERROR_BADDB, s.badText);
    return ERROR_SUCCESS;
}

// Makes s.tree the whole tree of the kept text, parsing it if not yet.
LSTATUS WholeTree(State& s) {
    if (s.whole) return ERROR_SUCCESS;
    reg::Key tree;
    if (const base::Result<> parsed = reg::ParseRegistryText(s.file.text(), &tree); !parsed) {
        s.bad = true;
        s.badText = s.path + ":" + parsed.message();
        return Fail(ERROR_BADDB, s.badText);
    }
    s.tree = std::move(tree);
    s.whole = true;
    return ERROR_SUCCESS;
}

// Hands the whole tree over to a caller that changes it (s keeps the text, not the tree).
LSTATUS TakeWholeTree(State& s, reg::Key* tree) {
    LSTATUS status = WholeTree(s);
    if (status != ERROR_SUCCESS) return status;
    *tree = std::move(s.tree);
    s.tree = reg::Key{};
    s.whole = false;
    return ERROR_SUCCESS;
}

// Gives the cache back a tree that still says what the kept text says.
void KeepWholeTree(State& s, reg::Key tree) {
    s.tree = std::move(tree);
    s.whole = true;
}

const reg::Key* Find(const reg::Key& root, const std::vector<std::string>& names);

// What a read sees, key by key: a whole tree (the batch's, or the user's over the machine-wide
// one), or the file's own, parsed only under the keys asked for when its sections allow.
class ReadView {
public:
    ReadView(State& s, const reg::Key* whole) : s_(s), whole_(whole) {}

    bool Has(const Names& names) {
        if (names.empty()) return true;
        if (whole_ || !Lazy()) return Get(names) != nullptr;
        const auto [first, last] = s_.index.Under(s_.file.text(), names);
        return first < last;
    }

    // The key with everything under it, or null.
    const reg::Key* Get(const Names& names) {
        if (whole_) return Find(*whole_, names);
        if (names.empty() || !Lazy()) return Whole() ? Find(s_.tree, names) : nullptr;
        const std::string& text = s_.file.text();
        const auto [first, last] = s_.index.Under(text, names);
        if (first == last) return nullptr;
        auto found = s_.pieces.find({first, last});
        if (found == s_.pieces.end()) {
            // Once pieces would hold as much as half the file, it is parsed whole instead (once,
            // and it answers everything after).
            const auto& sections = s_.index.sections;
            const std::size_t bytes = sections[last - 1].end - sections[first].begin;
            if (s_.piecesBytes + bytes > text.size() / 2) {
                if (!Whole()) return nullptr;
                ClearPieces(s_);
                return Find(s_.tree, names);
            }
            auto tree = std::make_unique<reg::Key>();
            if (!reg::ParseSections(text, s_.index, first, last, tree.get()))
                return Whole() ? Find(s_.tree, names) : nullptr;
            s_.piecesBytes += bytes;
            found = s_.pieces.emplace(std::pair(first, last), std::move(tree)).first;
        }
        return Find(*found->second, names);
    }

    // ERROR_SUCCESS, or why a key could not be looked at.
    LSTATUS status() const { return status_; }

private:
    bool Lazy() const { return !s_.whole && s_.indexed && s_.index.ordered; }
    bool Whole() {
        if (status_ == ERROR_SUCCESS) status_ = WholeTree(s_);
        return status_ == ERROR_SUCCESS;
    }

    State& s_;
    const reg::Key* whole_;
    LSTATUS status_ = ERROR_SUCCESS;
};

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

const reg::Key* Find(const reg::Key& root, const Names& names) {
    const reg::Key* key = &root;
    for (const auto& n : names) {
        auto it = key->subkeys.find(n);
        if (it == key->subkeys.end()) return nullptr;
        key = &it->second;
    }
    return key;
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

// In a change of the user's tree, a key seen only in the machine-wide registry beneath it counts
// as present: the change then makes it in the user's tree.
const reg::Key* FindForWrite(const State& s, const reg::Key& root, const Names& names) {
    const reg::Key* key = Find(root, names);
    if (!key && s.writing && s.layeredValid) key = Find(s.layered, names);
    return key;
}

// The key an open handle names, in the tree as it is now (ERROR_KEY_DELETED when another
// writer removed it meanwhile).
LSTATUS OpenedKey(State& s, const reg::Key& root, HKEY key, Names* names, const reg::Key** out) {
    LSTATUS status = HandleNames(s, key, names);
    if (status != ERROR_SUCCESS) return status;
    *out = FindForWrite(s, root, *names);
    return *out ? ERROR_SUCCESS : KeyDeleted(*names);
}

// The same for a read.
LSTATUS OpenedKey(State& s, ReadView& view, HKEY key, Names* names, const reg::Key** out) {
    LSTATUS status = HandleNames(s, key, names);
    if (status != ERROR_SUCCESS) return status;
    *out = view.Get(*names);
    return *out ? ERROR_SUCCESS : KeyDeleted(*names);
}

LSTATUS NotFound(const Names& names) {
    return Fail(ERROR_FILE_NOT_FOUND, "no key " + JoinNames(names));
}

// The batch's tree, read from the file at the batch's first use.
LSTATUS LockRegistry(const std::string& path, std::string* target, int* fd);

// The batch holds the file's lock from its first use to its end, so that what it reads (to decide
// what to change) is what its commit changes: registrations of other processes wait for it, and
// none of them can slip in between. A registry that cannot be locked (a read-only directory) is
// still read; the commit then fails as any write there does.
LSTATUS LoadBatch(State& s) {
    if (s.batch.loaded) return ERROR_SUCCESS;
    if (LockRegistry(s.batch.path, &s.batch.target, &s.batch.lockFd) != ERROR_SUCCESS)
        s.batch.lockFd = -1;
    LSTATUS status = Refresh(s, s.batch.path, s.batch.lockFd >= 0, true);
    if (status == ERROR_SUCCESS) status = TakeWholeTree(s, &s.batch.tree);
    if (status != ERROR_SUCCESS) return status;
    s.batch.id = s.id;
    s.batch.loaded = true;
    return ERROR_SUCCESS;
}

// Brings the view of the user's tree over the machine-wide one up to date (*layered false when
// OLE_REGISTRY names the one file). The user's tree must be fresh.
LSTATUS UpdateLayered(State& s, bool* layered) {
    const std::string machinePath = LayeredMachinePath();
    *layered = !machinePath.empty();
    if (!*layered) return ERROR_SUCCESS;
    State& m = Machine();
    LSTATUS status = Refresh(m, machinePath, false, true);
    if (status != ERROR_SUCCESS) return status;
    if (!s.layeredValid || s.layeredUser != s.generation || s.layeredMachine != m.generation) {
        if (status = WholeTree(s); status != ERROR_SUCCESS) return status;
        if (status = WholeTree(m); status != ERROR_SUCCESS) return status;
        s.layered = m.tree;
        Overlay(s.layered, s.tree);
        s.layeredUser = s.generation;
        s.layeredMachine = m.generation;
        s.layeredValid = true;
    }
    return ERROR_SUCCESS;
}

// A read: runs `fn` on the current tree with the state locked. While a batch is open that is the
// batch's tree (the user's file and the batch's pending changes, without the machine-wide file:
// a registration reads back what it writes).
LSTATUS ReadOp(const std::function<LSTATUS(State&, ReadView&)>& fn) {
    State& s = S();
    std::lock_guard lock(s.mu);
    const reg::Key* whole = nullptr;
    if (s.batch.depth > 0) {
        LSTATUS status = LoadBatch(s);
        if (status != ERROR_SUCCESS) return status;
        whole = &s.batch.tree;
    } else {
        LSTATUS status = Refresh(s, RegistryFilePath(), false);
        if (status != ERROR_SUCCESS) return status;
        bool layered = false;
        status = UpdateLayered(s, &layered);
        if (status != ERROR_SUCCESS) return status;
        if (layered) whole = &s.layered;
    }
    ReadView view(s, whole);
    const LSTATUS status = fn(s, view);
    return view.status() != ERROR_SUCCESS ? view.status() : status;
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

// Writes `text` whole to a temporary file beside `path` (the resolved file) and renames it into
// place, keeping the file's mode and owner.
LSTATUS WriteFileAtomically(State& s, const std::string& path, const std::string& text,
                            struct stat* written, bool* statted) {
    base::AtomicWriteOptions options;
    options.new_file_mode = 0644;
    options.hook = s.hook;
    auto failed = [](const base::Error& e) {
        const int err = static_cast<int>(e.code);
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

// Writes `tree` as the file at `path` (`target` once links are followed; the lock is held) and
// keeps it, with the text written, as what the file holds.
LSTATUS WriteTree(State& s, const std::string& path, const std::string& target, reg::Key tree) {
    std::string text = reg::WriteRegistryText(tree);
    struct stat st;
    bool statted = false;
    LSTATUS status = WriteFileAtomically(s, target, text, &st, &statted);
    if (status != ERROR_SUCCESS) return status;  // the file and what is kept of it are unchanged
    KeepWholeTree(s, std::move(tree));
    s.index = reg::SectionIndex{};
    s.indexed = false;
    ClearPieces(s);
    s.bad = false;
    ++s.generation;
    s.cached = true;
    s.path = path;
    s.racy = true;  // read again next time (and then parsed again only if someone changed it)
    if (statted) {
        s.id = IdOf(st);
        s.file.Remember(path, st, std::move(text));
    } else {
        s.id = FileId{};
        s.file.Forget();
    }
    return ERROR_SUCCESS;
}

// Replays a change onto a tree, setting *changed when the tree is different afterwards.
void ApplyChange(reg::Key& root, const Change& c, bool* changed) {
    auto parentAndName = [&]() -> std::pair<reg::Key*, const std::string*> {
        if (c.names.empty()) return {nullptr, nullptr};
        Names parentNames(c.names.begin(), c.names.end() - 1);
        return {Find(root, parentNames), &c.names.back()};
    };
    switch (c.kind) {
        case Change::kCreateKey:
            CreatePath(root, c.names, changed);
            break;
        case Change::kSetValue: {
            reg::Key* k = CreatePath(root, c.names, changed);
            auto it = k->values.find(c.valueName);
            if (it == k->values.end()) {
                k->values.emplace(c.valueName, c.value);
                *changed = true;
            } else if (!(it->second == c.value)) {
                it->second = c.value;
                *changed = true;
            }
            break;
        }
        case Change::kDeleteValue:
            if (reg::Key* k = Find(root, c.names); k && k->values.erase(c.valueName))
                *changed = true;
            break;
        case Change::kDeleteKey:
        case Change::kDeleteTree: {
            auto [parent, name] = parentAndName();
            if (!parent) break;
            auto it = parent->subkeys.find(*name);
            if (it == parent->subkeys.end()) break;
            if (c.kind == Change::kDeleteKey && !it->second.subkeys.empty()) break;
            parent->subkeys.erase(it);
            *changed = true;
            break;
        }
        case Change::kClearKey:
            if (reg::Key* k = Find(root, c.names);
                k && (!k->values.empty() || !k->subkeys.empty())) {
                *k = reg::Key{};
                *changed = true;
            }
            break;
    }
}

// The file's path for writing: links followed, and refused when it is not a regular file.
LSTATUS WritablePath(const std::string& path, std::string* resolved) {
    base::Result<std::string> r = base::ResolveSymlinks(path);
    if (!r) return FailErrno(static_cast<int>(r.error().code), "cannot follow " + path);
    *resolved = std::move(r).value();
    struct stat st;
    if (stat(resolved->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return NotRegular(*resolved);
    return ERROR_SUCCESS;
}

// Takes the exclusive lock beside the resolved file; *fd holds it until closed.
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

// The one writer of the file: under the lock beside the resolved file (taken here, or already
// held by the open batch), re-reads it, lets `edit` change a copy of the tree and writes the copy
// when `edit` changed anything.
LSTATUS Commit(State& s, const std::string& path,
               const std::function<LSTATUS(State&, reg::Key&, bool*)>& edit) {
    std::string target;
    int lockFd = -1;
    if (s.batch.lockFd >= 0) {
        target = s.batch.target;
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

    LSTATUS status;
    status = Refresh(s, path, true, true);
    if (status != ERROR_SUCCESS) return status;
    // Whatever a killed writer left behind goes on every locked pass, written or not.
    RemoveStaleTemporaries(target);
    bool layered = false;
    status = UpdateLayered(s, &layered);
    if (status != ERROR_SUCCESS) return status;
    // Changed in place: the kept tree is given back unless the edit changed it.
    reg::Key tree;
    status = TakeWholeTree(s, &tree);
    if (status != ERROR_SUCCESS) return status;
    bool changed = false;
    s.writing = layered;
    status = edit(s, tree, &changed);
    s.writing = false;
    if (status != ERROR_SUCCESS || !changed) {
        // A failed edit changed nothing (it checks before it applies).
        KeepWholeTree(s, std::move(tree));
        return status;
    }
    return WriteTree(s, path, target, std::move(tree));
}

// A change: `fn` checks the call against a tree and lists what it changes. Outside a batch the
// changes are committed at once; inside one they go onto the batch's tree and its log.
LSTATUS Transaction(const std::function<LSTATUS(State&, const reg::Key&, Changes*)>& fn) {
    State& s = S();
    std::lock_guard lock(s.mu);
    if (s.batch.depth > 0) {
        LSTATUS status = LoadBatch(s);
        if (status != ERROR_SUCCESS) return status;
        Changes changes;
        status = fn(s, s.batch.tree, &changes);
        if (status != ERROR_SUCCESS) return status;
        for (const Change& c : changes) ApplyChange(s.batch.tree, c, &s.batch.changed);
        s.batch.log.insert(s.batch.log.end(), changes.begin(), changes.end());
        return ERROR_SUCCESS;
    }
    return Commit(s, RegistryFilePath(), [&](State& st, reg::Key& tree, bool* changed) {
        Changes changes;
        LSTATUS status = fn(st, tree, &changes);
        if (status != ERROR_SUCCESS) return status;
        for (const Change& c : changes) ApplyChange(tree, c, changed);
        return ERROR_SUCCESS;
    });
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

std::string MachineRegistryFilePath() {
    const char* env = std::getenv("OLE_MACHINE_REGISTRY");
    return env && *env ? env : "/var/lib/lensbay/registry.reg";
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
    LSTATUS status = ReadOp([&](State& s, ReadView& view) {
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        Names base;
        HandleNames(s, key, &base);
        if (!view.Has(base)) return KeyDeleted(base);
        if (!view.Has(names)) return ERROR_FILE_NOT_FOUND;
        *result = NewHandle(s, names);
        if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_FILE_NOT_FOUND) return status;
    return Transaction([&](State& s, const reg::Key& root, Changes* changes) {
        Names base;
        LSTATUS st = HandleNames(s, key, &base);
        if (st != ERROR_SUCCESS) return st;
        if (!FindForWrite(s, root, base)) return KeyDeleted(base);
        const bool created = !Find(root, names);
        if (created) changes->push_back({Change::kCreateKey, names, {}, {}});
        *result = NewHandle(s, names);
        if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return Fail(ERROR_INVALID_PARAMETER, "no place for the key handle");
    *result = nullptr;
    return ReadOp([&](State& s, ReadView& view) {
        Names base, names;
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        HandleNames(s, key, &base);
        if (!view.Has(base)) return KeyDeleted(base);
        if (!view.Has(names)) return NotFound(names);
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
    return Transaction([&](State& s, const reg::Key& root, Changes* changes) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        changes->push_back({Change::kSetValue, names, name, value});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size) {
    if (reserved) return Fail(ERROR_INVALID_PARAMETER, "reserved must be null");
    if (data && !size) return Fail(ERROR_INVALID_PARAMETER, "a data buffer without its size");
    return ReadOp([&](State& s, ReadView& view) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, view, key, &names, &k);
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
    return Transaction([&](State& s, const reg::Key& root, Changes* changes) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        if (!k->values.count(name))
            return Fail(ERROR_FILE_NOT_FOUND, "no value \"" + name + "\" in " + JoinNames(names));
        changes->push_back({Change::kDeleteValue, names, name, {}});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteKeyA(HKEY key, const char* subKey) {
    if (!subKey) return Fail(ERROR_INVALID_PARAMETER, "no key name");
    return Transaction([&](State& s, const reg::Key& root, Changes* changes) {
        Names base, names;
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        HandleNames(s, key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        if (names.empty()) return Fail(ERROR_ACCESS_DENIED, "the root cannot be deleted");
        const reg::Key* k = Find(root, names);
        if (!k) return NotFound(names);
        if (!k->subkeys.empty())
            return Fail(ERROR_ACCESS_DENIED, "the key " + JoinNames(names) + " has subkeys");
        changes->push_back({Change::kDeleteKey, names, {}, {}});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteTreeA(HKEY key, const char* subKey) {
    return Transaction([&](State& s, const reg::Key& root, Changes* changes) {
        Names base, names;
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        HandleNames(s, key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        if (names.size() == base.size()) {
            // No subkey named: the key stays, its values and subkeys go.
            changes->push_back({Change::kClearKey, names, {}, {}});
            return ERROR_SUCCESS;
        }
        if (!Find(root, names)) return NotFound(names);
        changes->push_back({Change::kDeleteTree, names, {}, {}});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                      char* klass, DWORD* klassSize, void*) {
    if (reserved) return Fail(ERROR_INVALID_PARAMETER, "reserved must be null");
    return ReadOp([&](State& s, ReadView& view) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, view, key, &names, &k);
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
    return ReadOp([&](State& s, ReadView& view) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = OpenedKey(s, view, key, &names, &k);
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
    return Transaction([&](State& s, const reg::Key& root, Changes* changes) {
        Names base, names;
        LSTATUS st = FullNames(s, key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        HandleNames(s, key, &base);
        if (!FindForWrite(s, root, base)) return KeyDeleted(base);
        changes->push_back({Change::kSetValue, names, "", value});
        return ERROR_SUCCESS;
    });
}

namespace {
// Whether the file at `path` is still the one whose identity was `id` (FileId{}: no file).
bool FileUnchanged(const std::string& path, const FileId& id) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return errno == ENOENT && id == FileId{};
    return S_ISREG(st.st_mode) && IdOf(st) == id;
}

// The batch's commit when the file is as the batch read it: a pass under the lock like any
// other, with the batch's tree as the edited one.
LSTATUS CommitBatchTree(State& s) {
    RemoveStaleTemporaries(s.batch.target);
    // As in every change of the user's file, a machine-wide file beneath it must be readable.
    if (const std::string machinePath = LayeredMachinePath(); !machinePath.empty()) {
        LSTATUS status = Refresh(Machine(), machinePath, false);
        if (status != ERROR_SUCCESS) return status;
    }
    reg::Key tree = std::move(s.batch.tree);
    s.batch.tree = reg::Key{};
    // Nothing changed: the tree still says what the kept text says.
    if (!s.batch.changed) {
        KeepWholeTree(s, std::move(tree));
        return ERROR_SUCCESS;
    }
    return WriteTree(s, s.batch.path, s.batch.target, std::move(tree));
}

void EndBatch(State& s) {
    if (s.batch.lockFd >= 0) close(s.batch.lockFd);
    s.batch = Batch{};
}
}  // namespace

void RegistryBeginBatch() {
    State& s = S();
    std::lock_guard lock(s.mu);
    if (s.batch.depth++ == 0) {
        s.batch = Batch{};
        s.batch.depth = 1;
        s.batch.path = RegistryFilePath();
    }
}

void RegistryAbandonBatch() {
    State& s = S();
    std::lock_guard lock(s.mu);
    if (s.batch.depth == 0) return;
    if (--s.batch.depth == 0)
        EndBatch(s);
    else
        s.batch.doomed = true;
}

base::Result<> RegistryCommitBatch() {
    State& s = S();
    std::lock_guard lock(s.mu);
    if (s.batch.depth == 0) return base::Fail("no registry batch is open");
    if (--s.batch.depth > 0) return {};  // the outermost level writes
    if (s.batch.doomed) {
        EndBatch(s);
        return base::Fail("the registry changes were abandoned; nothing written");
    }
    LSTATUS status = ERROR_SUCCESS;
    if (!s.batch.log.empty() && s.batch.lockFd >= 0 && FileUnchanged(s.batch.path, s.batch.id)) {
        // The lock has been held since the file was read, and the file is still the one read:
        // the batch's tree is the file plus the changes, written as it is (no second read).
        status = CommitBatchTree(s);
    } else if (!s.batch.log.empty()) {
        const Changes log = std::move(s.batch.log);
        status = Commit(s, s.batch.path, [&](State&, reg::Key& tree, bool* changed) {
            for (const Change& c : log) ApplyChange(tree, c, changed);
            return ERROR_SUCCESS;
        });
    }
    EndBatch(s);
    if (status != ERROR_SUCCESS) return base::Fail(t_lastError, status);
    return {};
}
