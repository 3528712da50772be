// The read cache: what the registry keeps of one REGEDIT4 file between calls. The file's text
// (FileMemory: read again only when it may have changed), and what was made from that text: its
// sections listed (a lookup then parses only the sections under the key asked for), or the whole
// tree, or the fault that made it unreadable. Every way the file becomes known goes through Refresh
// (read) or Wrote (written by this process), which keep these in step.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/com/reg_cache.h"
#include "platform/com/reg_file.h"
#include "platform/com/reg_status.h"

namespace reg {

class KeptFile {
public:
    // Brings the cache up to date with the file at `path`. `force` reads the file even when its
    // stamp is unchanged (transactions do, under the lock). `whole`: the caller needs the whole
    // tree, so a new text is parsed whole at once rather than checked and indexed first. A file
    // that does not parse fails with ERROR_BADDB until it changes.
    LSTATUS Refresh(const std::string& path, bool force, bool whole = false);

    // Makes the whole tree of the kept text available (parsing it if not yet).
    LSTATUS MakeWhole();
    // Hands the whole tree over to a caller that changes it (the cache keeps the text only).
    LSTATUS TakeWhole(Key* tree);
    // Gives the cache back a tree that still says what the kept text says.
    void KeepWhole(Key tree);
    // This process wrote `tree` as `text` to the file at `path`, examined afterwards as *st (null
    // when it could not be examined).
    void Wrote(const std::string& path, Key tree, std::string text, const struct stat* st);

    // A key of the kept tree: whether it exists, and the key with everything under it (null when
    // absent or when the text could not be parsed; *status then says why).
    bool Has(const Names& names, LSTATUS* status);
    const Key* Get(const Names& names, LSTATUS* status);

    // The whole tree (after MakeWhole).
    const Key& tree() const { return tree_; }
    // Counts the trees the cache has held: a view made from it is stale when this moves.
    std::uint64_t generation() const { return generation_; }
    // The stamp of the file the kept text was read from (FileStamp{}: no file).
    FileStamp stamp() const { return file_.stamp(); }

private:
    // Whether lookups go by the sections' index (an ordered text, not yet parsed whole).
    bool Lazy() const { return !whole_ && indexed_ && index_.ordered; }
    void ClearPieces();

    // The text the cached tree was made from: a file read again with the same bytes is not parsed
    // again.
    FileMemory file_;
    // What a file read again is read into: kept while the file is one read on every call (just
    // changed), so that those reads neither allocate nor fault in fresh pages.
    std::string readBuffer_;
    bool bad_ = false;  // the text did not parse; badText_ says where
    std::string badText_;
    // The whole tree (when whole_), and the text's sections (when indexed_): either, both, or
    // neither (while a change holds the tree, or after a read that failed).
    Key tree_;
    bool whole_ = false;
    SectionIndex index_;
    bool indexed_ = false;
    std::uint64_t generation_ = 0;
    // The trees parsed from runs of the text's sections, by run, and the text they were parsed from
    // (overlaps counted twice).
    std::map<std::pair<std::size_t, std::size_t>, std::unique_ptr<Key>> pieces_;
    std::size_t piecesBytes_ = 0;
};

}  // namespace reg
