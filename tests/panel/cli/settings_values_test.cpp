// KEY=VALUE settings and numbered frame names: what is refused, and how it is applied.
#include <gmock/gmock.h>

#include "panel/cli/arguments.h"
#include "panel/cli/image_output.h"
#include "panel/settings.h"
#include "panel/settings_file.h"  // with the command line's headers: one table of keys

namespace {

using testing::HasSubstr;

TEST(SettingsValues, NumbersAreWholeNumbersOfTheChipsRanges) {
    auto r = panel::ParseAssignments({"exposure=100", "divider=1", "h_start=15", "h_end=7"});
    ASSERT_TRUE(r) << r.message();
    EXPECT_EQ(r->Get(chip::kExposure), 100);
    EXPECT_EQ(r->Get(chip::kDivider), 1);
    EXPECT_EQ(r->Get(chip::kHStart), 15);
    EXPECT_FALSE(r->Given(chip::kGain));
    // The same rule as lensbaysrc and lensbay status: the range, whole numbers.
    EXPECT_EQ(panel::ParseAssignments({"exposure=200"}).message(),
              "exposure = 200 is outside 0..127");
    EXPECT_EQ(panel::ParseAssignments({"divider=0"}).message(), "divider = 0 is outside 1..128");
    EXPECT_THAT(panel::ParseAssignments({"gain=2.5"}).message(), HasSubstr("not a whole number"));
    EXPECT_EQ(panel::ParseAssignments({"gain=abc"}).message(), "gain: \"abc\" is not a number");
    EXPECT_THAT(panel::ParseAssignments({"exposure="}).message(), HasSubstr("not a number"));
    EXPECT_THAT(panel::ParseAssignments({"v_start=1e400"}).message(), HasSubstr("v_start"));
}

TEST(SettingsValues, WordsKeysAndShapesAreRefusedWithTheirReason) {
    auto r = panel::ParseAssignments({"gamma=0.45", "mirror=OFF", "mode=indoor", "backlight=on"});
    ASSERT_TRUE(r) << r.message();
    EXPECT_EQ(r->Get(chip::kGamma), 0);
    EXPECT_EQ(r->Get(chip::kMirror), 1);
    EXPECT_EQ(r->Get(chip::kMode), 0);
    EXPECT_EQ(r->Get(chip::kBacklight), 0);
    EXPECT_THAT(panel::ParseAssignments({"gamma=0.5"}).message(),
                HasSubstr("neither 0.45 nor 1.0"));
    EXPECT_THAT(panel::ParseAssignments({"mirror=yes"}).message(), HasSubstr("neither on nor off"));
    // The same list of keys as a settings file names.
    EXPECT_EQ(panel::ParseAssignments({"Exposure=1"}).message(),
              panel::ParseSettings("Exposure = 1", "f").message().substr(5));
    EXPECT_THAT(panel::ParseAssignments({"gain=1", "gain=2"}).message(), HasSubstr("twice"));
    EXPECT_THAT(panel::ParseAssignments({"gain"}).message(), HasSubstr("KEY=VALUE"));
    EXPECT_THAT(panel::ParseAssignments({"=1"}).message(), HasSubstr("KEY=VALUE"));
    EXPECT_THAT(panel::ParseAssignments({}).message(), HasSubstr("no KEY=VALUE"));
    // A control character in a message is shown escaped, never sent to the terminal.
    EXPECT_THAT(panel::ParseAssignments({"mode=\x1b[2J"}).message(), HasSubstr("\\x1b[2J"));
}

TEST(SettingsValues, ApplyingClicksTheFieldsAndSelectsTheOptions) {
    panel::FormState state;
    auto r = panel::ParseAssignments({"h_end=3", "gamma=1.0"});
    ASSERT_TRUE(r);
    panel::ApplySettings(*r, state);
    EXPECT_EQ(state.text[5], "3");
    // A click in h_end marks h_start too, so Set Register writes the window register.
    EXPECT_TRUE(state.changed[4]);
    EXPECT_TRUE(state.changed[5]);
    EXPECT_FALSE(state.changed[1]);
    EXPECT_EQ(state.selected[1], 1);
    EXPECT_EQ(state.mctl_act, 1);
}

TEST(FrameNames, NumberedByPatternOrBeforeTheExtension) {
    using panel::cli::FrameName;
    EXPECT_EQ(*FrameName("frame-%04d.png", 7), "frame-0007.png");
    EXPECT_EQ(*FrameName("f%d.pgm", 12), "f12.pgm");
    EXPECT_EQ(*FrameName("100%%-%03d.bmp", 5), "100%-005.bmp");
    EXPECT_EQ(*FrameName("shot.png", 3), "shot-0003.png");
    EXPECT_EQ(*FrameName("dir.v2/shot", 3), "dir.v2/shot-0003");
    EXPECT_FALSE(FrameName("a%s.png", 1));
    EXPECT_FALSE(FrameName("a%d%d.png", 1));
    EXPECT_FALSE(FrameName("a%", 1));
    // A wide number is written whole: no two frames ever share a name.
    EXPECT_EQ(*FrameName("w%032d.pgm", 1000000), "w" + std::string(25, '0') + "1000000.pgm");
    EXPECT_EQ(*FrameName("w%099d.pgm", 3), "w" + std::string(98, '0') + "3.pgm");
    EXPECT_EQ(FrameName("w%0100d.pgm", 3).message(),
              "\"w%0100d.pgm\": a frame number's width is at most 99 digits");
    // "%%" is one '%' wherever it stands, with or without a number in the name.
    EXPECT_EQ(*FrameName("b%%.pgm", 2), "b%-0002.pgm");
    EXPECT_EQ(*FrameName("x%%y%d.pgm", 1), "x%y1.pgm");
    EXPECT_EQ(*FrameName("v1.%%/shot", 4), "v1.%/shot-0004");
    EXPECT_TRUE(panel::cli::FormatOf("A.PNG"));
    EXPECT_FALSE(panel::cli::FormatOf("a.png/x"));
    EXPECT_FALSE(panel::cli::FormatOf("a.jpg"));
}

}  // namespace
