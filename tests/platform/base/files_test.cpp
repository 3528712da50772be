// Whole-file replacement and non-blocking reads: what a failure, a signal or an odd path leaves.
#include "platform/base/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class AtomicFileTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "lensbay-af-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string At(const std::string& name) const { return dir_ + "/" + name; }
    std::string Read(const std::string& name) const {
        std::ifstream in(At(name), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Put(const std::string& name, const std::string& text) const {
        std::ofstream(At(name), std::ios::binary) << text;
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string dir_;
};

std::vector<std::string> g_steps;
int RecordStep(const char* step) {
    g_steps.push_back(step);
    return 0;
}

// A replacement flushes its folder after its rename; inside a group the folder is flushed once,
// when the group ends, after every rename made in it.
TEST_F(AtomicFileTest, AFolderFlushGroupFlushesEachFolderOnceAfterItsRenames) {
    std::filesystem::create_directory(At("sub"));
    g_steps.clear();
    base::SetAtomicWriteHookForTesting(RecordStep);
    ASSERT_TRUE(base::AtomicWriteFile(At("alone"), "a"));
    EXPECT_EQ(g_steps,
              (std::vector<std::string>{"open-temp", "write", "fsync", "rename", "flush-folder"}));
    g_steps.clear();
    {
        base::FolderFlushGroup group;
        ASSERT_TRUE(base::AtomicWriteFile(At("image.raw"), "raw"));
        ASSERT_TRUE(base::AtomicWriteFile(At("image.bmp"), "bmp"));
        ASSERT_TRUE(base::AtomicWriteFile(At("sub/image.json"), "{}"));
        EXPECT_EQ(std::count(g_steps.begin(), g_steps.end(), "flush-folder"), 0);
        // Each file is in place (and whole) before any flush.
        EXPECT_EQ(Read("image.bmp"), "bmp");
        EXPECT_EQ(Read("sub/image.json"), "{}");
    }
    base::SetAtomicWriteHookForTesting(nullptr);
    EXPECT_EQ(std::count(g_steps.begin(), g_steps.end(), "rename"), 3);
    EXPECT_EQ(std::count(g_steps.begin(), g_steps.end(), "flush-folder"), 2);  // dir and sub
    EXPECT_EQ(std::vector<std::string>(g_steps.end() - 2, g_steps.end()),
              (std::vector<std::string>{"flush-folder", "flush-folder"}));
    EXPECT_EQ(base::FolderFlushGroup::Current(), nullptr);
}

TEST_F(AtomicFileTest, EveryFailingStepLeavesThePreviousFileAndNoTemporary) {
    Put("image.raw", "previous");
    for (const char* failing : {"open-temp", "write", "fsync", "rename"}) {
        SCOPED_TRACE(failing);
        static const char* s_failing;
        s_failing = failing;
        base::AtomicWriteOptions options;
        options.hook = [](const char* step) { return std::strcmp(step, s_failing) ? 0 : ENOSPC; };
        base::Result<> r = base::AtomicWriteFile(At("image.raw"), "new content", options);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().errno_value, ENOSPC);
        EXPECT_NE(r.message().find("No space left on device"), std::string::npos) << r.message();
        EXPECT_EQ(Read("image.raw"), "previous");
        EXPECT_EQ(Files(), std::vector<std::string>{"image.raw"});
    }
    ASSERT_TRUE(base::AtomicWriteFile(At("image.raw"), "new content"));
    EXPECT_EQ(Read("image.raw"), "new content");
}

TEST_F(AtomicFileTest, LinksAreFollowedModeAndOwnerKept) {
    ASSERT_EQ(mkdir(At("real").c_str(), 0755), 0);
    Put("real/keep.bmp", "old");
    ASSERT_EQ(chmod(At("real/keep.bmp").c_str(), 0604), 0);
    ASSERT_EQ(symlink("real/keep.bmp", At("link.bmp").c_str()), 0);  // relative to its folder
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(At("real/keep.bmp").c_str(), 4321, 4322), 0);
    }
    ASSERT_TRUE(base::AtomicWriteFile(At("link.bmp"), "new"));
    struct stat st {};
    ASSERT_EQ(lstat(At("link.bmp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Read("real/keep.bmp"), "new");
    ASSERT_EQ(stat(At("real/keep.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
    // A file with a second hard link is replaced under the name written; the other name keeps
    // the old content.
    ASSERT_EQ(link(At("real/keep.bmp").c_str(), At("hard.bmp").c_str()), 0);
    ASSERT_TRUE(base::AtomicWriteFile(At("real/keep.bmp"), "newer"));
    EXPECT_EQ(Read("real/keep.bmp"), "newer");
    EXPECT_EQ(Read("hard.bmp"), "new");
    // A dangling link makes its target; a loop of links is refused.
    ASSERT_EQ(symlink("made.bmp", At("dangling").c_str()), 0);
    ASSERT_TRUE(base::AtomicWriteFile(At("dangling"), "x"));
    EXPECT_EQ(Read("made.bmp"), "x");
    ASSERT_EQ(symlink("loop2", At("loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", At("loop2").c_str()), 0);
    base::Result<> r = base::AtomicWriteFile(At("loop1"), "x");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().errno_value, ELOOP);
}

// A file with no write permission bit is read-only for everyone, root included (whose access
// check always passes): refused as an open for writing, and left as it was.
TEST_F(AtomicFileTest, AFileNobodyMayWriteIsRefusedForRootToo) {
    for (const mode_t mode : {0444, 0000}) {
        SCOPED_TRACE(mode);
        Put("image.raw", "kept");
        ASSERT_EQ(chmod(At("image.raw").c_str(), mode), 0);
        const base::Result<> r = base::AtomicWriteFile(At("image.raw"), "new");
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().errno_value, EACCES);
        ASSERT_EQ(chmod(At("image.raw").c_str(), 0644), 0);
        EXPECT_EQ(Read("image.raw"), "kept");
        EXPECT_EQ(Files(), std::vector<std::string>{"image.raw"});
    }
    // One write bit is enough for its owner.
    ASSERT_EQ(chmod(At("image.raw").c_str(), 0200), 0);
    EXPECT_TRUE(base::AtomicWriteFile(At("image.raw"), "new"));
}

// A name at the longest the folder takes can be replaced: the temporary file's name keeps to the
// same limit.
TEST_F(AtomicFileTest, TheLongestNameCanBeReplaced) {
    const std::string name = std::string(254, 'n') + "\xc3\xa9";  // 256 bytes: too long
    ASSERT_FALSE(base::AtomicWriteFile(At(name), "x"));
    const std::string longest = name.substr(0, 255 - 2) + "\xc3\xa9";
    ASSERT_TRUE(base::AtomicWriteFile(At(longest), "first")) << "255 bytes";
    ASSERT_TRUE(base::AtomicWriteFile(At(longest), "second"));
    EXPECT_EQ(Read(longest), "second");
    EXPECT_EQ(Files(), std::vector<std::string>{longest});
}

// A file another user could redirect is written with links refused, not followed; a file meant
// to last no longer than the machine's power skips the flushes.
TEST_F(AtomicFileTest, LinksCanBeRefusedAndFlushesLeftOut) {
    Put("target", "theirs");
    ASSERT_EQ(symlink("target", At("state").c_str()), 0);
    base::AtomicWriteOptions options;
    options.follow_links = false;
    options.durable = false;
    options.hook = RecordStep;
    g_steps.clear();
    base::Result<> r = base::AtomicWriteFile(At("state"), "ours", options);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().errno_value, ELOOP);
    EXPECT_EQ(Read("target"), "theirs");
    ASSERT_EQ(unlink(At("state").c_str()), 0);
    ASSERT_TRUE(base::AtomicWriteFile(At("state"), "ours", options));
    EXPECT_EQ(Read("state"), "ours");
    EXPECT_EQ(g_steps, (std::vector<std::string>{"open-temp", "write", "rename"}));
}

TEST_F(AtomicFileTest, NonRegularTargetsAreRefusedUntouched) {
    ASSERT_EQ(mkfifo(At("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(At("dir").c_str(), 0755), 0);
    ASSERT_EQ(symlink("fifo", At("to-fifo").c_str()), 0);
    for (const char* name : {"fifo", "dir", "to-fifo", ""}) {
        SCOPED_TRACE(name);
        base::Result<> r = base::AtomicWriteFile(*name ? At(name) : std::string(), "x");
        ASSERT_FALSE(r);
        if (*name) {
            const std::string kind = *name == 'd' ? "directory" : "FIFO";
            EXPECT_NE(r.message().find(" is a " + kind + ", not a regular file"), std::string::npos)
                << r.message();
        }
    }
    struct stat st {};
    ASSERT_EQ(lstat(At("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Files(), (std::vector<std::string>{"dir", "fifo", "to-fifo"}));
    // Reading: refused at once rather than waiting for a writer.
    for (const char* name : {"fifo", "dir", "to-fifo"}) {
        base::Result<std::string> read = base::ReadRegularFile(At(name));
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().errno_value, EINVAL);
        EXPECT_NE(read.message().find(", not a regular file"), std::string::npos);
    }
    EXPECT_EQ(base::ReadRegularFile(At("missing")).error().errno_value, ENOENT);
    Put("file", "0123456789");
    EXPECT_EQ(*base::ReadRegularFile(At("file"), 4), "0123");
    EXPECT_EQ(*base::ReadRegularFile(At("file")), "0123456789");
}

// A process ended by SIGTERM in the middle of a write, or SIGKILLed there: the previous file
// stays; the terminated one leaves no temporary file, the killed one's is removed by the next
// replacement of that name (and only that name).
TEST_F(AtomicFileTest, SignalsMidWriteLeaveThePreviousFile) {
    Put("image.bmp", "previous");
    for (int sig : {SIGTERM, SIGINT, SIGKILL}) {
        SCOPED_TRACE(sig);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            static int s_sig;
            s_sig = sig;
            base::AtomicWriteOptions options;
            options.hook = [](const char* step) {
                if (std::strcmp(step, "fsync") == 0) kill(getpid(), s_sig);
                return 0;
            };
            (void)base::AtomicWriteFile(At("image.bmp"), std::string(100000, 'n'), options);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(Read("image.bmp"), "previous");
        EXPECT_EQ(Files().size(), sig == SIGKILL ? 2u : 1u);
    }
    Put("other.bmp.tmp.999999999.abcdef", "not ours to remove");  // no such process either
    ASSERT_TRUE(base::AtomicWriteFile(At("image.bmp"), "next"));
    EXPECT_EQ(Files(), (std::vector<std::string>{"image.bmp", "other.bmp.tmp.999999999.abcdef"}));
    EXPECT_EQ(Read("image.bmp"), "next");
    // The temporary file of a live process is not an orphan.
    const std::string live = "image.bmp.tmp." + std::to_string(getppid()) + ".abcdef";
    Put(live, "in the making");
    ASSERT_TRUE(base::AtomicWriteFile(At("image.bmp"), "again"));
    EXPECT_EQ(Read(live), "in the making");
}

}  // namespace
