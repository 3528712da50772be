// Module resources: the resource table, its ELF section, and the dialog and version formats.
#include "platform/com/resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <tuple>

#include "platform/com/le_bytes.h"

namespace {

constexpr char kTableMagic[] = "LBRSRC01";
constexpr std::size_t kMagicSize = 8;
constexpr std::size_t kEntrySize = 16;

// ---------------------------------------------------------------- ELF64 section lookup
// Only the fields we need, read through a Source so that a file is never read whole: the module
// may be large while the resource section is small.

class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t Size() const = 0;
    // Exactly `n` bytes at `offset` into *out; false with *error set otherwise.
    virtual bool Read(std::uint64_t offset, std::size_t n, std::string* out,
                      std::string* error) = 0;
};

class MemorySource : public Source {
public:
    explicit MemorySource(std::string_view data) : data_(data) {}
    std::uint64_t Size() const override { return data_.size(); }
    bool Read(std::uint64_t offset, std::size_t n, std::string* out, std::string* error) override {
        if (offset > data_.size() || n > data_.size() - offset) {
            *error = "read past the end of the file";
            return false;
        }
        out->assign(data_.substr(static_cast<std::size_t>(offset), n));
        return true;
    }

private:
    std::string_view data_;
};

class FileSource : public Source {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, std::size_t n, std::string* out, std::string* error) override {
        if (offset > size_ || n > size_ - offset) {
            *error = "read past the end of the file";
            return false;
        }
        out->resize(n);
        std::size_t done = 0;
        while (done < n) {
            ssize_t got =
                ::pread(fd_, out->data() + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                *error = std::string("read failed: ") + std::strerror(errno);
                return false;
            }
            if (got == 0) {
                *error = "file shrank while being read";
                return false;
            }
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int fd_;
    std::uint64_t size_;
};

std::uint64_t Le(std::string_view b, std::size_t at, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(b[at + i])) << (8 * i);
    return v;
}

bool RangeInside(std::uint64_t offset, std::uint64_t size, std::uint64_t total) {
    return offset <= total && size <= total - offset;
}

struct SectionHeader {
    std::uint32_t name;
    std::uint32_t type;
    std::uint64_t offset;
    std::uint64_t size;
    std::uint32_t link;
};

constexpr std::uint32_t kShtNobits = 8;
constexpr std::size_t kElfHeaderSize = 64;
constexpr std::size_t kSectionHeaderSize = 64;

bool ReadSectionHeader(Source& src, std::uint64_t at, SectionHeader* sh, std::string* error) {
    std::string b;
    if (!src.Read(at, kSectionHeaderSize, &b, error)) {
        *error = "section header outside the file";
        return false;
    }
    sh->name = static_cast<std::uint32_t>(Le(b, 0, 4));
    sh->type = static_cast<std::uint32_t>(Le(b, 4, 4));
    sh->offset = Le(b, 24, 8);
    sh->size = Le(b, 32, 8);
    sh->link = static_cast<std::uint32_t>(Le(b, 40, 4));
    return true;
}

// The bytes of the resource section of the ELF64 little-endian file behind `src`.
bool FindResourceSection(Source& src, std::string* section, std::string* error) {
    std::string eh;
    if (src.Size() < kElfHeaderSize || !src.Read(0, kElfHeaderSize, &eh, error)) {
        *error = "not an ELF file (too short)";
        return false;
    }
    if (eh.compare(0, 4,
                   "\x7f"
                   "ELF") != 0) {
        *error = "not an ELF file";
        return false;
    }
    if (eh[4] != 2 || eh[5] != 1) {
        *error = "not a 64-bit little-endian ELF file";
        return false;
    }
    std::uint64_t shoff = Le(eh, 0x28, 8);
    std::uint64_t shentsize = Le(eh, 0x3A, 2);
    std::uint64_t shnum = Le(eh, 0x3C, 2);
    std::uint64_t shstrndx = Le(eh, 0x3E, 2);
    if (shoff == 0) {
        *error = "the file has no section headers";
        return false;
    }
    if (shentsize < kSectionHeaderSize) {
        *error = "bad section header size";
        return false;
    }
    // Many sections: the real count and string-table index live in section header 0.
    if (shnum == 0 || shstrndx == 0xFFFF) {
        SectionHeader first;
        if (!ReadSectionHeader(src, shoff, &first, error)) return false;
        if (shnum == 0) shnum = first.size;
        if (shstrndx == 0xFFFF) shstrndx = first.link;
    }
    const std::uint64_t total = src.Size();
    if (shnum == 0 || shnum > total / shentsize || !RangeInside(shoff, shnum * shentsize, total)) {
        *error = "section header table outside the file";
        return false;
    }
    if (shstrndx >= shnum) {
        *error = "bad section name table index";
        return false;
    }
    SectionHeader names;
    if (!ReadSectionHeader(src, shoff + shstrndx * shentsize, &names, error)) return false;
    if (names.type == kShtNobits || !RangeInside(names.offset, names.size, total)) {
        *error = "section name table outside the file";
        return false;
    }
    std::string strtab;
    if (!src.Read(names.offset, static_cast<std::size_t>(names.size), &strtab, error)) return false;

    bool found = false;
    SectionHeader res{};
    for (std::uint64_t i = 0; i < shnum; ++i) {
        SectionHeader sh;
        if (!ReadSectionHeader(src, shoff + i * shentsize, &sh, error)) return false;
        if (sh.name >= strtab.size()) continue;  // nameless or damaged: not ours
        std::size_t end = strtab.find('\0', sh.name);
        if (end == std::string::npos) continue;
        if (std::string_view(strtab).substr(sh.name, end - sh.name) != kResourceSectionName)
            continue;
        if (found) {
            *error = std::string("more than one ") + kResourceSectionName + " section";
            return false;
        }
        found = true;
        res = sh;
    }
    if (!found) {
        *error = std::string("no resource section (") + kResourceSectionName + ")";
        return false;
    }
    if (res.type == kShtNobits || !RangeInside(res.offset, res.size, total)) {
        *error = "resource section outside the file";
        return false;
    }
    return src.Read(res.offset, static_cast<std::size_t>(res.size), section, error);
}

bool ReadFromSource(Source& src, std::vector<ResourceEntry>* out, std::string* error) {
    std::string section;
    if (!FindResourceSection(src, &section, error)) return false;
    return ParseResourceTable(section, out, error);
}

}  // namespace

// ---------------------------------------------------------------- resource table

std::string SerializeResourceTable(const std::vector<ResourceEntry>& entries) {
    lebytes::Writer w;
    w.Bytes(std::string_view(kTableMagic, kMagicSize));
    w.U32(static_cast<std::uint32_t>(entries.size()));
    std::uint64_t offset = kMagicSize + 4 + kEntrySize * entries.size();
    for (const ResourceEntry& e : entries) {
        w.U16(static_cast<std::uint16_t>(e.type));
        w.U16(e.id);
        w.U16(e.language);
        w.U16(0);
        if (offset + e.bytes.size() > 0xFFFFFFFFu) return {};  // does not fit the 32-bit offsets
        w.U32(static_cast<std::uint32_t>(offset));
        w.U32(static_cast<std::uint32_t>(e.bytes.size()));
        offset += e.bytes.size();
    }
    for (const ResourceEntry& e : entries) w.Bytes(e.bytes);
    return std::move(w.str());
}

bool ParseResourceTable(std::string_view table, std::vector<ResourceEntry>* out,
                        std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    lebytes::Reader r(table);
    if (r.Bytes(kMagicSize) != std::string_view(kTableMagic, kMagicSize)) {
        *error = "bad resource table signature";
        return false;
    }
    std::uint32_t count = r.U32();
    if (!r.ok() || !r.CanHold(count, kEntrySize)) {
        *error = "resource table truncated";
        return false;
    }
    std::vector<ResourceEntry> entries;
    entries.reserve(count);
    std::set<std::tuple<std::uint16_t, std::uint16_t, std::uint16_t>> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t type = r.U16();
        std::uint16_t id = r.U16();
        std::uint16_t language = r.U16();
        std::uint16_t reserved = r.U16();
        std::uint32_t offset = r.U32();
        std::uint32_t size = r.U32();
        if (!r.ok()) {
            *error = "resource table truncated";
            return false;
        }
        if (reserved != 0) {
            *error = "bad resource entry " + std::to_string(i);
            return false;
        }
        if (!RangeInside(offset, size, table.size())) {
            *error = "resource " + std::to_string(i) + " lies outside the table";
            return false;
        }
        if (!seen.insert({type, id, language}).second) {
            *error = "resource " + ResourceTypeName(static_cast<ResourceType>(type)) + " " +
                     std::to_string(id) + " appears twice";
            return false;
        }
        entries.push_back({static_cast<ResourceType>(type), id, language,
                           std::string(table.substr(offset, size))});
    }
    *out = std::move(entries);
    return true;
}

bool ReadResourcesFromImage(std::string_view image, std::vector<ResourceEntry>* out,
                            std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    MemorySource src(image);
    return ReadFromSource(src, out, error);
}

bool ReadModuleResources(const std::string& path, std::vector<ResourceEntry>* out,
                         std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO never blocks
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = false;
    std::string reason;
    if (::fstat(fd, &st) != 0) {
        reason = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        reason = "not a regular file";
    } else {
        FileSource src(fd, static_cast<std::uint64_t>(st.st_size));
        ok = ReadFromSource(src, out, &reason);
    }
    ::close(fd);
    if (!ok) *error = path + ": " + reason;
    return ok;
}

bool FindModuleResource(const std::string& path, ResourceType type, std::uint16_t id,
                        std::string* bytes, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    std::vector<ResourceEntry> entries;
    if (!ReadModuleResources(path, &entries, error)) return false;
    for (ResourceEntry& e : entries) {
        if (e.type == type && e.id == id) {
            if (bytes) *bytes = std::move(e.bytes);
            return true;
        }
    }
    *error = path + ": no resource " + ResourceTypeName(type) + " " + std::to_string(id);
    return false;
}

std::string ResourceTypeName(ResourceType type) {
    switch (type) {
        case ResourceType::Bitmap:
            return "BITMAP";
        case ResourceType::Icon:
            return "ICON";
        case ResourceType::Dialog:
            return "DIALOG";
        case ResourceType::String:
            return "STRING";
        case ResourceType::Version:
            return "VERSION";
        case ResourceType::TypeLib:
            return "TYPELIB";
    }
    return std::to_string(static_cast<unsigned>(type));
}

// ---------------------------------------------------------------- dialog templates

std::string SerializeDialogTemplate(const DialogTemplate& dialog) {
    lebytes::Writer w;
    w.U32(dialog.style);
    w.I16(dialog.x);
    w.I16(dialog.y);
    w.I16(dialog.cx);
    w.I16(dialog.cy);
    w.U16(dialog.pointSize);
    w.Str(dialog.caption);
    w.Str(dialog.fontName);
    w.Count16(dialog.items.size());
    for (const DialogItem& item : dialog.items) {
        w.U8(static_cast<std::uint8_t>(item.kind));
        w.I16(item.id);
        w.U32(item.style);
        w.I16(item.x);
        w.I16(item.y);
        w.I16(item.cx);
        w.I16(item.cy);
        w.Str(item.text);
    }
    if (w.failed()) return {};
    return std::move(w.str());
}

bool ParseDialogTemplate(const std::string& bytes, DialogTemplate* out) {
    lebytes::Reader r(bytes);
    DialogTemplate d;
    d.style = r.U32();
    d.x = r.I16();
    d.y = r.I16();
    d.cx = r.I16();
    d.cy = r.I16();
    d.pointSize = r.U16();
    d.caption = r.Str();
    d.fontName = r.Str();
    std::uint16_t count = r.U16();
    constexpr std::size_t kMinItemSize = 1 + 2 + 4 + 8 + 2;
    if (!r.CanHold(count, kMinItemSize)) return false;
    d.items.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        DialogItem item;
        std::uint8_t kind = r.U8();
        if (kind > static_cast<std::uint8_t>(DialogItem::Kind::Icon)) return false;
        item.kind = static_cast<DialogItem::Kind>(kind);
        item.id = r.I16();
        item.style = r.U32();
        item.x = r.I16();
        item.y = r.I16();
        item.cx = r.I16();
        item.cy = r.I16();
        item.text = r.Str();
        if (!r.ok()) return false;
        d.items.push_back(std::move(item));
    }
    if (!r.AtEnd()) return false;
    *out = std::move(d);
    return true;
}

// ---------------------------------------------------------------- version block

std::string SerializeVersionInfo(const VersionInfo& info) {
    lebytes::Writer w;
    for (std::uint16_t v : info.fileVersion) w.U16(v);
    for (std::uint16_t v : info.productVersion) w.U16(v);
    w.U32(info.fileOS);
    w.U32(info.fileType);
    w.U16(info.language);
    w.U16(info.codePage);
    w.Count16(info.strings.size());
    for (const auto& [key, value] : info.strings) {
        w.Str(key);
        w.Str(value);
    }
    if (w.failed()) return {};
    return std::move(w.str());
}

bool ParseVersionInfo(const std::string& bytes, VersionInfo* out) {
    lebytes::Reader r(bytes);
    VersionInfo v;
    for (std::uint16_t& x : v.fileVersion) x = r.U16();
    for (std::uint16_t& x : v.productVersion) x = r.U16();
    v.fileOS = r.U32();
    v.fileType = r.U32();
    v.language = r.U16();
    v.codePage = r.U16();
    std::uint16_t count = r.U16();
    if (!r.CanHold(count, 4)) return false;
    v.strings.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        std::string key = r.Str();
        std::string value = r.Str();
        if (!r.ok()) return false;
        v.strings.emplace_back(std::move(key), std::move(value));
    }
    if (!r.AtEnd()) return false;
    *out = std::move(v);
    return true;
}
