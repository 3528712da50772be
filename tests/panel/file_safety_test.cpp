// The image files against faults, with lensbay as a process: a full disk (a small tmpfs in a
// mount namespace of the test's own), signals in the middle of a capture loop, and a bmphead1
// that is a FIFO, a directory or a link.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "panel/bitmap_template.h"
#include "tests/panel/support.h"
#include "tests/support/process.h"

extern char** environ;

namespace panel_test {
namespace {

using test_support::Outcome;
using testing::HasSubstr;

const std::string kBin = LENSBAY_BIN_DIR;

std::vector<std::string> TemporariesIn(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().find(".tmp.") != std::string::npos)
            found.push_back(e.path().filename().string());
    return found;
}

class FileSafetyTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"lensbay", "regsvr", "PINBUS.OCX"})
            if (::access((kBin + "/" + program).c_str(), R_OK) != 0)
                GTEST_SKIP() << program << " not built";
        registry_ = dir_.path() + "/registry.reg";
        const Outcome o = test_support::RunProcess(test_support::Command(
            {kBin + "/regsvr", kBin + "/PINBUS.OCX"}, {{"OLE_REGISTRY", registry_}}));
        ASSERT_EQ(o.status, 0) << o.out << o.err;
        work_ = dir_.path() + "/work";
        ASSERT_EQ(::mkdir(work_.c_str(), 0755), 0);
    }
    std::map<std::string, std::string> Env() const {
        return {{"OLE_REGISTRY", registry_}, {"PORTIO", "sim"}, {"PORTIO_TRACE", ""}};
    }
    Outcome Lensbay(const std::string& input) {
        test_support::Command run({kBin + "/lensbay", "--console"}, Env(), input);
        run.cwd = work_;
        run.timeout_seconds = 30;
        return test_support::RunProcess(run);
    }
    std::string Read(const std::string& path) {
        std::string bytes;
        return ReadFile(path, &bytes) ? bytes : "<missing>";
    }
    TempDir dir_;
    std::string registry_, work_;
};

TEST_F(FileSafetyTest, HeaderTemplateThatIsNoFileIsRefusedWithoutHanging) {
    const std::string header = work_ + "/bmphead1";
    for (const std::string kind : {"fifo", "directory", "link to a fifo"}) {
        SCOPED_TRACE(kind);
        std::filesystem::remove_all(header);
        std::filesystem::remove(work_ + "/fifo");
        if (kind == "fifo") {
            ASSERT_EQ(::mkfifo(header.c_str(), 0644), 0);
        } else if (kind == "directory") {
            ASSERT_EQ(::mkdir(header.c_str(), 0755), 0);
        }
        if (kind == "link to a fifo") {
            ASSERT_EQ(::mkfifo((work_ + "/fifo").c_str(), 0644), 0);
            ASSERT_EQ(::symlink("fifo", header.c_str()), 0);
        }
        const Outcome o = Lensbay("press Capture\nquit\n");
        ASSERT_FALSE(o.timed_out);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_THAT(o.out, HasSubstr("box\tLensbay\tCan't create the header file.\n"));
    }
    // A link to a real template is followed: its palette is the bitmap's.
    std::filesystem::remove_all(header);
    std::string custom(panel::kDefaultBitmapHeader.begin(), panel::kDefaultBitmapHeader.end());
    custom[54 + 4 * 7] = '\x5a';  // blue of palette entry 7
    ASSERT_TRUE(test_support::WriteWholeFile(dir_.path() + "/mine.bmphead", custom));
    ASSERT_EQ(::symlink("../mine.bmphead", header.c_str()), 0);
    const Outcome o = Lensbay("press Capture\nquit\n");
    EXPECT_THAT(o.out, HasSubstr("monitor\t6144\t4608\tpicture"));
    const std::string bmp = Read(work_ + "/image.bmp");
    ASSERT_GT(bmp.size(), 60u);
    EXPECT_EQ(bmp[54 + 4 * 7], '\x5a');
}

// The unshare program, when it can mount a small tmpfs at `mnt` in a mount namespace of its own
// (a full disk for the tests below); else "" and the reason.
std::string UnshareForTmpfs(const std::string& mnt, std::string* why_not) {
    std::string unshare;
    for (const char* candidate : {"/usr/bin/unshare", "/bin/unshare"})
        if (unshare.empty() && ::access(candidate, X_OK) == 0) unshare = candidate;
    if (unshare.empty()) {
        *why_not = "no unshare program";
        return "";
    }
    const Outcome probe = test_support::RunProcess(test_support::Command(
        {unshare, "-m", "sh", "-c", "mount -t tmpfs -o size=64k tmpfs \"$1\"", "sh", mnt}));
    if (probe.status != 0) {
        *why_not = "cannot mount a tmpfs here: " + probe.err;
        return "";
    }
    return unshare;
}

// On a full disk a capture, a Save As and an unregistration fail with the reason and leave every
// earlier file whole and no temporary file. Needs a mount namespace (root, or a user namespace):
// skipped otherwise.
TEST_F(FileSafetyTest, FullDiskKeepsThePreviousFiles) {
    const std::string mnt = dir_.path() + "/mnt", good = dir_.path() + "/good",
                      after = dir_.path() + "/after";
    for (const std::string& d : {mnt, good, after}) ASSERT_EQ(::mkdir(d.c_str(), 0755), 0);
    std::string why_not;
    const std::string unshare = UnshareForTmpfs(mnt, &why_not);
    if (unshare.empty()) GTEST_SKIP() << why_not;

    const std::string script =
        "set -e\n"
        "mount -t tmpfs -o size=512k tmpfs \"$MNT\"\n"
        "cd \"$MNT\"\n"
        "printf 'press Capture\\ntext Text8 keep.bmp\\npress SaveAs\\nquit\\n' > \"$DIR/in\"\n"
        "\"$LENSBAY\" --console < \"$DIR/in\" > \"$DIR/out1\"\n"
        "cp image.raw image.bmp keep.bmp \"$GOOD/\"\n"
        "cp \"$OLE_REGISTRY\" registry.reg\n"
        "head -c 1048576 /dev/zero > filler 2>/dev/null || true\n"
        "\"$LENSBAY\" --console < \"$DIR/in\" > \"$DIR/out2\"\n"
        "if OLE_REGISTRY=\"$MNT/registry.reg\" \"$REGSVR\" -u \"$OCX\" > \"$DIR/out3\" 2>&1; then\n"
        "  exit 9\n"
        "fi\n"
        "cmp registry.reg \"$OLE_REGISTRY\"\n"
        "cp image.raw image.bmp keep.bmp \"$AFTER/\"\n"
        "ls -a > \"$DIR/listing\"\n";
    auto env = Env();
    env.insert({{"MNT", mnt},
                {"DIR", dir_.path()},
                {"GOOD", good},
                {"AFTER", after},
                {"LENSBAY", kBin + "/lensbay"},
                {"REGSVR", kBin + "/regsvr"},
                {"OCX", kBin + "/PINBUS.OCX"}});
    test_support::Command run({unshare, "-m", "sh", "-c", script}, env);
    run.timeout_seconds = 60;
    const Outcome o = test_support::RunProcess(run);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(Read(dir_.path() + "/out1"), HasSubstr("monitor\t6144\t4608\tpicture"));
    const std::string out2 = Read(dir_.path() + "/out2");
    EXPECT_THAT(out2, HasSubstr("box\tLensbay\tCan't write the .raw file: No space left on "
                                "device.\n"));
    EXPECT_THAT(out2, HasSubstr("box\tLensbay\tCan't write the .bmp file to save: No space left "
                                "on device.\n"));
    for (const char* name : {"image.raw", "image.bmp", "keep.bmp"}) {
        SCOPED_TRACE(name);
        const std::string before = Read(good + "/" + name);
        EXPECT_GT(before.size(), 100000u);
        EXPECT_TRUE(Read(after + "/" + name) == before);
    }
    EXPECT_THAT(Read(dir_.path() + "/listing"), testing::Not(HasSubstr(".tmp.")));
    // An unregistration on the full disk fails with the reason; the registry stays as it was
    // (the script compares it with its copy).
    EXPECT_THAT(Read(dir_.path() + "/out3"), HasSubstr("No space left on device"));
}

// The command line's outputs on a full disk: `capture -o` fails with the reason and keeps the
// earlier .png and .pgm whole, as the window's files are kept. Needs a mount namespace, as above.
TEST_F(FileSafetyTest, FullDiskKeepsTheCommandLinesEarlierOutputs) {
    const std::string mnt = dir_.path() + "/mnt", good = dir_.path() + "/good",
                      after = dir_.path() + "/after";
    for (const std::string& d : {mnt, good, after}) ASSERT_EQ(::mkdir(d.c_str(), 0755), 0);
    std::string why_not;
    const std::string unshare = UnshareForTmpfs(mnt, &why_not);
    if (unshare.empty()) GTEST_SKIP() << why_not;

    const std::string script =
        "set -e\n"
        "mount -t tmpfs -o size=512k tmpfs \"$MNT\"\n"
        "cd \"$MNT\"\n"
        "\"$LENSBAY\" capture -o x.png\n"
        "\"$LENSBAY\" capture -o x.pgm\n"
        "cp x.png x.pgm \"$GOOD/\"\n"
        "head -c 1048576 /dev/zero > filler 2>/dev/null || true\n"
        "for name in x.png x.pgm; do\n"
        "  if \"$LENSBAY\" capture -o $name >> \"$DIR/out\" 2>&1; then exit 9; fi\n"
        "done\n"
        "cp x.png x.pgm \"$AFTER/\" || true\n"
        "ls -a > \"$DIR/listing\"\n";
    auto env = Env();
    env.insert({{"MNT", mnt},
                {"DIR", dir_.path()},
                {"GOOD", good},
                {"AFTER", after},
                {"LENSBAY", kBin + "/lensbay"}});
    test_support::Command run({unshare, "-m", "sh", "-c", script}, env);
    run.timeout_seconds = 60;
    const Outcome o = test_support::RunProcess(run);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(Read(dir_.path() + "/out"), HasSubstr("/x.png\": No space left on device"));
    for (const char* name : {"x.png", "x.pgm"}) {
        SCOPED_TRACE(name);
        const std::string before = Read(good + "/" + name);
        EXPECT_GT(before.size(), 1000u);
        EXPECT_TRUE(Read(after + "/" + name) == before);
    }
    EXPECT_THAT(Read(dir_.path() + "/listing"), testing::Not(HasSubstr(".tmp.")));
}

// capture --count writes each frame's .pgm whole: one watched from outside never has another
// size than a whole frame's, and SIGTERM or SIGKILL at any moment (one sent the instant any other
// size shows) leaves every frame written whole. Temporary files go with SIGTERM.
TEST_F(FileSafetyTest, SignalsDuringACaptureCountLeaveWholeOutputs) {
    constexpr std::size_t kWhole = 15 + 384 * 288;  // "P5\n384 288\n255\n" and the pixels
    std::mt19937 random(5);
    for (const int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(sig);
        for (const auto& e : std::filesystem::directory_iterator(work_))
            std::filesystem::remove(e.path());
        // The capture's private folder goes into the test's own, which is removed with it.
        auto changes = Env();
        changes["TMPDIR"] = dir_.path();
        std::vector<std::string> envs;
        for (const auto& [k, v] : changes) envs.push_back(k + "=" + v);
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!changes.count(entry.substr(0, entry.find('=')))) envs.push_back(entry);
        }
        std::vector<char*> envp;
        for (auto& e : envs) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = {kBin + "/lensbay",    "capture", "--count", "40", "-o",
                                         work_ + "/f-%02d.pgm"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        // Watched until a frame from 2 to 6 is whole, a torn one shows, or the program ends.
        const int last = std::uniform_int_distribution<int>(2, 6)(random);
        bool torn = false, ended = false;
        int status = 0;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (int frame = 1; frame <= last && !torn && !ended;) {
            char name[32];
            std::snprintf(name, sizeof name, "/f-%02d.pgm", frame);
            struct stat st {};
            if (::stat((work_ + name).c_str(), &st) == 0) {
                if (static_cast<std::size_t>(st.st_size) != kWhole) {
                    torn = true;
                    break;
                }
                ++frame;
            }
            ended = ::waitpid(pid, &status, WNOHANG) == pid;
            if (std::chrono::steady_clock::now() > give_up) break;
        }
        if (!ended) {
            ::kill(pid, torn ? SIGKILL : sig);
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        }
        EXPECT_FALSE(torn) << "a frame was seen with another size than a whole one";
        EXPECT_FALSE(ended) << "the program ended early, status " << status;
        for (const auto& e : std::filesystem::directory_iterator(work_)) {
            const std::string name = e.path().filename().string();
            if (name.find(".tmp.") != std::string::npos) {
                EXPECT_EQ(sig, SIGKILL) << name;
                continue;
            }
            if (name.ends_with(".json")) {
                // Each picture's record is whole too.
                std::string record;
                ASSERT_TRUE(ReadFile(e.path().string(), &record)) << name;
                EXPECT_TRUE(record.starts_with("{\n") && record.ends_with("}\n")) << name;
                continue;
            }
            EXPECT_EQ(e.file_size(), kWhole) << name;
        }
    }
}

// Files the user may not write are refused with the messages of a failed open, and stay as they
// were, although the folder would let a rename replace them: image.raw and image.bmp of mode
// 0444, a Save As target of mode 0444 and one of another user. As root the program runs as
// "nobody" (root may write anything); where that cannot be done the test is skipped, except under
// CI, which must run it.
TEST_F(FileSafetyTest, FilesTheUserMayNotWriteAreRefusedUntouched) {
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(work_.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(registry_.c_str(), 0644), 0);
    auto run = [&](const std::string& input) {
        test_support::Command c({kBin + "/lensbay", "--console"}, Env(), input);
        c.cwd = work_;
        c.as_nobody = root;
        c.timeout_seconds = 30;
        return test_support::RunProcess(c);
    };
    Outcome o = run("press Capture\nquit\n");
    if (!o.started || (root && o.status != 0)) {
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") FAIL() << "cannot run as nobody under CI: " << o.err;
        GTEST_SKIP() << "cannot run as an unprivileged user: " << o.err;
    }
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string raw = work_ + "/image.raw", bmp = work_ + "/image.bmp";
    const std::string ro = work_ + "/ro.bmp", theirs = work_ + "/theirs.bmp";
    ASSERT_TRUE(test_support::WriteWholeFile(ro, "read-only"));
    ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
    if (root) {
        ASSERT_EQ(::chown(ro.c_str(), 65534, 65534), 0);  // the user's own, only read-only
        ASSERT_TRUE(test_support::WriteWholeFile(theirs, "root's"));  // root's, mode 0644
    }
    const std::string raw_before = Read(raw), bmp_before = Read(bmp);
    ASSERT_EQ(::chmod(raw.c_str(), 0444), 0);
    o =
        run("press Capture\ntext Text8 ro.bmp\npress SaveAs\ntext Text8 theirs.bmp\n"
            "press SaveAs\nquit\n");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("box\tLensbay\tCan't create the .raw file.\n"));
    const std::string refused = "box\tLensbay\tCan't open the .bmp file to save.\n";
    std::size_t boxes = 0;
    for (auto at = o.out.find(refused); at != std::string::npos; at = o.out.find(refused, at + 1))
        ++boxes;
    EXPECT_EQ(boxes, root ? 2u : 1u) << o.out;
    EXPECT_EQ(Read(raw), raw_before);
    EXPECT_EQ(Read(ro), "read-only");
    if (root) {
        EXPECT_EQ(Read(theirs), "root's");
    }
    struct stat st {};
    ASSERT_EQ(::stat(raw.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);

    ASSERT_EQ(::chmod(raw.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(bmp.c_str(), 0444), 0);
    o = run("press Capture\nquit\n");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("box\tLensbay\tCan't create the bmp file.\n"));
    EXPECT_EQ(Read(bmp), bmp_before);
    EXPECT_THAT(TemporariesIn(work_), testing::IsEmpty());
}

// Root may write any file, but a file with no write permission bit at all stays read-only for
// root as well: Lensbay run as root itself (not as "nobody", as above) refuses image.raw,
// image.bmp and a Save As target of mode 0444 with the messages of a failed open, and leaves
// each as it was. Without root there is nothing to show; under CI (root) it must run.
TEST_F(FileSafetyTest, FilesWithNoWriteBitAreReadOnlyForRootToo) {
    if (::geteuid() != 0) {
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") FAIL() << "CI runs the tests as root";
        GTEST_SKIP() << "only root can show that root is refused";
    }
    Outcome o = Lensbay("press Capture\nquit\n");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string raw = work_ + "/image.raw", bmp = work_ + "/image.bmp";
    const std::string ro = work_ + "/ro.bmp";
    ASSERT_TRUE(test_support::WriteWholeFile(ro, "read-only"));
    ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
    const std::string raw_before = Read(raw), bmp_before = Read(bmp);
    ASSERT_EQ(::chmod(raw.c_str(), 0444), 0);
    o = Lensbay("press Capture\ntext Text8 ro.bmp\npress SaveAs\nquit\n");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("box\tLensbay\tCan't create the .raw file.\n"));
    EXPECT_THAT(o.out, HasSubstr("box\tLensbay\tCan't open the .bmp file to save.\n"));
    EXPECT_EQ(Read(raw), raw_before);
    EXPECT_EQ(Read(ro), "read-only");

    ASSERT_EQ(::chmod(raw.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(bmp.c_str(), 0444), 0);
    o = Lensbay("press Capture\nquit\n");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("box\tLensbay\tCan't create the bmp file.\n"));
    EXPECT_EQ(Read(bmp), bmp_before);
    EXPECT_THAT(TemporariesIn(work_), testing::IsEmpty());
}

// SIGTERM, SIGINT or SIGKILL at a random moment of a capture-and-save loop: each image file is
// either absent (not written yet) or whole, byte for byte what a finished capture writes. The
// moments come from a fixed seed; any moment must pass.
TEST_F(FileSafetyTest, SignalsDuringACaptureLoopLeaveWholeFiles) {
    std::string loop;
    for (int i = 0; i < 8; ++i) loop += "press Capture\ntext Text8 copy.bmp\npress SaveAs\n";
    loop += "quit\n";
    ASSERT_TRUE(test_support::WriteWholeFile(dir_.path() + "/loop", loop));
    // A finished run gives the files to compare with, and the time a run takes.
    const auto start = std::chrono::steady_clock::now();
    const Outcome clean = Lensbay(loop);
    const long took = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
    ASSERT_EQ(clean.status, 0) << clean.err;
    std::map<std::string, std::string> whole;
    for (const char* name : {"image.raw", "image.bmp", "copy.bmp"}) {
        whole[name] = Read(work_ + "/" + name);
        ASSERT_GT(whole[name].size(), 100000u) << name;
    }

    std::mt19937 random(11);
    const int signals[] = {SIGKILL, SIGTERM, SIGINT};
    for (int i = 0; i < 9; ++i) {
        const int sig = signals[i % 3];
        SCOPED_TRACE("run " + std::to_string(i) + ", signal " + std::to_string(sig));
        for (const auto& [name, bytes] : whole) std::filesystem::remove(work_ + "/" + name);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string in = dir_.path() + "/loop";
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> envs;
        for (char** e = environ; *e; ++e) envs.emplace_back(*e);
        for (const auto& [k, v] : Env()) envs.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (auto& e : envs) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string program = kBin + "/lensbay", console = "--console";
        char* argv[] = {program.data(), console.data(), nullptr};
        const std::string here = std::filesystem::current_path();
        std::filesystem::current_path(work_);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data());
        std::filesystem::current_path(here);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(rc, 0);
        const long delay = std::uniform_int_distribution<long>(0, took)(random);
        const timespec pause{delay / 1000000, (delay % 1000000) * 1000};
        nanosleep(&pause, nullptr);
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        // Frames differ from capture to capture; their size and bitmap header do not.
        for (const auto& [name, bytes] : whole) {
            const std::string now = Read(work_ + "/" + name);
            if (now == "<missing>") continue;
            EXPECT_EQ(now.size(), bytes.size()) << name;
            if (name != "image.raw") {
                EXPECT_EQ(now.substr(0, panel::kBitmapHeaderSize),
                          bytes.substr(0, panel::kBitmapHeaderSize))
                    << name;
            }
        }
        // A signal the program can catch takes its temporary files with it.
        if (sig != SIGKILL) {
            const std::string mine = ".tmp." + std::to_string(pid) + ".";
            for (const std::string& name : TemporariesIn(work_))
                EXPECT_EQ(name.find(mine), std::string::npos) << name;
        }
    }
    // Whatever a killed run left is cleared by the next writes of those names.
    ASSERT_EQ(Lensbay(loop).status, 0);
    EXPECT_THAT(TemporariesIn(work_), testing::IsEmpty());
}

}  // namespace
}  // namespace panel_test
