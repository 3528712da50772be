// The record of what Lensbay's programs wrote to the board: its file's exact lines and refusals,
// where it lives for each backend, a kept record that survives damage, links and FIFOs, and the
// status built from it beside the simulated board's own registers.
#include "panel/board_record.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "panel/chip_status.h"
#include "platform/base/files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using panel::ChipRegister;
using panel::RegisterRecord;
using testing::HasSubstr;

RegisterRecord::Clock::time_point At(long long ms) {
    return RegisterRecord::Clock::time_point(std::chrono::milliseconds(ms));
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(BoardRecord, LinesAreExactAndReadBackAsWritten) {
    RegisterRecord r;
    r.SetWriter("lensbay set");
    r.Written(ChipRegister::kExctl, 0x28, At(1767225600123));
    r.SetWriter("lensbaysrc in\tpython3\n\xc2\x9b\xff");  // nor C1 nor non-UTF-8 bytes
    r.Written(ChipRegister::kVwctl, 0xff, At(5));
    const std::string text = panel::FormatBoardRecord(r);
    EXPECT_EQ(text,
              "lensbay-register-record 1\n"
              "register EXCTL 28 1767225600123 lensbay set\n"
              "register VWCTL ff 5 lensbaysrc in?python3???\n");
    const base::Result<RegisterRecord> back = panel::ParseBoardRecord(text);
    ASSERT_TRUE(back) << back.message();
    EXPECT_EQ(panel::FormatBoardRecord(*back), text);
    EXPECT_EQ(back->Get(ChipRegister::kExctl).by, "lensbay set");
    EXPECT_EQ(back->Get(ChipRegister::kGctl).state, RegisterRecord::Entry::kUnknown);

    r.SetWriter("lensbay reset");
    r.Reset(At(7));
    EXPECT_THAT(panel::FormatBoardRecord(r),
                HasSubstr("\nregister FCTL default 7 lensbay reset\n"));
    EXPECT_EQ(r.Holds(ChipRegister::kExctl), 64);  // the chip's reset value
    r.Clear();
    EXPECT_EQ(panel::FormatBoardRecord(r), "lensbay-register-record 1\n");
}

TEST(BoardRecord, AnythingElseIsRefusedNamingTheLine) {
    const std::string head = "lensbay-register-record 1\n";
    const std::pair<std::string, std::string> bad[] = {
        {"lensbay-register-record 2\n", "line 1: not a register record"},
        {head + "register EXCTL 28 1 a\nregister EXCTL 29 2 b\n", "line 3: EXCTL given twice"},
        {head + "register EXCTL 2A 1 a\n", "line 2: bad value for EXCTL"},  // lower case only
        {head + "register EXCTL 128 1 a\n", "line 2: bad value for EXCTL"},
        {head + "register VPORT 00 1 a\n", "line 2: unknown register \"VPORT\""},
        {head + "register GCTL 01 -5 a\n", "line 2: bad time"},
        {head + "register GCTL 01 17667225600123 a\n", "line 2: bad time"},  // past the clock
        {head + "register GCTL 01 5\n", "line 2: five fields expected"},
        {head + "register GCTL 01 5 a", "line 2: the last line is cut"},
        {head + "value GCTL 01 5 a\n", "line 2: \"register\" expected"},
        {head + "register GCTL 01 5 " + std::string(101, 'w') + "\n", "line 2: bad writer"},
        // A writer's name that would drive a terminal: a C1 control, a byte that is not UTF-8.
        {head + "register GCTL 01 5 evil\xc2\x9b"
                "2J\n",
         "line 2: bad writer"},
        {head + "register GCTL 01 5 evil\xff\n", "line 2: bad writer"},
    };
    for (const auto& [text, message] : bad) {
        const base::Result<RegisterRecord> r = panel::ParseBoardRecord(text);
        ASSERT_FALSE(r) << text;
        EXPECT_THAT(r.message(), testing::StartsWith(message)) << text;
    }
}

// Beside the port's lock: the simulated board's state file, or the lock folder of a real port.
TEST(BoardRecord, LivesBesideThePortsLock) {
    test_support::TempDir dir;
    ScopedEnv state("LENSBAY_SIM_STATE", dir.File("bench-board"));
    ScopedEnv locks("LENSBAY_LOCK_DIR", dir.path());
    {
        ScopedEnv sim("PORTIO", "sim");
        EXPECT_EQ(panel::BoardRecordPath(), dir.File("bench-board.registers"));
    }
    ScopedEnv direct("PORTIO", "direct");
    EXPECT_EQ(panel::BoardRecordPath(), dir.File("lensbay-port-0x378.registers"));
}

TEST(BoardRecord, AKeptRecordSurvivesDamageAndNeverWritesThroughALink) {
    test_support::TempDir dir;
    const std::string path = dir.File("board.registers");
    EXPECT_EQ(panel::LoadBoardRecord(path)->Get(ChipRegister::kFctl).state,
              RegisterRecord::Entry::kUnknown);  // missing: nothing written since power-on

    ASSERT_TRUE(test_support::WriteWholeFile(path, "garbage\n"));
    EXPECT_THAT(panel::LoadBoardRecord(path).message(),
                HasSubstr("board.registers\" is damaged (line 1: not a register record"));
    {
        panel::KeptBoardRecord kept(path, "lensbay set");  // says so once and starts afresh
        EXPECT_EQ(kept.Record().Get(ChipRegister::kExctl).state, RegisterRecord::Entry::kUnknown);
        kept.Record().Written(ChipRegister::kGctl, 3, At(9));
    }
    std::string text;
    ASSERT_TRUE(test_support::ReadWholeFile(path, &text));
    EXPECT_EQ(text, "lensbay-register-record 1\nregister GCTL 03 9 lensbay set\n");

    // A link put in its place is neither read nor written through.
    const std::string elsewhere = dir.File("elsewhere");
    ASSERT_TRUE(test_support::WriteWholeFile(elsewhere, text));
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), path.c_str()), 0);
    EXPECT_THAT(panel::LoadBoardRecord(path).message(), HasSubstr("a symbolic link, not followed"));
    {
        panel::KeptBoardRecord kept(path, "lensbay set");
        kept.Record().Written(ChipRegister::kGctl, 4, At(10));
    }
    ASSERT_TRUE(test_support::ReadWholeFile(elsewhere, &text));
    EXPECT_THAT(text, HasSubstr("register GCTL 03 9"));
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // refused at once, never waited on
    EXPECT_THAT(panel::LoadBoardRecord(path).message(), HasSubstr("not a regular file"));
}

// Beside a machine-wide lock the record lies in a sticky folder every user may write, where a
// rename could not replace another user's file: root's record is one a user's program adds to.
TEST(BoardRecord, RootAndAUserKeepOneRecordInAStickyFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
    test_support::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
    const std::string path = dir.File("lensbay-port-0x378.registers");
    RegisterRecord record;
    record.SetWriter("lensbay set");
    record.Written(ChipRegister::kGctl, 3, At(9));
    ASSERT_TRUE(panel::SaveBoardRecord(path, record));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);

    record.Written(ChipRegister::kExctl, 40, At(10));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool nobody = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                            ::setresuid(65534, 65534, 65534) == 0;
        ::_exit(nobody && panel::SaveBoardRecord(path, record) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const base::Result<RegisterRecord> kept = panel::LoadBoardRecord(path);
    ASSERT_TRUE(kept) << kept.message();
    EXPECT_EQ(kept->Holds(ChipRegister::kExctl), std::optional<std::uint8_t>(40));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);  // added to, not replaced

    // A file with another name elsewhere is not written into: the record is replaced under its
    // own name.
    ASSERT_EQ(::link(path.c_str(), dir.File("other-name").c_str()), 0);
    ASSERT_TRUE(panel::SaveBoardRecord(path, RegisterRecord{}));
    std::string other;
    ASSERT_TRUE(test_support::ReadWholeFile(dir.File("other-name"), &other));
    EXPECT_THAT(other, HasSubstr("register EXCTL 28"));
}

// A mirror carries each change of a session's record to the board's, under the board record's
// own writer; the status decodes each control and marks the board that holds another value.
TEST(ChipStatus, ControlsDecodedAndABoardThatDisagreesMarked) {
    RegisterRecord board_record, session;
    board_record.SetWriter("lensbay window");
    session.Mirror(&board_record);
    session.Written(ChipRegister::kMctl, 0xF0, At(0));
    session.Written(ChipRegister::kHwctl, 0x4C, At(0));
    session.Written(ChipRegister::kFrctl, 49, At(0));
    EXPECT_EQ(board_record.Get(ChipRegister::kMctl).by, "lensbay window");

    const panel::ChipStatus s = panel::BuildChipStatus(board_record, "sim", "", true, nullptr);
    std::map<std::string, std::string> written;
    for (const panel::ControlStatus& c : s.controls) written[c.name] = panel::WrittenText(s, c);
    EXPECT_EQ(written["gamma"], "0.45");
    EXPECT_EQ(written["mode"], "indoor");
    EXPECT_EQ(written["backlight"], "on");
    EXPECT_EQ(written["h_start"], "4");
    EXPECT_EQ(written["h_end"], "12");
    EXPECT_EQ(written["divider"], "50");
    EXPECT_EQ(written["exposure"], "not written since power-on");
    EXPECT_EQ(written["reset"], "not written since power-on");
    EXPECT_EQ(
        panel::WrittenText(panel::BuildChipStatus(board_record, "direct", "x", false, nullptr),
                           s.controls[0]),
        "not written since the record began");
    const std::string json = panel::FormatStatusJson(s);
    EXPECT_THAT(json, HasSubstr("{\"name\": \"gamma\", \"register\": \"MCTL\", \"address\": "
                                "\"0101\", \"range\": [\"0.45\", \"1.0\"], \"default\": \"1.0\", "
                                "\"written\": {\"value\": \"0.45\", \"reset\": false, \"time\": "
                                "\"1970-01-01T00:00:00Z\", \"by\": \"lensbay window\"}, \"board\": "
                                "null, \"differs\": false}"));
    EXPECT_THAT(json, HasSubstr("\"record\": null"));
    // Numbers as numbers: the range, the default and the values of a number control.
    EXPECT_THAT(json, HasSubstr("{\"name\": \"divider\", \"register\": \"FRCTL\", \"address\": "
                                "\"0100\", \"range\": {\"min\": 1, \"max\": 128, \"step\": 1, "
                                "\"default\": 1}, \"default\": 1, \"written\": {\"value\": 50, "));
    EXPECT_THAT(json,
                HasSubstr("\"range\": {\"min\": 0, \"max\": 15, \"step\": 1, \"default\": 0}, "
                          "\"unit\": \"blocks\", \"default\": 0, \"written\": {\"value\": 4, "));
    EXPECT_THAT(json, HasSubstr("{\"name\": \"reset\", \"register\": \"FCTL\", \"address\": "
                                "\"0001\", \"range\": null, \"default\": null, \"written\": null"));
}

// Another program (any user who may open the record) holding its lock makes nobody wait: the
// record is read and replaced whole without the lock. Where only an in-place rewrite is allowed
// (another user's record in a sticky folder) a held lock is given up on after a short while,
// saying so; a record that cannot be used is said once as it is and the run is not recorded.
// A process that holds the record's lock (opened for reading only) until Release.
class LockHolder {
public:
    explicit LockHolder(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(done_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(done_[1]);
            const int fd = ::open(path.c_str(), O_RDONLY);  // read access is enough for a lock
            char c = 'x';
            if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(ready[1], &c, 1) != 1) ::_exit(1);
            ::_exit(::read(done_[0], &c, 1) == 0 ? 0 : 1);  // holds it until released
        }
        ::close(done_[0]);
        char c;
        held_ = pid_ > 0 && ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
        ::close(ready[1]);
    }
    bool held() const { return held_; }
    // Lets go; true when the holder ended well.
    bool Release() {
        ::close(done_[1]);
        int status = 0;
        return ::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    int done_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool held_ = false;
};

// Another program (any user who may open the record) holding its lock makes nobody wait: the
// record is read and replaced whole without the lock. Where only an in-place rewrite is allowed
// (another user's record in a sticky folder) a held lock is given up on after a short while,
// saying so; a record that cannot be used is said once as it is and the run is not recorded.
TEST(BoardRecord, AHeldLockMakesNobodyWaitAndProblemsAreSaidAsTheyAre) {
    test_support::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
    const std::string path = dir.File("lensbay-port-0x378.registers");
    RegisterRecord record;
    record.SetWriter("lensbay set");
    record.Written(ChipRegister::kGctl, 3, At(9));
    ASSERT_TRUE(panel::SaveBoardRecord(path, record));
    {
        LockHolder holder(path);
        ASSERT_TRUE(holder.held());
        // Not waited on: read and replaced at once.
        base::Result<RegisterRecord> kept = panel::LoadBoardRecord(path);
        ASSERT_TRUE(kept) << kept.message();
        EXPECT_EQ(kept->Holds(ChipRegister::kGctl), std::optional<std::uint8_t>(3));
        record.Written(ChipRegister::kExctl, 40, At(10));
        ASSERT_TRUE(panel::SaveBoardRecord(path, record));
        EXPECT_EQ(panel::LoadBoardRecord(path)->Holds(ChipRegister::kExctl),
                  std::optional<std::uint8_t>(40));
        EXPECT_TRUE(holder.Release());
    }
    if (::geteuid() == 0) {
        // Another user may not replace root's record in the sticky folder: it rewrites it in
        // place, and gives up on the lock a holder keeps (after at most 200 ms).
        LockHolder holder(path);
        ASSERT_TRUE(holder.held());
        const pid_t user = ::fork();
        ASSERT_GE(user, 0);
        if (user == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                ::setresuid(65534, 65534, 65534) != 0)
                ::_exit(2);
            const base::Result<> saved = panel::SaveBoardRecord(path, RegisterRecord{});
            const bool said = !saved && saved.message().find(
                                            "cannot be written: another program "
                                            "holds its lock") != std::string::npos;
            ::_exit(said ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(user, &status, 0), user);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(holder.Release());
    }

    // A link in the record's place: said once, as it is, and nothing is written anywhere.
    const std::string link = dir.File("link.registers");
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    testing::internal::CaptureStderr();
    {
        panel::KeptBoardRecord linked(link, "lensbay set");
        EXPECT_EQ(linked.Path(), "");
        linked.Record().Written(ChipRegister::kGctl, 5, At(11));
        linked.Flush();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "lensbay: the register record \"" + link +
                  "\" is a symbolic link, not followed: this run is not recorded\n");
    EXPECT_EQ(panel::LoadBoardRecord(path)->Holds(ChipRegister::kGctl),
              std::optional<std::uint8_t>(3));
}

// The record is written once the sequence is over (Flush), not at each register's strobe, and
// when the program ends.
TEST(BoardRecord, AKeptRecordIsWrittenWhenFlushedNotAtEachChange) {
    test_support::TempDir dir;
    const std::string path = dir.File("board.registers");
    {
        panel::KeptBoardRecord kept(path, "lensbay set");
        kept.Record().Written(ChipRegister::kGctl, 3, At(9));
        kept.Record().Written(ChipRegister::kExctl, 40, At(9));
        EXPECT_FALSE(base::ReadRegularFile(path).ok());  // nothing yet, mid-sequence
        kept.Flush();
        EXPECT_EQ(panel::LoadBoardRecord(path)->Holds(ChipRegister::kExctl),
                  std::optional<std::uint8_t>(40));
        kept.Record().Written(ChipRegister::kExctl, 41, At(10));
    }
    EXPECT_EQ(panel::LoadBoardRecord(path)->Holds(ChipRegister::kExctl),
              std::optional<std::uint8_t>(41));
}

// Names another program or user gave reach a terminal escaped and the JSON stays valid: a C1
// control is escaped in both, a byte that is not UTF-8 becomes U+FFFD in the JSON.
TEST(ChipStatus, NamesFromOutsideAreEscapedInTheTableAndTheJson) {
    RegisterRecord record;
    record.Put(ChipRegister::kGctl, {RegisterRecord::Entry::kValue, 3, At(0), "evil\xc2\x9b"});
    panel::ChipStatus s =
        panel::BuildChipStatus(record, "sim", "/tmp/r\xc2\x9b\xff", true, nullptr);
    s.record_problem = "the register record is damaged";
    const std::string text = panel::FormatStatusText(s);
    EXPECT_THAT(text, HasSubstr("kept in /tmp/r\\xc2\\x9b\\xff.\n"));
    EXPECT_THAT(text, HasSubstr("evil\\xc2\\x9b"));
    EXPECT_THAT(text, HasSubstr("The record cannot be read: the register record is damaged\n"));
    const std::string json = panel::FormatStatusJson(s);
    EXPECT_THAT(json, HasSubstr("\"record\": \"/tmp/r\\u009b\\ufffd\""));
    EXPECT_THAT(json, HasSubstr("\"by\": \"evil\\\\xc2\\\\x9b\""));
    EXPECT_THAT(json, HasSubstr("\"record_problem\": \"the register record is damaged\""));
    EXPECT_EQ(json.find("\xc2\x9b"), std::string::npos);
}

}  // namespace
