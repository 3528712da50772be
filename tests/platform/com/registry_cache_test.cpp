// The registry kept between reads: what makes a kept tree stale, and writers in other processes
// whose changes the next read must see however they write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/com/reg_cache.h"
#include "platform/com/registry.h"
#include "tests/support/temp_dir.h"
#include "tests/support/temp_registry.h"

namespace {

using test_support::TempRegistry;

struct stat Stamp(ino_t ino, off_t size, time_t mtime, time_t ctime, long ctimeNs = 0) {
    struct stat st;
    std::memset(&st, 0, sizeof st);
    st.st_dev = 1;
    st.st_ino = ino;
    st.st_size = size;
    st.st_mtim.tv_sec = mtime;
    st.st_ctim.tv_sec = ctime;
    st.st_ctim.tv_nsec = ctimeNs;
    return st;
}

bool WriteNew(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && ok;
}

TEST(RegistryFileMemory, WhatMakesTheKeptTreeStale) {
    reg::FileMemory m;
    const struct stat old = Stamp(7, 100, 1000, 1000);
    EXPECT_FALSE(m.Fresh("/r", old));  // nothing known yet
    m.Remember("/r", old, "text", 1000 + reg::FileMemory::kRacySeconds);
    EXPECT_TRUE(m.Fresh("/r", old));
    EXPECT_FALSE(m.Fresh("/other", old));
    // Each part of the stamp counts; the status change alone too (a writer that put the
    // modification time back cannot put that back).
    EXPECT_FALSE(m.Fresh("/r", Stamp(8, 100, 1000, 1000)));
    EXPECT_FALSE(m.Fresh("/r", Stamp(7, 101, 1000, 1000)));
    EXPECT_FALSE(m.Fresh("/r", Stamp(7, 100, 1001, 1000)));
    EXPECT_FALSE(m.Fresh("/r", Stamp(7, 100, 1000, 1000, 1)));
    EXPECT_TRUE(m.SameText("/r", "text"));
    EXPECT_FALSE(m.SameText("/r", "texT"));
    EXPECT_FALSE(m.SameText("/other", "text"));

    // Read too soon after its last change (by either time), a file is read again next time.
    m.Remember("/r", old, "text", 1000 + reg::FileMemory::kRacySeconds - 1);
    EXPECT_FALSE(m.Fresh("/r", old));
    const struct stat touched = Stamp(7, 100, 1000, 5000);
    m.Remember("/r", touched, "text", 5000);
    EXPECT_FALSE(m.Fresh("/r", touched));

    m.Forget();
    EXPECT_FALSE(m.SameText("/r", "text"));
}

// A file read again and again into one buffer: the memory keeps each new text, and the buffer
// it hands back is the one the previous text was in.
TEST(RegistryFileMemory, ReadsIntoOneBufferKeepTheLatestText) {
    reg::FileMemory m;
    const struct stat st = Stamp(7, 5, 1000, 1000);
    std::string buffer = "first";
    m.Remember("/r", st, &buffer, 1000);
    EXPECT_TRUE(m.SameText("/r", "first"));
    EXPECT_EQ(m.text(), "first");
    EXPECT_TRUE(buffer.empty());
    buffer = "second";
    m.Remember("/r", Stamp(7, 6, 1001, 1001), &buffer, 1001);
    EXPECT_TRUE(m.SameText("/r", "second"));
    EXPECT_FALSE(m.SameText("/r", "first"));
    EXPECT_EQ(buffer, "first");
    EXPECT_FALSE(m.Fresh("/r", Stamp(7, 6, 1001, 1001)));  // just changed: read again
}

// No file, and a file this process just wrote: both are looked at again by the next read, the
// written one's text still spares the parse when it comes back unchanged.
TEST(RegistryFileMemory, NoFileAndOwnWritesAreLookedAtAgain) {
    reg::FileMemory m;
    const struct stat st = Stamp(7, 100, 1000, 1000);
    m.RememberAbsent("/r");
    EXPECT_TRUE(m.Absent("/r"));
    EXPECT_FALSE(m.Absent("/other"));
    EXPECT_EQ(m.stamp(), reg::FileStamp{});
    EXPECT_FALSE(m.Fresh("/r", st));
    m.Remember("/r", st, "text", 1000 + reg::FileMemory::kRacySeconds);
    EXPECT_FALSE(m.Absent("/r"));
    EXPECT_EQ(m.stamp(), reg::FileStamp::Of(st));
    m.Doubt();
    EXPECT_FALSE(m.Fresh("/r", st));
    EXPECT_TRUE(m.SameText("/r", "text"));
    m.Forget();
    EXPECT_FALSE(m.Absent("/r"));
    EXPECT_EQ(m.stamp(), reg::FileStamp{});
}

// A batch's commit asks whether the file is still the one it read under its lock.
TEST(RegistryFileStamp, StillAtTheFileItWasTakenFrom) {
    test_support::TempDir dir;
    const std::string path = dir.File("registry.reg");
    EXPECT_TRUE(reg::FileStamp{}.StillAt(path));  // no file, still none
    ASSERT_TRUE(WriteNew(path, "one"));
    EXPECT_FALSE(reg::FileStamp{}.StillAt(path));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const reg::FileStamp stamp = reg::FileStamp::Of(st);
    EXPECT_TRUE(stamp.StillAt(path));
    // The same bytes renamed into place are another file.
    ASSERT_TRUE(WriteNew(dir.File("next"), "one"));
    ASSERT_EQ(rename(dir.File("next").c_str(), path.c_str()), 0);
    EXPECT_FALSE(stamp.StillAt(path));
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_FALSE(stamp.StillAt(path));
    // Not a regular file: never the one read.
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_FALSE(reg::FileStamp::Of(st).StillAt(path));
    rmdir(path.c_str());
}

std::string Probe() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "Probe", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    char data[64] = {};
    DWORD size = sizeof data - 1;
    LSTATUS st =
        RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return st == ERROR_SUCCESS ? std::string(data) : "<no value>";
}

std::string ProbeText(const char* value) {
    return std::string("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Probe]\n@=\"") + value + "\"\n\n";
}

// Runs `write` in a child process; true when it reported success.
bool InAnotherProcess(const std::function<bool()>& write) {
    const pid_t pid = fork();
    if (pid == 0) _exit(write() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool WriteInPlace(const std::string& path, const std::string& text, bool keepTimes) {
    struct stat before;
    if (stat(path.c_str(), &before) != 0) return false;
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0) return false;
    bool ok = pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    if (keepTimes) {
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ok = futimens(fd, times) == 0 && ok;
    }
    return close(fd) == 0 && ok;
}

TEST(RegistryCache, ChangesByAnotherProcessAreSeenByTheNextRead) {
    TempRegistry registry;
    registry.Replace(ProbeText("aaaa"));
    ASSERT_EQ(Probe(), "aaaa");
    ASSERT_EQ(Probe(), "aaaa");  // from the kept tree or a re-read; either way the same

    // Same size, written in place, modification time put back.
    ASSERT_TRUE(
        InAnotherProcess([&] { return WriteInPlace(registry.path(), ProbeText("bbbb"), true); }));
    EXPECT_EQ(Probe(), "bbbb");
    // Same size, a new file renamed into place.
    ASSERT_TRUE(InAnotherProcess([&] {
        registry.Replace(ProbeText("cccc"));
        return true;
    }));
    EXPECT_EQ(Probe(), "cccc");
    // Another size; then a text that does not parse, then one that does again.
    ASSERT_TRUE(
        InAnotherProcess([&] { return WriteInPlace(registry.path(), ProbeText("ddddd"), false); }));
    EXPECT_EQ(Probe(), "ddddd");
    ASSERT_TRUE(
        InAnotherProcess([&] { return WriteInPlace(registry.path(), "REGEDIT5\n", false); }));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Probe", 0, KEY_READ, &key), ERROR_BADDB);
    ASSERT_TRUE(InAnotherProcess([&] {
        registry.Replace(ProbeText("eeee"));
        return true;
    }));
    EXPECT_EQ(Probe(), "eeee");
    // Removed: an empty registry.
    ASSERT_TRUE(InAnotherProcess([&] { return unlink(registry.path().c_str()) == 0; }));
    EXPECT_EQ(Probe(), "<no key>");
}

// A change of this process, then one of another, between two reads.
TEST(RegistryCache, OwnChangesThenAnotherProcesssAreSeen) {
    TempRegistry registry;
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Probe", REG_SZ, "mine", 0), ERROR_SUCCESS);
    EXPECT_EQ(Probe(), "mine");
    ASSERT_TRUE(
        InAnotherProcess([&] { return WriteInPlace(registry.path(), ProbeText("othr"), true); }));
    EXPECT_EQ(Probe(), "othr");
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Probe", REG_SZ, "mine", 0), ERROR_SUCCESS);
    EXPECT_EQ(Probe(), "mine");
}

}  // namespace
