// Module file lookup: finds the resource section of a module's ELF file (64-bit, or 32-bit as the
// i386 build's modules are), read as data without loading the module, and parses the resource
// table it holds.
#include "platform/com/module_resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// ---------------------------------------------------------------- ELF section lookup
// Only the fields we need, read through a Source so that a file is never read whole: the module
// may be large while the resource section is small.

class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t Size() const = 0;
    // Exactly `n` bytes at `offset`, or why not.
    virtual base::Result<std::string> Read(std::uint64_t offset, std::size_t n) = 0;
};

class MemorySource : public Source {
public:
    explicit MemorySource(std::string_view data) : data_(data) {}
    std::uint64_t Size() const override { return data_.size(); }
    base::Result<std::string> Read(std::uint64_t offset, std::size_t n) override {
        if (offset > data_.size() || n > data_.size() - offset)
            return base::Fail("read past the end of the file");
        return std::string(data_.substr(static_cast<std::size_t>(offset), n));
    }

private:
    std::string_view data_;
};

class FileSource : public Source {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    base::Result<std::string> Read(std::uint64_t offset, std::size_t n) override {
        if (offset > size_ || n > size_ - offset)
            return base::Fail("read past the end of the file");
        std::string out(n, '\0');
        std::size_t done = 0;
        while (done < n) {
            ssize_t got =
                ::pread(fd_, out.data() + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return base::Fail(std::string("read failed: ") + std::strerror(errno));
            if (got == 0) return base::Fail("file shrank while being read");
            done += static_cast<std::size_t>(got);
        }
        return out;
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

// Where the two classes of ELF file keep the fields read here: the file header's section-table
// fields and a section header's, with their widths.
struct ElfClass {
    std::size_t headerSize;
    std::size_t shoff, shentsize, shnum, shstrndx;  // in the file header
    std::size_t sectionHeaderSize;
    std::size_t offset, size, link;  // in a section header
    std::size_t width;               // of an address or offset
};
constexpr ElfClass kElf64{64, 0x28, 0x3A, 0x3C, 0x3E, 64, 24, 32, 40, 8};
constexpr ElfClass kElf32{52, 0x20, 0x2E, 0x30, 0x32, 40, 16, 20, 24, 4};

base::Result<SectionHeader> ReadSectionHeader(Source& src, const ElfClass& elf, std::uint64_t at) {
    auto read = src.Read(at, elf.sectionHeaderSize);
    if (!read) return base::Fail("section header outside the file");
    const std::string& b = *read;
    SectionHeader sh;
    sh.name = static_cast<std::uint32_t>(Le(b, 0, 4));
    sh.type = static_cast<std::uint32_t>(Le(b, 4, 4));
    sh.offset = Le(b, elf.offset, elf.width);
    sh.size = Le(b, elf.size, elf.width);
    sh.link = static_cast<std::uint32_t>(Le(b, elf.link, 4));
    return sh;
}

// The bytes of the resource section of the little-endian ELF file (64- or 32-bit) behind `src`.
base::Result<std::string> FindResourceSection(Source& src) {
    if (src.Size() < kElf32.headerSize) return base::Fail("not an ELF file (too short)");
    auto ident = src.Read(0, kElf32.headerSize);
    if (!ident) return base::Fail("not an ELF file (too short)");
    if (ident->compare(0, 4,
                       "\x7f"
                       "ELF") != 0)
        return base::Fail("not an ELF file");
    if ((*ident)[5] != 1 || ((*ident)[4] != 1 && (*ident)[4] != 2))
        return base::Fail("not a 64-bit or 32-bit little-endian ELF file");
    const ElfClass& elf = (*ident)[4] == 2 ? kElf64 : kElf32;
    auto header = src.Read(0, elf.headerSize);
    if (!header) return base::Fail("not an ELF file (too short)");
    const std::string& eh = *header;
    std::uint64_t shoff = Le(eh, elf.shoff, elf.width);
    std::uint64_t shentsize = Le(eh, elf.shentsize, 2);
    std::uint64_t shnum = Le(eh, elf.shnum, 2);
    std::uint64_t shstrndx = Le(eh, elf.shstrndx, 2);
    if (shoff == 0) return base::Fail("the file has no section headers");
    if (shentsize < elf.sectionHeaderSize) return base::Fail("bad section header size");
    // Many sections: the real count and string-table index live in section header 0.
    if (shnum == 0 || shstrndx == 0xFFFF) {
        auto first = ReadSectionHeader(src, elf, shoff);
        if (!first) return first.error();
        if (shnum == 0) shnum = first->size;
        if (shstrndx == 0xFFFF) shstrndx = first->link;
    }
    const std::uint64_t total = src.Size();
    if (shnum == 0 || shnum > total / shentsize || !RangeInside(shoff, shnum * shentsize, total))
        return base::Fail("section header table outside the file");
    if (shstrndx >= shnum) return base::Fail("bad section name table index");
    auto names = ReadSectionHeader(src, elf, shoff + shstrndx * shentsize);
    if (!names) return names.error();
    if (names->type == kShtNobits || !RangeInside(names->offset, names->size, total))
        return base::Fail("section name table outside the file");
    auto strtabRead = src.Read(names->offset, static_cast<std::size_t>(names->size));
    if (!strtabRead) return strtabRead.error();
    const std::string& strtab = *strtabRead;

    bool found = false;
    SectionHeader res{};
    for (std::uint64_t i = 0; i < shnum; ++i) {
        auto read = ReadSectionHeader(src, elf, shoff + i * shentsize);
        if (!read) return read.error();
        const SectionHeader& sh = *read;
        if (sh.name >= strtab.size()) continue;  // nameless or damaged: not ours
        std::size_t end = strtab.find('\0', sh.name);
        if (end == std::string::npos) continue;
        if (std::string_view(strtab).substr(sh.name, end - sh.name) != kResourceSectionName)
            continue;
        if (found)
            return base::Fail(std::string("more than one ") + kResourceSectionName + " section");
        found = true;
        res = sh;
    }
    if (!found)
        return base::Fail(std::string("no resource section (") + kResourceSectionName + ")");
    if (res.type == kShtNobits || !RangeInside(res.offset, res.size, total))
        return base::Fail("resource section outside the file");
    return src.Read(res.offset, static_cast<std::size_t>(res.size));
}

base::Result<std::vector<ResourceEntry>> ReadFromSource(Source& src) {
    auto section = FindResourceSection(src);
    if (!section) return section.error();
    return ParseResourceTable(*section);
}

}  // namespace

base::Result<std::vector<ResourceEntry>> ReadResourcesFromImage(std::string_view image) {
    MemorySource src(image);
    return ReadFromSource(src);
}

base::Result<std::vector<ResourceEntry>> ReadModuleResources(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO never blocks
    if (fd < 0) return base::FailSystem(path + ": " + std::strerror(errno), errno);
    struct stat st;
    base::Result<std::vector<ResourceEntry>> read = base::Fail("");
    if (::fstat(fd, &st) != 0) {
        read = base::FailSystem(std::strerror(errno), errno);
    } else if (!S_ISREG(st.st_mode)) {
        read = base::Fail("not a regular file");
    } else {
        FileSource src(fd, static_cast<std::uint64_t>(st.st_size));
        read = ReadFromSource(src);
    }
    ::close(fd);
    if (!read) return read.error().Reworded(path + ": " + read.message());
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
