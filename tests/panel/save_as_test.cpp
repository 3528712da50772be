// Save As: the copy of "image.bmp" under the name in Text8.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "panel/panel.h"
#include "platform/base/files.h"
#include "tests/panel/support.h"

namespace panel_test {
namespace {

using testing::ElementsAre;

class SaveAsTest : public PanelWindowRig {
protected:
    std::string Captured() {
        panel_->CaptureClick();
        std::string bmp;
        EXPECT_TRUE(ReadFile("image.bmp", &bmp));
        ClearLog();
        return bmp;
    }
};

TEST_P(SaveAsTest, BeforeAnyCaptureNothingIsWritten) {
    panel_->SetText(8, "copy.bmp");
    panel_->SaveAsClick();
    EXPECT_THAT(log_, ElementsAre("box Lensbay: Can't find the .bmp file."));
    EXPECT_NE(::access("copy.bmp", F_OK), 0);
    EXPECT_EQ(panel_->State().text[8], "copy.bmp");
}

TEST_P(SaveAsTest, CopiesTheWholeFileWhateverTheWindowFieldsHoldNow) {
    const std::string bmp = Captured();
    ASSERT_EQ(bmp.size(), 111959u);
    // Fields changed or unusable since the capture do not matter.
    panel_->SetText(4, "abc");
    panel_->SetText(5, "7");
    panel_->SetText(8, "copy.bmp");
    panel_->SaveAsClick();
    EXPECT_TRUE(log_.empty());
    std::string copy;
    ASSERT_TRUE(ReadFile("copy.bmp", &copy));
    EXPECT_EQ(copy, bmp);
    EXPECT_EQ(panel_->State().text[8], "filename.bmp");

    // The name is used as typed, spaces included.
    panel_->SetText(8, " spaced name .bmp");
    panel_->SaveAsClick();
    EXPECT_TRUE(log_.empty());
    ASSERT_TRUE(ReadFile(" spaced name .bmp", &copy));
    EXPECT_EQ(copy, bmp);
    EXPECT_EQ(panel_->State().text[8], "filename.bmp");

    // Again without editing Text8: to "filename.bmp". A longer file there is cut to the copy.
    ASSERT_TRUE(WriteFile("filename.bmp", std::string(300000, 'x')));
    panel_->SaveAsClick();
    ASSERT_TRUE(ReadFile("filename.bmp", &copy));
    EXPECT_EQ(copy, bmp);
}

TEST_P(SaveAsTest, OntoImageBmpItselfKeepsIt) {
    const std::string bmp = Captured();
    panel_->SetText(8, "image.bmp");
    panel_->SaveAsClick();
    EXPECT_TRUE(log_.empty());
    std::string after;
    ASSERT_TRUE(ReadFile("image.bmp", &after));
    EXPECT_EQ(after, bmp);
}

TEST_P(SaveAsTest, TargetThatCannotBeOpenedKeepsTheName) {
    Captured();
    for (const char* name : {"missing/dir/copy.bmp", "", "adir"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(::mkdir("adir", 0755) == 0 || errno == EEXIST);
        ClearLog();
        panel_->SetText(8, name);
        panel_->SaveAsClick();
        EXPECT_THAT(log_, ElementsAre("box Lensbay: Can't open the .bmp file to save."));
        EXPECT_EQ(panel_->State().text[8], name);
    }
    // A NUL in the name would open a shorter name than the one typed.
    ClearLog();
    panel_->SetText(8, std::string("copy.bmp\0.txt", 13));
    panel_->SaveAsClick();
    EXPECT_THAT(log_, ElementsAre("box Lensbay: Can't open the .bmp file to save."));
    EXPECT_NE(::access("copy.bmp", F_OK), 0);
}

TEST_P(SaveAsTest, FailedWriteIsReportedNotCountedAsSaved) {
    Captured();
    // The disk is full; the name is kept for another try.
    base::SetAtomicWriteHookForTesting(
        [](const char* step) { return std::strcmp(step, "write") == 0 ? ENOSPC : 0; });
    panel_->SetText(8, "full.bmp");
    panel_->SaveAsClick();
    base::SetAtomicWriteHookForTesting(nullptr);
    EXPECT_THAT(log_, ElementsAre("box Lensbay: Can't write the .bmp file to save: No space left "
                                  "on device."));
    EXPECT_EQ(panel_->State().text[8], "full.bmp");
    EXPECT_NE(::access("full.bmp", F_OK), 0);
}

TEST_P(SaveAsTest, UnreadableSourceCountsAsNotFound) {
    ASSERT_EQ(::mkdir("image.bmp", 0755), 0);
    panel_->SaveAsClick();
    EXPECT_THAT(log_, ElementsAre("box Lensbay: Can't find the .bmp file."));
    EXPECT_NE(::access("filename.bmp", F_OK), 0);
}

INSTANTIATE_TEST_SUITE_P(Objects, SaveAsTest, testing::Values(Objects::kFake), ObjectsName);

}  // namespace
}  // namespace panel_test
