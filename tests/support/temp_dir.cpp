#include "tests/support/temp_dir.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace test_support {

TempDir::TempDir(const std::string& prefix) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
    owner_ = static_cast<long>(::getpid());
}

TempDir::~TempDir() {
    if (path_.empty() || static_cast<long>(::getpid()) != owner_) return;
    std::error_code ec;
    // Folders a test made read-only must be writable again to be emptied.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ec)) {
        if (entry.is_directory(ec))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

}  // namespace test_support
