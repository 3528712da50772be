#include "platform/com/reg_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "platform/base/text.h"

namespace reg {
namespace {

char FoldCase(char c) { return NoCaseLess::Fold(c); }

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The parser's own copies of the exported checks, so that they inline.
inline bool FoldedEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a == b) return true;  // as most files spell it
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

// Eight bytes at a time: key paths are long and every file is checked whole once.
inline bool HasNoControl(std::string_view name) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    std::size_t i = 0;
    for (; i + 8 <= name.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, name.data() + i, 8);
        const std::uint64_t del = w ^ (kOnes * 0x7F);  // a zero byte where w holds 0x7F
        // A byte below 0x20, or a zero byte of `del` (exact for whether any byte is one).
        if (((w - kOnes * 0x20) & ~w & kHighs) | ((del - kOnes) & ~del & kHighs)) return false;
    }
    for (; i < name.size(); ++i)
        if (IsControl(name[i])) return false;
    return true;
}

// A REG_SZ value is written as a quoted string when its text can be read back unchanged:
// exactly one NUL, at the end, and no line break inside.
bool IsPlainString(const Value& v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != '\0') return false;
    for (std::size_t i = 0; i + 1 < v.data.size(); ++i) {
        char c = v.data[i];
        if (c == '\0' || c == '\n' || c == '\r') return false;
    }
    return true;
}

void AppendQuoted(std::string* out, std::string_view text) {
    out->push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"') out->push_back('\\');
        out->push_back(c);
    }
    out->push_back('"');
}

void AppendValue(std::string* out, const std::string& name, const Value& v) {
    if (name.empty())
        out->push_back('@');
    else
        AppendQuoted(out, name);
    out->push_back('=');
    char buf[32];
    if (IsPlainString(v)) {
        AppendQuoted(out, std::string_view(v.data).substr(0, v.data.size() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        auto b = [&](int i) {
            return static_cast<unsigned>(static_cast<unsigned char>(v.data[i]));
        };
        std::snprintf(buf, sizeof buf, "dword:%08x", b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24);
        out->append(buf);
    } else {
        if (v.type == REG_BINARY) {
            out->append("hex:");
        } else {
            std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
            out->append(buf);
        }
        base::AppendHexBytes(out, v.data, ",");
    }
    out->push_back('\n');
}

// `path` is the key's full name; it is extended for each subkey and put back.
void AppendKey(std::string* out, std::string* path, const Key& key, bool isRoot) {
    // The root gets a section only when it holds values of its own.
    if (!isRoot || !key.values.empty()) {
        out->push_back('[');
        out->append(*path);
        out->append("]\n");
        for (const auto& [name, value] : key.values) AppendValue(out, name, value);
        out->push_back('\n');
    }
    const std::size_t length = path->size();
    for (const auto& [name, sub] : key.subkeys) {
        path->push_back('\\');
        path->append(name);
        AppendKey(out, path, sub, false);
        path->resize(length);
    }
}

// What the checking pass keeps of a name or data: nothing but whether a name held a control
// character (the check comes after the quoted text is read, as when building).
struct NameCheck {
    bool control = false;
    void push_back(char c) { control = control || IsControl(c); }
    void append(std::string_view s) { control = control || !HasNoControl(s); }
};
inline bool HasNoControl(const NameCheck& name) { return !name.control; }
struct Discard {
    bool any = false;
    void push_back(char) { any = true; }
    void append(std::string_view s) { any = any || !s.empty(); }
    bool empty() const { return !any; }
};
struct CheckedValue {
    DWORD type = 0;
    Discard data;
};

// Compares a section's key path (names below the root, "\"-separated) with another by name,
// case-insensitively: the order WriteRegistryText writes sections in.
int ComparePaths(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    // Equal bytes are equal names whatever their case; paths in order share long beginnings.
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) break;
    }
    while (i < n && a[i] == b[i]) ++i;
    for (; i < n; ++i) {
        // The separator sorts before any character a name may hold.
        auto x = static_cast<unsigned char>(a[i] == '\\' ? '\1' : FoldCase(a[i]));
        auto y = static_cast<unsigned char>(b[i] == '\\' ? '\1' : FoldCase(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// kBuild: builds the tree. Otherwise only checks the text, failing exactly where and as the
// building parse would, and may list its sections.
template <bool kBuild>
class Parser {
public:
    Parser(std::string_view text, Key* root, SectionIndex* index = nullptr)
        : text_(text), root_(root), index_(index) {}

    base::Result<> Run() {
        if constexpr (kBuild) *root_ = Key{};
        if (index_) *index_ = SectionIndex{};
        if (text_.empty()) return {};  // an empty file is an empty registry
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
            text_.remove_prefix(3);
            origin_ = 3;
        }
        if (index_ && text_.size() + origin_ > UINT32_MAX) {
            index_->ordered = false;  // too large to list: looked up whole
            index_ = nullptr;
        }
        // A section takes 20 bytes at least ("[HKEY_CLASSES_ROOT]\n"): room for all at once,
        // of which only the pages used are ever touched.
        if (index_) index_->sections.reserve(text_.size() / 20 + 1);
        std::string_view line;
        if (!NextLine(&line) || base::Trim(line) != "REGEDIT4")
            return Fail("expected \"REGEDIT4\" on the first line");
        base::Result<> body = RunBody();
        if (index_ && !index_->sections.empty())
            index_->sections.back().end = static_cast<std::uint32_t>(origin_ + text_.size());
        return body;
    }

    // Sections and values only, from the start of the text (a run of whole sections).
    base::Result<> RunBody() {
        std::string_view line;
        while (NextLine(&line)) {
            std::string_view t = base::Trim(line);
            if (t.empty() || t.front() == ';') continue;
            bool ok = false;
            if (t.front() == '[')
                ok = ParseSection(t);
            else if (t.front() == '@' || t.front() == '"')
                ok = ParseValue(t);
            else
                why_ = "expected a key or a value";
            if (!ok) return Fail(why_);
        }
        return {};
    }

private:
    using Name = std::conditional_t<kBuild, std::string, NameCheck>;
    using Val = std::conditional_t<kBuild, Value, CheckedValue>;

    base::Error Fail(const std::string& why) const {
        return base::Fail(std::to_string(lineNo_) + ": " + why);
    }

    bool NextLine(std::string_view* line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        *line = text_.substr(pos_, end - pos_);
        if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
        lineStart_ = pos_;
        pos_ = end + 1;
        ++lineNo_;
        return true;
    }

    bool ParseSection(std::string_view t) {
        if (t.size() < 2 || t.back() != ']') return Err("missing \"]\" after the key name");
        std::string_view path = t.substr(1, t.size() - 2);
        if (!path.empty() && path.front() == '-') return Err("key deletions are not supported");
        std::size_t sep = path.find('\\');
        std::string_view rootName = path.substr(0, sep);
        if (!FoldedEqual(rootName, kRootName))
            return Err("only keys under HKEY_CLASSES_ROOT are supported");
        if (sep == std::string_view::npos) {
            if constexpr (kBuild) {
                open_.clear();
                current_ = root_;
            }
            return Opened({});
        }
        std::string_view rest = path.substr(sep + 1);
        if (rest.empty() || rest.back() == '\\') return Err("bad key name");
        const std::string_view below = rest;
        if constexpr (!kBuild) {
            // The names' checks at once: none empty, none with a control character.
            if (rest.front() == '\\' || rest.find("\\\\") != std::string_view::npos ||
                !HasNoControl(rest))
                return Err("bad key name");
            return Opened(below);
        }
        // The keys of the section before are reused as far as the paths agree (a file in tree
        // order repeats most of each path); below that each name is found or added, at the end
        // of its parent when it sorts last (a file in tree order adds every key that way).
        std::size_t depth = 0;
        [[maybe_unused]] Key* key = root_;
        while (!rest.empty()) {
            sep = rest.find('\\');
            std::string_view name = rest.substr(0, sep);
            rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);
            if (name.empty() || !HasNoControl(name)) return Err("bad key name");
            if constexpr (kBuild) {
                if (depth < open_.size() && FoldedEqual(*open_[depth].name, name)) {
                    key = open_[depth].key;
                } else {
                    open_.resize(depth);
                    auto it = Child(key, name);
                    key = &it->second;
                    open_.push_back(Open{&it->first, key});
                }
                ++depth;
            }
        }
        if constexpr (kBuild) {
            open_.resize(depth);
            current_ = key;
        }
        return Opened(below);
    }

    // A section header was accepted; `path` is its key path below the root.
    bool Opened(std::string_view path) {
        if constexpr (!kBuild) inSection_ = true;
        if (!index_) return true;
        auto& sections = index_->sections;
        const auto at = [&](std::size_t offset) {
            return static_cast<std::uint32_t>(origin_ + offset);
        };
        if (!sections.empty()) {
            SectionIndex::Section& last = sections.back();
            last.end = at(lineStart_);
            if (index_->ordered &&
                ComparePaths(std::string_view(text_.data() + (last.path - origin_), last.pathSize),
                             path) >= 0)
                index_->ordered = false;
        }
        const std::size_t pathOffset = path.empty() ? lineStart_ : path.data() - text_.data();
        sections.push_back(SectionIndex::Section{at(lineStart_), at(lineStart_), at(pathOffset),
                                                 static_cast<std::uint32_t>(path.size())});
        return true;
    }

    // Reads a quoted string at s[*i] (which is the opening quote).
    template <class Out>
    bool ParseQuoted(std::string_view s, std::size_t* i, Out* out) {
        if constexpr (!kBuild) {
            // Checking only: a string without escapes is taken whole.
            const std::size_t start = *i + 1;
            const std::size_t quote = s.find('"', start);
            if (quote != std::string_view::npos &&
                !std::memchr(s.data() + start, '\\', quote - start)) {
                out->append(s.substr(start, quote - start));
                *i = quote + 1;
                return true;
            }
        }
        ++*i;
        for (; *i < s.size(); ++*i) {
            char c = s[*i];
            if (c == '"') {
                ++*i;
                return true;
            }
            if (c == '\\') {
                if (++*i >= s.size()) break;
                c = s[*i];
                if (c != '\\' && c != '"') return Err("bad escape in a string");
            }
            out->push_back(c);
        }
        return Err("missing closing quote");
    }

    bool InSection() const {
        if constexpr (kBuild)
            return current_ != nullptr;
        else
            return inSection_;
    }

    bool ParseValue(std::string_view t) {
        if (!InSection()) return Err("value outside of a key");
        Name name;
        std::size_t i = 0;
        if (t[0] == '@') {
            i = 1;
        } else if (!ParseQuoted(t, &i, &name)) {
            return false;
        }
        if (!HasNoControl(name)) return Err("bad value name");
        while (i < t.size() && IsBlank(t[i])) ++i;
        if (i >= t.size() || t[i] != '=') return Err("expected \"=\" after the value name");
        std::string_view data = base::Trim(t.substr(i + 1));
        Val v;
        if (!data.empty() && data.front() == '"') {
            std::size_t j = 0;
            if (!ParseQuoted(data, &j, &v.data)) return false;
            if (j != data.size()) return Err("unexpected text after the string");
            v.type = REG_SZ;
            v.data.push_back('\0');
        } else if (data.substr(0, 6) == "dword:") {
            std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8) return Err("bad dword value");
            std::uint32_t n = 0;
            for (char c : digits) {
                int d = base::HexDigitValue(c);
                if (d < 0) return Err("bad dword value");
                n = n << 4 | static_cast<std::uint32_t>(d);
            }
            v.type = REG_DWORD;
            for (int k = 0; k < 4; ++k) v.data.push_back(static_cast<char>((n >> (8 * k)) & 0xFF));
        } else if (data.substr(0, 3) == "hex") {
            if (!ParseHex(data.substr(3), &v)) return false;
        } else if (data == "-") {
            return Err("value deletions are not supported");
        } else {
            return Err("bad value data");
        }
        if constexpr (kBuild) {
            // A name given twice in one key: the later one wins, as on import.
            auto it = current_->values.find(name);
            if (it != current_->values.end())
                it->second = std::move(v);
            else
                current_->values.emplace(std::move(name), std::move(v));
        }
        return true;
    }

    // After "hex": ":" for REG_BINARY or "(type):"; then bytes "01,02", a trailing "\" carrying
    // the list on to the next line.
    bool ParseHex(std::string_view s, Val* v) {
        v->type = REG_BINARY;
        if (!s.empty() && s.front() == '(') {
            std::size_t close = s.find(')');
            if (close == std::string_view::npos || close == 1 || close > 9)
                return Err("bad value type");
            std::uint32_t type = 0;
            for (char c : s.substr(1, close - 1)) {
                int d = base::HexDigitValue(c);
                if (d < 0) return Err("bad value type");
                type = type << 4 | static_cast<std::uint32_t>(d);
            }
            v->type = type;
            s.remove_prefix(close + 1);
        }
        if (s.empty() || s.front() != ':') return Err("expected \":\" after \"hex\"");
        s = base::Trim(s.substr(1));
        bool expectByte = true;
        while (true) {
            while (!s.empty() && s != "\\") {
                if (expectByte) {
                    if (s.size() < 2 || base::HexDigitValue(s[0]) < 0 ||
                        base::HexDigitValue(s[1]) < 0)
                        return Err("bad hex byte");
                    v->data.push_back(static_cast<char>(base::HexDigitValue(s[0]) << 4 |
                                                        base::HexDigitValue(s[1])));
                    s = base::Trim(s.substr(2));
                    expectByte = false;
                } else if (s.front() == ',') {
                    s = base::Trim(s.substr(1));
                    expectByte = true;
                } else {
                    return Err("bad hex list");
                }
            }
            if (s != "\\") break;
            if (!expectByte) return Err("expected \",\" before the line continuation");
            std::string_view next;
            if (!NextLine(&next)) return Err("hex list ends after a line continuation");
            s = base::Trim(next);
        }
        if (expectByte && !v->data.empty()) return Err("hex list ends with \",\"");
        return true;
    }

    // The subkey `name` of `parent`, added when missing.
    static std::map<std::string, Key, NoCaseLess>::iterator Child(Key* parent,
                                                                  std::string_view name) {
        auto& subkeys = parent->subkeys;
        if (subkeys.empty() || NoCaseLess()(subkeys.rbegin()->first, name))
            return subkeys.emplace_hint(subkeys.end(), name, Key{});
        auto it = subkeys.lower_bound(name);
        if (it != subkeys.end() && !NoCaseLess()(name, it->first)) return it;
        return subkeys.emplace_hint(it, name, Key{});
    }

    bool Err(const char* why) {
        why_ = why;
        return false;
    }

    std::string_view text_;
    Key* root_;
    SectionIndex* index_;
    std::size_t origin_ = 0;  // bytes of the text before text_ (a byte-order mark)
    Key* current_ = nullptr;
    bool inSection_ = false;  // the checking pass's current_
    // The keys of the last section's path, from the root's child down.
    struct Open {
        const std::string* name;
        Key* key;
    };
    std::vector<Open> open_;
    std::size_t pos_ = 0;
    std::size_t lineStart_ = 0;
    int lineNo_ = 0;
    std::string why_;
};

// Compares a section's path with the key `names`: <0 for a key before it, 0 for the key itself
// or one under it, >0 for a key after it and all under it.
int CompareWithKey(std::string_view path, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (path.empty()) return -1;  // an ancestor
        const std::size_t sep = path.find('\\');
        const std::string_view own = path.substr(0, sep);
        path = sep == std::string_view::npos ? std::string_view() : path.substr(sep + 1);
        const int c = ComparePaths(own, name);
        if (c != 0) return c;
    }
    return 0;
}

}  // namespace

bool NoCaseEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

bool operator==(const Key& a, const Key& b) {
    if (a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()) return false;
    for (auto i = a.values.begin(), j = b.values.begin(); i != a.values.end(); ++i, ++j)
        if (i->first != j->first || !(i->second == j->second)) return false;
    for (auto i = a.subkeys.begin(), j = b.subkeys.begin(); i != a.subkeys.end(); ++i, ++j)
        if (i->first != j->first || !(i->second == j->second)) return false;
    return true;
}

base::Result<> ParseRegistryText(std::string_view text, Key* root) {
    return Parser<true>(text, root).Run();
}

base::Result<> IndexRegistryText(std::string_view text, SectionIndex* index) {
    return Parser<false>(text, nullptr, index).Run();
}

std::pair<std::size_t, std::size_t> SectionIndex::Under(
    std::string_view text, const std::vector<std::string>& names) const {
    const auto compare = [&](const Section& s) {
        return CompareWithKey(text.substr(s.path, s.pathSize), names);
    };
    const auto first = std::partition_point(sections.begin(), sections.end(),
                                            [&](const Section& s) { return compare(s) < 0; });
    const auto last = std::partition_point(first, sections.end(),
                                           [&](const Section& s) { return compare(s) == 0; });
    return {static_cast<std::size_t>(first - sections.begin()),
            static_cast<std::size_t>(last - sections.begin())};
}

base::Result<> ParseSections(std::string_view text, const SectionIndex& index, std::size_t first,
                             std::size_t last, Key* root) {
    *root = Key{};
    if (first >= last) return {};
    const std::size_t begin = index.sections[first].begin;
    return Parser<true>(text.substr(begin, index.sections[last - 1].end - begin), root).RunBody();
}

std::string WriteRegistryText(const Key& root) {
    std::string out = "REGEDIT4\n\n";
    std::string path(kRootName);
    AppendKey(&out, &path, root, true);
    return out;
}

bool SplitKeyPath(std::string_view path, std::vector<std::string>* names) {
    names->clear();
    if (path.empty()) return true;
    if (path.back() == '\\') path.remove_suffix(1);
    std::size_t start = 0;
    while (true) {
        std::size_t sep = path.find('\\', start);
        std::string_view name =
            path.substr(start, sep == std::string_view::npos ? sep : sep - start);
        if (name.empty()) return false;
        for (char c : name)
            if (IsControl(c)) return false;
        names->emplace_back(name);
        if (sep == std::string_view::npos) return true;
        start = sep + 1;
    }
}

bool IsStorableValueName(std::string_view name) {
    for (char c : name)
        if (IsControl(c)) return false;
    return true;
}

}  // namespace reg
