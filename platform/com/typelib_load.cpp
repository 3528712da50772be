// Loading type libraries: from a bare type-library file, from a module's TYPELIB resource, or from
// bytes in memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "platform/com/error_text.h"
#include "platform/com/module_resources.h"
#include "platform/com/typelib.h"
#include "platform/com/typelib_format.h"
#include "platform/com/typelib_objects.h"
#include "platform/com/utf.h"

namespace {

// A bare type-library file is read whole; no library of ours comes near this size.
constexpr std::size_t kMaxBareFileSize = 64u << 20;

// The file's bytes when it is a bare type library; no bytes when it is something else.
base::Result<std::optional<std::string>> ReadBareLibrary(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO never blocks
    if (fd < 0) return base::Fail(path + ": " + std::strerror(errno));
    struct stat st;
    base::Result<std::optional<std::string>> read = std::optional<std::string>();
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        read = base::Fail(path + ": not a regular file");
    } else if (st.st_size >= static_cast<off_t>(typelib::kTypeLibMagicSize)) {
        char magic[typelib::kTypeLibMagicSize];
        ssize_t got = ::pread(fd, magic, sizeof magic, 0);
        if (got == static_cast<ssize_t>(sizeof magic) &&
            std::memcmp(magic, typelib::kTypeLibMagic, sizeof magic) == 0) {
            if (static_cast<std::uint64_t>(st.st_size) > kMaxBareFileSize) {
                read = base::Fail(path + ": type library file too large");
            } else {
                std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
                std::size_t done = 0;
                bool ok = true;
                while (ok && done < bytes.size()) {
                    ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done,
                                        static_cast<off_t>(done));
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0)
                        ok = false;
                    else
                        done += static_cast<std::size_t>(n);
                }
                if (ok)
                    read = std::optional<std::string>(std::move(bytes));
                else
                    read = base::Fail(path + ": read failed");
            }
        } else if (got < 0) {
            read = base::Fail(path + ": " + std::strerror(errno));
        }
    }
    ::close(fd);
    return read;
}

HRESULT LoadFromBytes(const std::string& bytes, const std::string& where, ITypeLib** pptlib) {
    auto parsed = typelib::ParseTypeLibrary(bytes);
    if (!parsed) {
        const std::string& error = parsed.message();
        const bool unsupported = error.rfind("unsupported", 0) == 0;
        return FailWithText(unsupported ? TYPE_E_UNSUPFORMAT : TYPE_E_INVDATAREAD,
                            where.empty() ? error : where + ": " + error);
    }
    *pptlib = typelib::NewTypeLibObject(std::move(*parsed));
    return S_OK;
}

}  // namespace

HRESULT LoadTypeLibFromMemory(const std::string& bytes, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    return LoadFromBytes(bytes, "", pptlib);
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile || !*szFile) return FailWithText(E_INVALIDARG, "no file name");
    const std::string path = OleToUtf8(szFile);
    auto bare = ReadBareLibrary(path);
    if (!bare) return FailWithText(TYPE_E_CANTLOADLIBRARY, bare.message());
    std::string bytes;
    if (*bare) {
        bytes = std::move(**bare);
    } else {
        auto found = FindModuleResource(path, ResourceType::TypeLib, 1);
        if (!found) return FailWithText(TYPE_E_CANTLOADLIBRARY, found.message());
        bytes = std::move(*found);
    }
    return LoadFromBytes(bytes, path, pptlib);
}
