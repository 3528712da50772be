// Module file lookup: finds the resource section of a module's ELF64 file, read as data without
// loading the module, and parses the resource table it holds.
#include "platform/com/module_resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

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

base::Result<std::vector<ResourceEntry>> ReadFromSource(Source& src) {
    std::string section, error;
    if (!FindResourceSection(src, &section, &error)) return base::Fail(std::move(error));
    return ParseResourceTable(section);
}

}  // namespace

base::Result<std::vector<ResourceEntry>> ReadResourcesFromImage(std::string_view image) {
    MemorySource src(image);
    return ReadFromSource(src);
}

base::Result<std::vector<ResourceEntry>> ReadModuleResources(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO never blocks
    if (fd < 0) return base::Fail(path + ": " + std::strerror(errno), errno);
    struct stat st;
    base::Result<std::vector<ResourceEntry>> read = base::Fail("");
    if (::fstat(fd, &st) != 0) {
        read = base::Fail(std::strerror(errno), errno);
    } else if (!S_ISREG(st.st_mode)) {
        read = base::Fail("not a regular file");
    } else {
        FileSource src(fd, static_cast<std::uint64_t>(st.st_size));
        read = ReadFromSource(src);
    }
    ::close(fd);
    if (!read) return base::Fail(path + ": " + read.message(), read.error().code);
    return read;
}

base::Result<std::string> FindModuleResource(const std::string& path, ResourceType type,
                                             std::uint16_t id) {
    auto entries = ReadModuleResources(path);
    if (!entries) return entries.error();
    for (ResourceEntry& e : *entries)
        if (e.type == type && e.id == id) return std::move(e.bytes);
    return base::Fail(path + ": no resource " + ResourceTypeName(type) + " " + std::to_string(id));
}
