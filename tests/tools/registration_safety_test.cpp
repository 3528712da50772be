// regsvr against faults: killed at random moments, racing itself, and pointed at a registry
// path that is a link or no file at all. The registry file must always read as it was before a
// registration or as it is after one.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/temp_registry.h"

extern char** environ;

namespace {
using test_support::TempRegistry;

#ifdef PINBUS_PATH
const std::string kRegsvr = REGSVR_PATH;
const std::string kPinbus = std::filesystem::canonical(PINBUS_PATH).string();

// Starts regsvr [-u] PINBUS.OCX with its output in files of the test's directory.
pid_t StartRegsvr(const TempRegistry& temp, bool unregister, int n) {
    const std::string out = temp.dir() + "/out." + std::to_string(n);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> args{kRegsvr};
    if (unregister) args.push_back("-u");
    args.push_back(kPinbus);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0);
    return rc == 0 ? pid : -1;
}

// Waits for a child, killing it after 60 s so that a hang fails rather than stalls the suite.
int Wait(pid_t pid) {
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
        if (waited == 60000) {
            ADD_FAILURE() << "regsvr hung; killed";
            kill(pid, SIGKILL);
        }
        usleep(10000);
    }
    return status;
}

int RunRegsvr(const TempRegistry& temp, bool unregister) {
    const int status = Wait(StartRegsvr(temp, unregister, 0));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RegistrationSafety : public testing::Test {
protected:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // Someone else's class, which no registration of ours may lose.
        temp_.Replace("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Other.Class]\n@=\"theirs\"\n\n");
        states_.insert(temp_.Read());
        ASSERT_EQ(RunRegsvr(temp_, false), 0);
        registered_ = temp_.Read();
        ASSERT_EQ(RunRegsvr(temp_, true), 0);
        unregistered_ = temp_.Read();
        ASSERT_EQ(RunRegsvr(temp_, false), 0);
        ASSERT_EQ(temp_.Read(), registered_);
        states_.insert(registered_);
        states_.insert(unregistered_);
        ASSERT_NE(registered_.find("Other.Class"), std::string::npos);
        ASSERT_NE(unregistered_.find("Other.Class"), std::string::npos);
        ASSERT_EQ(unregistered_.find("PINBUS"), std::string::npos);
    }
    TempRegistry temp_;
    std::set<std::string> states_;  // every whole state the file may be in
    std::string registered_, unregistered_;
};

TEST_F(RegistrationSafety, KilledAtAnyMomentLeavesBeforeOrAfter) {
    // How long one registration takes here, to spread the kills over it.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunRegsvr(temp_, true), 0);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    std::mt19937 random(20261208);  // the same moments on every run of the test
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        const bool unregister = i % 2 == 1;
        const pid_t pid = StartRegsvr(temp_, unregister, 0);
        ASSERT_GT(pid, 0);
        const long delay = std::uniform_int_distribution<long>(0, took * 5 / 4)(random);
        const timespec pause{delay / 1000000, (delay % 1000000) * 1000};
        nanosleep(&pause, nullptr);
        kill(pid, SIGKILL);
        Wait(pid);
        const std::string now = temp_.Read();
        ASSERT_TRUE(states_.count(now)) << "a half-written registry:\n" << now;
    }
    // The next registration clears whatever a killed one left behind, even when it changes
    // nothing (the server is registered already).
    ASSERT_EQ(RunRegsvr(temp_, false), 0);
    { std::ofstream(temp_.path() + ".tmp.1.abcdef") << "left by a killed writer"; }
    ASSERT_EQ(RunRegsvr(temp_, false), 0);
    EXPECT_EQ(temp_.Read(), registered_);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(temp_.dir()))
        if (e.path().filename().string().find(".tmp.") != std::string::npos)
            left.push_back(e.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(RegistrationSafety, RacingRegistrationsAndUnregistrationsKeepEveryEntry) {
    for (int round = 0; round < 2; ++round) {
        std::vector<pid_t> pids;
        for (int n = 0; n < 10; ++n) pids.push_back(StartRegsvr(temp_, n % 2 == 1, n));
        for (std::size_t n = 0; n < pids.size(); ++n) {
            // An unregistration that finds the server already unregistered says so (the type
            // library is not registered); nothing else may fail.
            const int status = Wait(pids[n]);
            std::ifstream log(temp_.dir() + "/out." + std::to_string(n));
            std::stringstream out;
            out << log.rdbuf();
            const bool refused =
                n % 2 == 1 && out.str().find("failed (0x80040200)") != std::string::npos;
            EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || refused)) << out.str();
        }
        const std::string now = temp_.Read();
        EXPECT_TRUE(now == registered_ || now == unregistered_) << now;
    }
}

TEST_F(RegistrationSafety, RegistryPathThatIsALinkOrNoFile) {
    // A link: followed, its target replaced, the link kept.
    const std::string target = temp_.dir() + "/kept.reg";
    std::filesystem::rename(temp_.path(), target);
    ASSERT_EQ(symlink("kept.reg", temp_.path().c_str()), 0);
    ASSERT_EQ(RunRegsvr(temp_, true), 0);
    struct stat st {};
    ASSERT_EQ(lstat(temp_.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(temp_.Read(), unregistered_);
    // A FIFO: refused at once, named, nothing written.
    ASSERT_EQ(unlink(temp_.path().c_str()), 0);
    ASSERT_EQ(mkfifo(temp_.path().c_str(), 0644), 0);
    ASSERT_EQ(RunRegsvr(temp_, false), 1);
    std::ifstream in(temp_.dir() + "/out.0");
    std::stringstream out;
    out << in.rdbuf();
    EXPECT_NE(out.str().find(temp_.path() + " is not a regular file"), std::string::npos)
        << out.str();
    ASSERT_EQ(lstat(temp_.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Whether a child of this process can be kept from writing a folder: as root it runs as
// nobody; otherwise this process must hold no capability that passes over file permissions.
bool CanRunWithoutWriteAccess(bool* as_nobody) {
    *as_nobody = ::geteuid() == 0;
    if (*as_nobody) return true;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("CapEff:", 0) == 0) return line.find_first_not_of("0\t ", 7) == line.npos;
    }
    return false;
}

TEST_F(RegistrationSafety, ARegistryThatCannotBeWrittenTakesNothingAndSaysTheTypeLibrary) {
    bool as_nobody = false;
    if (!CanRunWithoutWriteAccess(&as_nobody)) GTEST_SKIP() << "cannot drop write access";
    auto regsvr = [&](bool unregister, bool unprivileged) {
        std::vector<std::string> args{kRegsvr};
        if (unregister) args.push_back("-u");
        args.push_back(kPinbus);
        test_support::Command c(args, {{"OLE_REGISTRY", temp_.path()}});
        c.as_nobody = unprivileged && as_nobody;
        return test_support::RunProcess(c);
    };
    // The folder can be read, and no file can be made in it: the registry cannot be replaced.
    auto writable = [&](bool yes) {
        ASSERT_EQ(::chmod(temp_.dir().c_str(), yes ? 0777 : 0555), 0);
    };
    for (const bool unregister : {true, false}) {
        SCOPED_TRACE(unregister ? "unregister" : "register");
        const std::string before = unregister ? registered_ : unregistered_;
        ASSERT_EQ(regsvr(!unregister, false).status, 0);
        ASSERT_EQ(temp_.Read(), before);
        writable(false);
        const test_support::Outcome o = regsvr(unregister, true);
        writable(true);
        EXPECT_EQ(o.status, 1) << o.out << o.err;
        EXPECT_THAT(o.out, testing::HasSubstr("failed (0x80040200)")) << o.err;
        EXPECT_EQ(temp_.Read(), before);
    }
    writable(true);
}

TEST(RegsvrInput, ServerThatIsAFifoIsRefusedWithoutHanging) {
    TempRegistry temp;
    const std::string fifo = temp.dir() + "/SERVER.OCX";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string out = temp.dir() + "/out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string program = kRegsvr, path = fifo;
    char* argv[] = {program.data(), path.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    const int status = Wait(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("not a regular file"), std::string::npos) << text.str();
}
#endif

}  // namespace
