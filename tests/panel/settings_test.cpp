// The panel's settings by name: the command line's KEY=VALUE and a settings file's
// `key = value` take and refuse exactly the same values, numbers as Set Register converts them.
#include "panel/settings.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "panel/settings_file.h"
#include "tests/support/temp_dir.h"

namespace {

using testing::HasSubstr;

// The same setting given both ways; both must agree, and on success hold the same text.
struct Both {
    base::Result<panel::Settings> line, file;
};
Both Parse(const std::string& key, const std::string& value) {
    return {panel::ParseAssignments({key + "=" + value}),
            panel::ParseSettings(key + " = " + value + "\n", "s.cfg")};
}

TEST(Settings, OneRuleOnTheCommandLineAndInAFile) {
    struct Case {
        const char* key;
        const char* value;
        const char* taken;  // the field's text or the option's item, null when refused
    };
    const Case cases[] = {
        {"mirror", "ON", "0"},       // option words in any case
        {"mode", "Outdoor", "1"},    //
        {"gamma", " 1.0\t", "1"},    // blanks around a value
        {"exposure", "40 ", "40"},   // kept without them
        {"exposure", "\t 7", "7"},   //
        {"exposure", "300", "300"},  // beyond the label's range: written as its low byte
        {"exposure", "-1", "-1"},    //
        {"gain", "2.5", "2.5"},      // an integer field rounds
        {"divider", "3.5", "3.5"},   //
        {"exposure", "2147483647", "2147483647"},
        {"exposure", "2147483648", nullptr},  // past the 32-bit integer conversion
        {"exposure", "99999999999999999999", nullptr},
        {"divider", "3e9", nullptr},    // 3e9 - 1 does not fit a 32-bit integer
        {"h_start", "2e8", nullptr},    // 2e8 * 16 does not either
        {"h_start", "1e8", "1e8"},      // 1.6e9 does
        {"v_start", "1e400", nullptr},  // no double at all
        {"h_end", "", nullptr},
        {"gain", "5 5", nullptr},
        {"mirror", "maybe", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = [" + c.value + "]");
        const Both b = Parse(c.key, c.value);
        ASSERT_EQ(b.line.ok(), c.taken != nullptr) << (b.line.ok() ? "" : b.line.message());
        ASSERT_EQ(b.file.ok(), c.taken != nullptr) << (b.file.ok() ? "" : b.file.message());
        if (!c.taken) {
            EXPECT_EQ(b.file.message(), "s.cfg:1: " + b.line.message());
            continue;
        }
        const panel::SettingKey& k = *panel::FindSettingKey(c.key);
        if (k.field != 0) {
            EXPECT_EQ(b.line->fields[k.field], c.taken);
            EXPECT_EQ(b.file->fields[k.field], c.taken);
        } else {
            EXPECT_EQ(b.line->options[k.group], std::stoi(c.taken));
            EXPECT_EQ(b.file->options[k.group], std::stoi(c.taken));
        }
    }
    EXPECT_EQ(Parse("exposure", "99999999999999999999").line.message(),
              "exposure: \"99999999999999999999\" is out of range");
    EXPECT_EQ(Parse("divider", "3e9").line.message(), "divider: \"3e9\" is out of range");
    EXPECT_EQ(Parse("mirror", "maybe").line.message(), "mirror: \"maybe\" is neither on nor off");
}

TEST(Settings, AByteOrderMarkIsSkippedOnceAndShownWhereItDoesNotBelong) {
    const std::string bom = "\xEF\xBB\xBF";
    base::Result<panel::Settings> s = panel::ParseSettings(bom + "exposure = 40\r\n", "s.cfg");
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s->fields[1], "40");
    s = panel::ParseSettings(bom + bom + "exposure = 40\n", "s.cfg");
    ASSERT_FALSE(s.ok());
    EXPECT_THAT(s.message(), HasSubstr("s.cfg:1: unknown key \"\\xef\\xbb\\xbfexposure\""));
    // A control character in a value is no number and is shown, never sent to a terminal.
    EXPECT_EQ(panel::ParseAssignments({"gain=1\x1b[2J"}).message(),
              "gain: \"1\\x1b[2J\" is not a number");

    // And from the disk, as load-settings reads it.
    test_support::TempDir dir;
    { std::ofstream(dir.File("bom.txt"), std::ios::binary) << bom << "mirror = ON\n"; }
    s = panel::LoadSettingsFile(dir.File("bom.txt"));
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s->options[2], 0);
}

// A settings file's size is known before a byte is read: a 3 GB sparse file is refused at once,
// in a process whose address space could not even hold it.
TEST(Settings, AFileTooLargeIsRefusedBeforeItIsRead) {
    test_support::TempDir dir;
    const std::string huge = dir.File("huge.txt");
    const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);
    ::close(fd);
    const std::string said = "\"" + huge + "\": too large for a settings file (3221225472 bytes)";
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_EXIT(
        {
            // Room for what the program has mapped and 256 MB more.
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const rlim_t room = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (256 << 20);
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = room;
            if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
            const auto s = panel::LoadSettingsFile(huge);
            std::_Exit(!s.ok() && s.message() == said ? 7 : 1);
        },
        ::testing::ExitedWithCode(7), "");
#endif
    const auto s = panel::LoadSettingsFile(huge);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.message(), said);
}

TEST(Settings, SavedAsTheyLoad) {
    panel::FormState state;
    state.text[1] = "5 ";                    // blanks around a number: saved without them
    state.text[2] = "99999999999999999999";  // a number Set Register cannot convert
    state.text[3] = "3e9";                   // nor this one, once the 1 is taken off
    state.text[4] = "\t2";
    const std::string text = panel::FormatSettings(state);
    EXPECT_THAT(text, HasSubstr("\nexposure = 5\n"));
    EXPECT_THAT(text, HasSubstr("\n# gain: the field holds no number, not saved\n"));
    EXPECT_THAT(text, HasSubstr("\n# divider: the field holds no number, not saved\n"));
    EXPECT_THAT(text, HasSubstr("\nh_start = 2\n"));
    const base::Result<panel::Settings> s = panel::ParseSettings(text, "saved");
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s->fields[1], "5");
    EXPECT_FALSE(s->fields[2].has_value());
    EXPECT_FALSE(s->fields[3].has_value());
    EXPECT_EQ(s->fields[4], "2");
    // The file lists every key of the one table, in its order.
    std::size_t at = 0;
    for (const panel::SettingKey& k : panel::kSettingKeys) {
        const auto found = text.find(std::string(k.key) + (k.field ? "" : " = "), at);
        ASSERT_NE(found, std::string::npos) << k.key;
        at = found;
    }
}

}  // namespace
