// The class registry of this process: its open key handles, the kept files (the user's and the
// machine-wide one beneath it), the view of one over the other, and the open batch. One mutex
// guards it all; every Reg* function goes through Read or Edit.
//
// Its files by concern: reg_state.cpp (handles, reads, the layered view, changes outside and inside
// a batch), reg_commit.cpp (the file's lock and the one writer of the file), reg_batch.cpp
// (batches); the read cache is reg_kept.h, the replayable changes reg_change.h.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "platform/base/result.h"
#include "platform/com/reg_cache.h"
#include "platform/com/reg_change.h"
#include "platform/com/reg_kept.h"
#include "platform/com/registry.h"

struct HKEY__ {
    std::vector<std::string> names;  // path from HKEY_CLASSES_ROOT
};

namespace reg {

// What a read sees, key by key: a whole tree (the batch's, or the user's over the machine-wide
// one), or the kept file's own, parsed only under the keys asked for when its sections allow.
class ReadView {
public:
    ReadView(KeptFile& file, const Key* whole) : file_(file), whole_(whole) {}

    bool Has(const Names& names) {
        if (whole_) return names.empty() || Find(*whole_, names) != nullptr;
        return file_.Has(names, &status_);
    }
    // The key with everything under it, or null.
    const Key* Get(const Names& names) {
        return whole_ ? Find(*whole_, names) : file_.Get(names, &status_);
    }
    // ERROR_SUCCESS, or why a key could not be looked at.
    LSTATUS status() const { return status_; }

private:
    KeptFile& file_;
    const Key* whole_;
    LSTATUS status_ = ERROR_SUCCESS;
};

class State {
public:
    // The process's registry (never destroyed: handles may be closed during exit).
    static State& Of();

    // A read: runs `fn` on the current tree with the state locked. While a batch is open that is
    // the batch's tree (the user's file and the batch's pending changes, without the machine-wide
    // file: a registration reads back what it writes).
    LSTATUS Read(const std::function<LSTATUS(State&, ReadView&)>& fn);
    // A change: `fn` checks the call against a tree and lists what it changes. Outside a batch the
    // changes are committed at once; inside one they go onto the batch's tree and its log.
    LSTATUS Edit(const std::function<LSTATUS(State&, const Key&, Changes*)>& fn);

    // Handles (within Read or Edit, the state locked).
    HKEY NewHandle(Names names);
    // Resolves a handle to the key path it names (the root for HKEY_CLASSES_ROOT).
    LSTATUS HandleNames(HKEY key, Names* names) const;
    // The same with `subKey` appended.
    LSTATUS FullNames(HKEY key, const char* subKey, Names* names) const;
    // In a change of the user's tree, a key seen only in the machine-wide registry beneath it
    // counts as present: the change then makes it in the user's tree.
    const Key* FindForWrite(const Key& root, const Names& names) const;
    // The key an open handle names, in the tree as it is now (ERROR_KEY_DELETED when another writer
    // removed it meanwhile): in a tree being changed, and in a read.
    LSTATUS OpenedKey(const Key& root, HKEY key, Names* names, const Key** out) const;
    LSTATUS OpenedKey(ReadView& view, HKEY key, Names* names, const Key** out) const;
    // Closes a handle (locks the state).
    LSTATUS CloseHandle(HKEY key);

    void SetWriteHook(RegistryWriteHook hook);

    // Batches (reg_batch.cpp; each locks the state).
    void BeginBatch();
    void AbandonBatch();
    base::Result<> CommitBatch();

private:
    // The process's open batch: every change made while it is open lands in one rewrite of the
    // file.
    struct Batch {
        int depth = 0;         // RegistryBeginBatch calls not yet matched
        bool doomed = false;   // an inner level was abandoned: the outer commit fails
        bool loaded = false;   // `tree` holds the file as read at the first use plus `log`
        bool changed = false;  // `log` changed `tree`
        FileStamp stamp;       // the file as read at the first use
        std::string path;      // the registry file when the batch opened
        std::string target;    // the file itself (links followed), while the lock is held
        int lockFd = -1;       // the file's lock, held from the first use to the end
        Key tree;
        Changes log;
    };
    // The view of the user's tree over the machine-wide one, for the generations it was made of.
    struct Layered {
        Key tree;
        std::uint64_t user = 0, machine = 0;
        bool valid = false;
    };

    // Brings the layered view up to date (*layered false when OLE_REGISTRY names the one file). The
    // user's tree must be fresh.
    LSTATUS UpdateLayered(bool* layered);

    // reg_commit.cpp: the one writer of the file, and what it keeps of what it wrote.
    LSTATUS Commit(const std::string& path, const std::function<LSTATUS(Key&, bool*)>& edit);
    LSTATUS WriteTree(const std::string& path, const std::string& target, Key tree);

    // reg_batch.cpp.
    LSTATUS LoadBatch();
    LSTATUS CommitBatchTree();
    void EndBatch();

    std::mutex mu_;
    std::set<HKEY__*> handles_;
    KeptFile user_;     // the registry file (OLE_REGISTRY, else the user's)
    KeptFile machine_;  // the machine-wide file beneath the user's
    Layered layered_;
    bool writing_ = false;  // inside a change of the user's tree, with the layered view valid
    RegistryWriteHook hook_ = nullptr;
    Batch batch_;
};

// The machine-wide file when it lies beneath the user's, else "".
std::string LayeredMachinePath();

// File locking (reg_commit.cpp). Takes the exclusive lock beside the file at `path` once links are
// followed (*target); *fd holds it until closed.
LSTATUS LockRegistry(const std::string& path, std::string* target, int* fd);
// Temporary files left by a writer that died before its rename; the lock must be held.
void RemoveStaleTemporaries(const std::string& path);

}  // namespace reg
