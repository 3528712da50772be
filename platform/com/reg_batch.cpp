// Batches: one registration, one change of the file. The batch holds the file's lock from its first
// use to its end, so that what it reads (to decide what to change) is what its commit changes:
// registrations of other processes wait for it, and none of them can slip in between. Its changes
// go onto its own copy of the tree, which its reads see, and are kept in order; the commit writes
// that copy when the file is still the one read, else replays the changes onto the file as read
// again.
#include <unistd.h>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/reg_state.h"
#include "platform/com/registry_batch.h"

namespace reg {

// The batch's tree, read from the file at the batch's first use. A registry that cannot be locked
// (a read-only directory) is still read; the commit then fails as any write there does.
LSTATUS State::LoadBatch() {
    if (batch_.loaded) return ERROR_SUCCESS;
    if (LockRegistry(batch_.path, &batch_.target, &batch_.lockFd) != ERROR_SUCCESS)
        batch_.lockFd = -1;
    LSTATUS status = user_.Refresh(batch_.path, batch_.lockFd >= 0, true);
    if (status == ERROR_SUCCESS) status = user_.TakeWhole(&batch_.tree);
    if (status != ERROR_SUCCESS) return status;
    batch_.stamp = user_.stamp();
    batch_.loaded = true;
    return ERROR_SUCCESS;
}

// The batch's commit when the file is as the batch read it: a pass under the lock like any other,
// with the batch's tree as the edited one.
LSTATUS State::CommitBatchTree() {
    RemoveStaleTemporaries(batch_.target);
    // As in every change of the user's file, a machine-wide file beneath it must be readable.
    if (const std::string machinePath = LayeredMachinePath(); !machinePath.empty()) {
        LSTATUS status = machine_.Refresh(machinePath, false);
        if (status != ERROR_SUCCESS) return status;
    }
    Key tree = std::move(batch_.tree);
    batch_.tree = Key{};
    // Nothing changed: the tree still says what the kept text says.
    if (!batch_.changed) {
        user_.KeepWhole(std::move(tree));
        return ERROR_SUCCESS;
    }
    return WriteTree(batch_.path, batch_.target, std::move(tree));
}

void State::EndBatch() {
    if (batch_.lockFd >= 0) close(batch_.lockFd);
    batch_ = Batch{};
}

void State::BeginBatch() {
    std::lock_guard lock(mu_);
    if (batch_.depth++ == 0) {
        batch_ = Batch{};
        batch_.depth = 1;
        batch_.path = RegistryFilePath();
    }
}

void State::AbandonBatch() {
    std::lock_guard lock(mu_);
    if (batch_.depth == 0) return;
    if (--batch_.depth == 0)
        EndBatch();
    else
        batch_.doomed = true;
}

base::Result<> State::CommitBatch() {
    std::lock_guard lock(mu_);
    if (batch_.depth == 0) return base::Fail("no registry batch is open");
    if (--batch_.depth > 0) return {};  // the outermost level writes
    if (batch_.doomed) {
        EndBatch();
        return base::Fail("the registry changes were abandoned; nothing written");
    }
    LSTATUS status = ERROR_SUCCESS;
    if (!batch_.log.empty() && batch_.lockFd >= 0 && batch_.stamp.StillAt(batch_.path)) {
        // The lock has been held since the file was read, and the file is still the one read: the
        // batch's tree is the file plus the changes, written as it is (no second read).
        status = CommitBatchTree();
    } else if (!batch_.log.empty()) {
        const Changes log = std::move(batch_.log);
        status = Commit(batch_.path, [&](Key& tree, bool* changed) {
            for (const reg::Change& c : log) ApplyChange(tree, c, changed);
            return ERROR_SUCCESS;
        });
    }
    EndBatch();
    if (status != ERROR_SUCCESS) {
        // The message stays the thread's error object too.
        std::string why = TakeErrorInfoText();
        SetErrorInfoText(why);
        return base::FailRegistry(std::move(why), status);
    }
    return {};
}

}  // namespace reg

void RegistryBeginBatch() { reg::State::Of().BeginBatch(); }
void RegistryAbandonBatch() { reg::State::Of().AbandonBatch(); }
base::Result<> RegistryCommitBatch() { return reg::State::Of().CommitBatch(); }
