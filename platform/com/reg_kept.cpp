#include "platform/com/reg_kept.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/com/reg_change.h"

namespace reg {
namespace {

// Reads the whole of an open file, straight into one string sized from its length (it may still
// grow or shrink while read).
LSTATUS ReadAll(int fd, const std::string& path, std::string* text, off_t sizeHint) {
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

}  // namespace

LSTATUS KeptFile::Refresh(const std::string& path, bool force, bool whole) {
    // Non-blocking, so that a FIFO in the file's place cannot hang the caller; refused below.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) return FailErrno(errno, "cannot open " + path);
        // No file yet: an empty registry (a new tree only when there was one before).
        if (!file_.Absent(path) || bad_ || !tree_.subkeys.empty() || !tree_.values.empty())
            ++generation_;
        file_.RememberAbsent(path);
        bad_ = false;
        tree_ = Key{};
        whole_ = true;
        index_ = SectionIndex{};
        indexed_ = true;
        ClearPieces();
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
        file_.Forget();
        return NotRegular(path);
    }
    if (force || !file_.Fresh(path, st)) {
        LSTATUS status = ReadAll(fd, path, &readBuffer_, st.st_size);
        if (status != ERROR_SUCCESS) {
            close(fd);
            // Nothing kept stands for the file any more: the next read reads it again.
            file_.Forget();
            whole_ = indexed_ = false;
            tree_ = Key{};
            ClearPieces();
            return status;
        }
        if (!file_.SameText(path, readBuffer_)) {
            // Checked and listed now; parsed key by key as reads ask (or whole, when needed).
            SectionIndex index;
            Key tree;
            const base::Result<> checked = whole ? ParseRegistryText(readBuffer_, &tree)
                                                 : IndexRegistryText(readBuffer_, &index);
            bad_ = !checked.ok();
            badText_ = bad_ ? path + ":" + checked.message() : std::string();
            index_ = bad_ ? SectionIndex{} : std::move(index);
            indexed_ = !bad_ && !whole;
            tree_ = bad_ ? Key{} : std::move(tree);
            whole_ = !bad_ && whole;
            ClearPieces();
            ++generation_;
        }
        file_.Remember(path, st, &readBuffer_);
        if (!file_.racy()) std::string().swap(readBuffer_);
    }
    close(fd);
    if (bad_) return Fail(ERROR_BADDB, badText_);
    return ERROR_SUCCESS;
}

LSTATUS KeptFile::MakeWhole() {
    if (whole_) return ERROR_SUCCESS;
    Key tree;
    if (const base::Result<> parsed = ParseRegistryText(file_.text(), &tree); !parsed) {
        bad_ = true;
        badText_ = file_.path() + ":" + parsed.message();
        return Fail(ERROR_BADDB, badText_);
    }
    tree_ = std::move(tree);
    whole_ = true;
    return ERROR_SUCCESS;
}

LSTATUS KeptFile::TakeWhole(Key* tree) {
    LSTATUS status = MakeWhole();
    if (status != ERROR_SUCCESS) return status;
    *tree = std::move(tree_);
    tree_ = Key{};
    whole_ = false;
    return ERROR_SUCCESS;
}

void KeptFile::KeepWhole(Key tree) {
    tree_ = std::move(tree);
    whole_ = true;
}

void KeptFile::Wrote(const std::string& path, Key tree, std::string text, const struct stat* st) {
    KeepWhole(std::move(tree));
    index_ = SectionIndex{};
    indexed_ = false;
    ClearPieces();
    bad_ = false;
    ++generation_;
    if (st) {
        file_.Remember(path, *st, std::move(text));
        file_.Doubt();  // read again next time (and then parsed again only if
                        // someone changed it)
    } else {
        file_.Forget();
    }
}

bool KeptFile::Has(const Names& names, LSTATUS* status) {
    if (names.empty()) return true;
    if (!Lazy()) return Get(names, status) != nullptr;
    const auto [first, last] = index_.Under(file_.text(), names);
    return first < last;
}

const Key* KeptFile::Get(const Names& names, LSTATUS* status) {
    // The whole tree, once; a failure stays the answer of every later lookup of the same read.
    auto whole = [&] {
        if (*status == ERROR_SUCCESS) *status = MakeWhole();
        return *status == ERROR_SUCCESS;
    };
    if (names.empty() || !Lazy()) return whole() ? Find(tree_, names) : nullptr;
    const std::string& text = file_.text();
    const auto [first, last] = index_.Under(text, names);
    if (first == last) return nullptr;
    auto found = pieces_.find({first, last});
    if (found == pieces_.end()) {
        // Once pieces would hold as much as half the file, it is parsed whole instead (once, and it
        // answers everything after).
        const auto& sections = index_.sections;
        const std::size_t bytes = sections[last - 1].end - sections[first].begin;
        if (piecesBytes_ + bytes > text.size() / 2) {
            if (!whole()) return nullptr;
            ClearPieces();
            return Find(tree_, names);
        }
        auto tree = std::make_unique<Key>();
        if (!ParseSections(text, index_, first, last, tree.get()))
            return whole() ? Find(tree_, names) : nullptr;
        piecesBytes_ += bytes;
        found = pieces_.emplace(std::pair(first, last), std::move(tree)).first;
    }
    return Find(*found->second, names);
}

void KeptFile::ClearPieces() {
    pieces_.clear();
    piecesBytes_ = 0;
}

}  // namespace reg
