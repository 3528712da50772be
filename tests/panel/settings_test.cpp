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
        {"mirror", "ON", "0"},         // option words in any case
        {"mode", "Outdoor", "1"},      //
        {"gamma", " 1.0\t", "1"},      // blanks around a value
        {"exposure", "40 ", "40"},     // kept without them
        {"exposure", "\t 7", "7"},     //
        {"exposure", "127", "127"},    // the range's ends
        {"exposure", "0", "0"},        //
        {"exposure", "40.0", "40"},    // a whole number however written
        {"divider", "1", "1"},         // FRCTL 0, the chip's reset value
        {"divider", "128", "128"},     //
        {"h_end", "15", "15"},         //
        {"exposure", "128", nullptr},  // outside the range
        {"exposure", "300", nullptr},  //
        {"exposure", "-1", nullptr},   //
        {"divider", "0", nullptr},     //
        {"h_start", "16", nullptr},    //
        {"gain", "2.5", nullptr},      // no whole number
        {"divider", "3.5", nullptr},   //
        {"exposure", "99999999999999999999", nullptr},
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
        const int control = static_cast<int>(k.control - chip::kControls);
        EXPECT_EQ(b.line->Get(control), std::stoi(c.taken));
        EXPECT_EQ(b.file->Get(control), std::stoi(c.taken));
    }
    // One set of messages: the range's is the element's and the chip settings' own.
    EXPECT_EQ(Parse("exposure", "300").line.message(), "exposure = 300 is outside 0..127");
    EXPECT_EQ(Parse("divider", "0").line.message(), "divider = 0 is outside 1..128");
    EXPECT_EQ(Parse("exposure", "99999999999999999999").line.message(),
              "exposure = 99999999999999999999 is outside 0..127");
    EXPECT_EQ(Parse("gain", "2.5").line.message(), "gain: \"2.5\" is not a whole number");
    EXPECT_EQ(Parse("v_start", "1e400").line.message(), "v_start: \"1e400\" is out of range");
    EXPECT_EQ(Parse("mirror", "maybe").line.message(), "mirror: \"maybe\" is neither on nor off");
}

TEST(Settings, AByteOrderMarkIsSkippedOnceAndShownWhereItDoesNotBelong) {
    const std::string bom = "\xEF\xBB\xBF";
    base::Result<panel::Settings> s = panel::ParseSettings(bom + "exposure = 40\r\n", "s.cfg");
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s->Get(chip::kExposure), 40);
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
    EXPECT_EQ(s->Get(chip::kMirror), 0);
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
    state.text[2] = "99999999999999999999";  // no value of the range
    state.text[3] = "3.5";                   // no whole number
    state.text[4] = "\t2";
    const std::string text = panel::FormatSettings(state);
    EXPECT_THAT(text, HasSubstr("\nexposure = 5\n"));
    EXPECT_THAT(text, HasSubstr("\n# gain: the field holds no whole number of 0..7, not saved\n"));
    EXPECT_THAT(text,
                HasSubstr("\n# divider: the field holds no whole number of 1..128, not saved\n"));
    EXPECT_THAT(text, HasSubstr("\nh_start = 2\n"));
    const base::Result<panel::Settings> s = panel::ParseSettings(text, "saved");
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s->Get(chip::kExposure), 5);
    EXPECT_FALSE(s->Given(chip::kGain));
    EXPECT_FALSE(s->Given(chip::kDivider));
    EXPECT_EQ(s->Get(chip::kHStart), 2);
    // The file lists every key of the one table, in its order.
    std::size_t at = 0;
    for (const panel::SettingKey& k : panel::kSettingKeys) {
        const auto found = text.find(std::string(k.key) + (k.field ? "" : " = "), at);
        ASSERT_NE(found, std::string::npos) << k.key;
        at = found;
    }
}

}  // namespace
