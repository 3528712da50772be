// A fresh directory of the test's own under $TMPDIR (or /tmp), made with a unique name, so that
// tests running side by side never share one; removed with its contents on destruction, by the
// process that made it only (a forked child that exits, as a death test does, leaves it).
#pragma once

#include <string>

namespace test_support {

class TempDir {
public:
    // `prefix` names the directory after its user ("panel-XXXXXX"); it is only a readable hint.
    explicit TempDir(const std::string& prefix = "lensbay-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }  // "" when none could be made
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    long owner_ = 0;  // the process that made it
};

}  // namespace test_support
