// The workbench around the panel: the register record, live frames, settings files, picture
// records and PNG export, and their console commands.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "panel/capture.h"
#include "panel/console/console_front_end.h"
#include "panel/live_frames.h"
#include "panel/panel.h"
#include "panel/picture_files.h"
#include "panel/registers.h"
#include "panel/settings_file.h"
#include "tests/panel/support.h"

namespace panel_test {
namespace {

using panel::ChipRegister;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

// A user interface that also notes when the window would show a changed form.
class NotingUi : public TestUi {
public:
    using TestUi::TestUi;
    explicit NotingUi(Log* log) : TestUi(log), log_(log) {}
    void FormChanged() override { log_->push_back("form changed"); }

private:
    Log* log_;
};

class WorkbenchTest : public PanelWindowRig {
protected:
    // The events of the script; the exit status must be `status` (1 after any error event).
    Log Console(const std::string& script, panel::PngEncoder* encoder = nullptr, int status = 0) {
        std::istringstream in(script);
        Log out;
        panel::console::ConsoleOptions options;
        options.in = &in;
        options.png_encoder = encoder;
        options.write_line = [&](const std::string& line) { out.push_back(line); };
        EXPECT_EQ(panel::console::RunConsoleFrontEnd(pinbus1_, pinbus2_, options), status);
        return out;
    }
};

TEST_P(WorkbenchTest, RecordHoldsTheValueBeforeReversalOnceItsStrobeWentOut) {
    const panel::RegisterRecord& record = panel_->Registers();
    EXPECT_EQ(record.Text(ChipRegister::kExctl), "unknown");
    panel_->TextClick(1);
    panel_->SetText(1, "300");  // 300 & 0xFF = 44, sent reversed as 0x34
    panel_->TextClick(5);
    panel_->SetText(4, "2");
    panel_->SetText(5, "5");  // 2 * 16 | 5 = 37
    panel_->OptionClick(2, 0);
    panel_->Command1Click();
    EXPECT_THAT(Writes(), testing::Contains("data 34"));
    EXPECT_EQ(record.Text(ChipRegister::kExctl), "44");
    EXPECT_EQ(record.Text(ChipRegister::kHwctl), "37");
    EXPECT_EQ(record.Text(ChipRegister::kMctl), "64");
    EXPECT_EQ(record.Text(ChipRegister::kGctl), "unknown");
    EXPECT_EQ(record.Get(ChipRegister::kExctl).state, panel::RegisterRecord::Entry::kValue);

    // A field that does not convert stops before its data write: nothing new is recorded.
    panel_->TextClick(2);
    panel_->SetText(2, "x");
    panel_->Command1Click();
    EXPECT_EQ(record.Text(ChipRegister::kGctl), "unknown");

    panel_->Command2Click();
    for (int i = 0; i < panel::kChipRegisterCount; ++i) {
        EXPECT_EQ(record.Text(static_cast<ChipRegister>(i)), "default");
    }
}

TEST_P(WorkbenchTest, DefaultSettingShowsTheResetFormBeforeItsPrompt) {
    Log log;
    NotingUi ui(&log);
    panel::Panel panel(pinbus1_, pinbus2_, ui);
    panel.TextClick(1);
    panel.SetText(1, "77");
    std::string text_at_prompt;
    ui.on_box = [&](const std::string&, const std::string&) {
        if (text_at_prompt.empty()) text_at_prompt = panel.State().text[1];
    };
    panel.Command2Click();
    EXPECT_THAT(log, ElementsAre("form changed",
                                 "box SX540 Control Panel: Please select FCTL register A[3:0]=0001",
                                 "box SX540 Control Panel: Please VPORT register A[3:0]=1000"));
    EXPECT_EQ(text_at_prompt, "0");
}

// Every live frame is read with exactly Capture's read loop: the same port cycles and the same
// automation calls from BeginFrameRead to EndFrameRead.
TEST_P(WorkbenchTest, LiveFramesUseCapturesReadLoop) {
    SetReadSource([](std::uint64_t n) {
        return panel::ReverseBits(static_cast<std::uint8_t>(n % 450 % 256));
    });
    panel_->SetText(4, "2");
    panel_->SetText(5, "3");
    panel_->SetText(6, "0");
    panel_->SetText(7, "1");  // 24 x 18, 450 bytes read
    ClearLog();
    panel_->CaptureClick();
    auto loop_of = [](const Log& log) {
        Log cycles;
        for (const auto& e : log) {
            if (e.rfind("control ", 0) == 0 || e.rfind("read ", 0) == 0 || e.rfind("data ", 0) == 0)
                cycles.push_back(e);
        }
        return cycles;
    };
    const Log capture = loop_of(log_);
    const auto capture_calls = calls_.size();
    ASSERT_EQ(capture.size(), 3 + 450 * 3 + 1u);  // 0x27, 0x2F, 0x2B; the loop; 0x27
    EXPECT_EQ(capture.front(), "control 27");
    EXPECT_EQ(capture.back(), "control 27");

    ClearLog();
    const base::Result<panel::FrameGeometry> geometry =
        panel::ComputeFrameGeometry("2", "3", "0", "1");
    ASSERT_TRUE(geometry.ok());
    const panel::FrameGeometry& g = *geometry;
    panel::FrameReader reader(pinbus1_, pinbus2_);
    panel::Picture picture;
    for (int frame = 0; frame < 2; ++frame) {
        ClearLog();
        ASSERT_TRUE(reader.Read(g, &picture).ok());
        EXPECT_EQ(loop_of(log_), capture);
        EXPECT_TRUE(Events().empty());
        if (GetParam() == Objects::kFake) {
            EXPECT_EQ(calls_.size(), capture_calls);
        }
    }
    // The picture is the one Capture stored, as shown.
    base::Result<panel::Picture> stored = panel::ReadBitmapPicture("image.bmp");
    ASSERT_TRUE(stored.ok()) << stored.message();
    EXPECT_EQ(picture.pixels, stored->pixels);
}

TEST_P(WorkbenchTest, CaptureAndSaveAsWriteTheRecordBesideThePicture) {
    panel_->TextClick(2);
    panel_->SetText(2, "5");
    panel_->Command1Click();
    panel_->CaptureClick();
    std::string json;
    ASSERT_TRUE(ReadFile("image.json", &json));
    EXPECT_THAT(json, HasSubstr("\"width\": 384,\n  \"height\": 288,"));
    EXPECT_THAT(json, HasSubstr("\"window\": {\"h_start\": 0, \"h_end\": 0, "
                                "\"v_start\": 0, \"v_end\": 0}"));
    EXPECT_THAT(json, HasSubstr("\"row_skip\": true"));
    // One type for each field: a register's value is a number, or null when unknown.
    EXPECT_THAT(json, HasSubstr("\"GCTL\": {\"value\": 5, \"reset\": false, \"time\": \"20"));
    EXPECT_THAT(json, HasSubstr("\"EXCTL\": {\"value\": null, \"reset\": false, \"time\": null}"));
    EXPECT_THAT(json, HasSubstr("\"backend\": "));

    ClearLog();
    panel_->SetText(8, "shot.BMP");
    panel_->SaveAsClick();
    EXPECT_TRUE(Events().empty());
    std::string copy;
    ASSERT_TRUE(ReadFile("shot.json", &copy));
    EXPECT_EQ(copy, json);

    // A record that cannot be written is said, never passed over.
    ASSERT_EQ(::mkdir("blocked.json", 0700), 0);
    panel_->SetText(8, "blocked.bmp");
    panel_->SaveAsClick();
    EXPECT_THAT(Events(), ElementsAre(StartsWith(
                              "box Lensbay: The picture was saved, but its record was not: "
                              "Can't open \"blocked.json\"")));
    ASSERT_EQ(::rmdir("blocked.json"), 0);
    ASSERT_EQ(::mkdir("image.json.tmp", 0700), 0);  // harmless beside it
    ASSERT_EQ(::unlink("image.json"), 0);
    ASSERT_EQ(::mkdir("image.json", 0700), 0);
    ClearLog();
    panel_->CaptureClick();
    EXPECT_THAT(Events().back(), StartsWith("box Lensbay: The picture was saved, but its record "
                                            "was not: Can't open \"image.json\""));
}

// The record's name may be a file of the user's own: only a record this program wrote is
// replaced; any other file stays, and the box says that no record was written.
TEST_P(WorkbenchTest, SaveAsReplacesOnlyItsOwnRecords) {
    panel_->CaptureClick();
    const std::string mine = "{\n  \"width\": 1,\n  \"notes\": \"my own\"\n}\n";
    ASSERT_TRUE(WriteFile("shot.json", mine));
    ClearLog();
    panel_->SetText(8, "shot.bmp");
    panel_->SaveAsClick();
    EXPECT_THAT(Events(), ElementsAre("box Lensbay: The picture was saved, but no record was "
                                      "written: \"shot.json\" is not a picture record and was "
                                      "kept as it is."));
    std::string now;
    ASSERT_TRUE(ReadFile("shot.json", &now));
    EXPECT_EQ(now, mine);
    EXPECT_EQ(::access("shot.bmp", F_OK), 0);
    EXPECT_EQ(panel_->State().text[8], "filename.bmp");  // the picture itself was saved

    // A record written before is replaced by the newer one; a record cut short is not taken for
    // one.
    std::string record;
    ASSERT_TRUE(ReadFile("image.json", &record));
    ASSERT_TRUE(WriteFile("shot.json", record));
    panel_->TextClick(2);
    panel_->SetText(2, "7");
    panel_->Command1Click();
    panel_->CaptureClick();
    ClearLog();
    panel_->SetText(8, "shot.bmp");
    panel_->SaveAsClick();
    EXPECT_TRUE(Events().empty());
    ASSERT_TRUE(ReadFile("shot.json", &now));
    EXPECT_THAT(now, HasSubstr("\"GCTL\": {\"value\": 7,"));
    ASSERT_TRUE(WriteFile("shot.json", record.substr(0, record.size() / 2)));
    panel_->SetText(8, "shot.bmp");
    panel_->SaveAsClick();
    ASSERT_TRUE(ReadFile("shot.json", &now));
    EXPECT_EQ(now, record.substr(0, record.size() / 2));
}

class FakeEncoder : public panel::PngEncoder {
public:
    base::Result<std::vector<std::uint8_t>> EncodePng(const panel::Picture& p) override {
        last = p;
        if (fail) return base::Fail("out of ink");
        return std::vector<std::uint8_t>{'P', 'N', 'G'};
    }
    panel::Picture last;
    bool fail = false;
};

TEST_P(WorkbenchTest, SaveAsToAPngNameEncodesThePictureAsShown) {
    panel_->SetText(4, "2");
    panel_->SetText(5, "3");
    panel_->SetText(6, "0");
    panel_->SetText(7, "1");
    panel_->CaptureClick();
    FakeEncoder encoder;
    ClearLog();
    panel_->SetText(8, "frame.PnG");
    panel_->SaveAsClick();  // no encoder yet
    EXPECT_THAT(Events(), ElementsAre(HasSubstr("no PNG encoder")));
    EXPECT_EQ(panel_->State().text[8], "frame.PnG");

    panel_->SetPngEncoder(&encoder);
    ClearLog();
    panel_->SaveAsClick();
    EXPECT_TRUE(Events().empty());
    std::string png;
    ASSERT_TRUE(ReadFile("frame.PnG", &png));
    EXPECT_EQ(png, "PNG");
    EXPECT_EQ(::access("frame.json", F_OK), 0);
    EXPECT_EQ(panel_->State().text[8], "filename.bmp");
    EXPECT_EQ(encoder.last.width, 24);
    EXPECT_EQ(encoder.last.pixels, panel::ReadBitmapPicture("image.bmp")->pixels);

    encoder.fail = true;
    panel_->SetText(8, "again.png");
    ClearLog();
    panel_->SaveAsClick();
    EXPECT_THAT(Events(), ElementsAre("box Lensbay: Can't export a PNG: out of ink"));
    EXPECT_NE(::access("again.png", F_OK), 0);

    // A name that is no regular file is refused with what it is, and nothing blocks on a FIFO.
    encoder.fail = false;
    ASSERT_EQ(::mkfifo("pipe.png", 0600), 0);
    ASSERT_EQ(::mkdir("dir.png", 0700), 0);
    for (const char* name : {"pipe.png", "dir.png"}) {
        panel_->SetText(8, name);
        ClearLog();
        panel_->SaveAsClick();
        EXPECT_THAT(Events(),
                    ElementsAre(std::string("box Lensbay: Can't open \"") + name + "\": it is a " +
                                (name[0] == 'p' ? "FIFO" : "directory") + ", not a regular file."));
    }

    ASSERT_TRUE(WriteFile("image.bmp", "BM broken"));
    ClearLog();
    panel_->SaveAsClick();
    EXPECT_THAT(Events(), ElementsAre(HasSubstr("Can't export a PNG: \"image.bmp\" is unusable")));
}

TEST_P(WorkbenchTest, ConsoleCommands) {
    const Log none = Console("inspect\nprobe 1 1\nregisters\n", nullptr, 1);
    EXPECT_THAT(none, ElementsAre(StartsWith("box\t"), "error\t\"image.bmp\" does not exist",
                                  "error\t\"image.bmp\" does not exist", "register\tFCTL\tunknown",
                                  "register\tEXCTL\tunknown", "register\tGCTL\tunknown",
                                  "register\tFRCTL\tunknown", "register\tMCTL\tunknown",
                                  "register\tHWCTL\tunknown", "register\tVWCTL\tunknown"));
    // Stored bytes n % 251: a 24 x 18 window holds 0 .. 250 and then 0 .. 180 again.
    const Log out = Console(
        "text Text4 2\ntext Text5 3\ntext Text6 0\ntext Text7 1\n"
        "press Capture\ninspect\nprobe 0 17\nprobe 23 0\nprobe 24 0\nprobe -1 0\nprobe 1\n"
        "live 2\nlive 0\n",
        nullptr, 1);
    ASSERT_EQ(out.size(), 12u);
    EXPECT_THAT(out[1], StartsWith("monitor\t"));
    // Bytes 0..431 read: 0..250, then 0..180 (sum 47,665).
    EXPECT_EQ(out[2], "stats\t24\t18\t0\t250\t110.34\t67.03\t2\t0");
    EXPECT_THAT(out[3], StartsWith("histogram\t2 2 2 "));
    EXPECT_EQ(std::count(out[3].begin(), out[3].end(), ' '), 255);
    EXPECT_EQ(out[4], "pixel\t0\t17\t0");    // the first byte read, shown bottom left
    EXPECT_EQ(out[5], "pixel\t23\t0\t180");  // the last row read: bytes 408..431
    EXPECT_EQ(out[6], "error\t(24, 0) is outside the picture of 24 x 18 pixels");
    EXPECT_EQ(out[7], "error\t(-1, 0) is outside the picture of 24 x 18 pixels");
    EXPECT_THAT(out[8], StartsWith("error\tbad point; usage: probe X Y"));
    // The source goes on counting: frame 1 holds bytes 450..881 of it, frame 2 900..1331.
    EXPECT_EQ(out[9], "frame\t1\t24\t18\t0\t250\t118.76");
    EXPECT_EQ(out[10], "frame\t2\t24\t18\t0\t250\t127.19");
    EXPECT_THAT(out[11], StartsWith("error\tbad frame count"));
}

TEST_P(WorkbenchTest, ConsoleSettingsFiles) {
    ASSERT_TRUE(WriteFile("good.txt", "# bring-up\nexposure = 40  # dim\ngamma=0.45\nh_end = 5\n"));
    ASSERT_TRUE(WriteFile("bad.txt", "gain = 3\n\nmirror = maybe\n"));
    ASSERT_EQ(::mkdir("dir.txt", 0700), 0);
    ASSERT_EQ(::mkfifo("fifo.txt", 0600), 0);
    const Log out = Console(
        "load-settings bad.txt\nload-settings good.txt\nload-settings none.txt\n"
        "show\nsave-settings saved.txt\npress Command1\nregisters\n"
        "load-settings dir.txt\nsave-settings fifo.txt\nload-settings \x1b]2;x\x07.txt\n",
        nullptr, 1);
    EXPECT_EQ(out[1], "error\tbad.txt:3: mirror: \"maybe\" is neither on nor off");
    EXPECT_EQ(out[2], "error\t\"none.txt\": no such file");
    EXPECT_EQ(out[3], "show\tText1\t40\tchanged=True");
    EXPECT_EQ(out[4], "show\tText2\t0\tchanged=False");  // bad.txt applied nothing
    EXPECT_EQ(out[6], "show\tText4\t0\tchanged=True");   // as a click in Text5 marks it
    EXPECT_EQ(out[7], "show\tText5\t5\tchanged=True");
    EXPECT_EQ(out[11], "show\tOption1\t0");
    EXPECT_EQ(out[19], "show\tmctl_act\t1");
    std::string saved;
    ASSERT_TRUE(ReadFile("saved.txt", &saved));
    EXPECT_THAT(saved, HasSubstr("exposure = 40\ngain = 0\ndivider = 1\ngamma = 0.45\n"
                                 "mirror = off\nmode = outdoor\nbacklight = off\nh_start = 0\n"
                                 "h_end = 5\n"));
    EXPECT_THAT(out, testing::Contains("register\tEXCTL\t40"));
    EXPECT_THAT(out, testing::Contains("register\tHWCTL\t5"));
    EXPECT_THAT(out, testing::Contains("register\tMCTL\t128"));
    EXPECT_THAT(out, testing::Contains("register\tGCTL\tunknown"));
    // Names that are no regular file say what they are; a name is shown escaped.
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[out.size() - 3],
              "error\t\"dir.txt\": can't read: it is a directory, not a regular file");
    EXPECT_EQ(out[out.size() - 2],
              "error\t\"fifo.txt\": can't write: it is a FIFO, not a regular file");
    EXPECT_EQ(out.back(), "error\t\"\\\\x1b]2;x\\\\x07.txt\": no such file");
}

INSTANTIATE_TEST_SUITE_P(Objects, WorkbenchTest, testing::Values(Objects::kFake, Objects::kPinbus),
                         ObjectsName);

// Only the fake port object fails on request.
using WorkbenchFakeTest = WorkbenchTest;

TEST_P(WorkbenchFakeTest, PortFailureEndsALiveFrameWithAMessage) {
    const base::Result<panel::FrameGeometry> geometry =
        panel::ComputeFrameGeometry("2", "3", "0", "1");
    ASSERT_TRUE(geometry.ok());
    const panel::FrameGeometry& g = *geometry;
    panel::FrameReader reader(pinbus1_, pinbus2_);
    panel::Picture picture;
    fail_at_ = 20;
    const base::Result<> r = reader.Read(g, &picture);
    ASSERT_FALSE(r.ok());
    EXPECT_THAT(r.message(), HasSubstr("The port object failed"));
}

INSTANTIATE_TEST_SUITE_P(Objects, WorkbenchFakeTest, testing::Values(Objects::kFake), ObjectsName);

TEST(SettingsFileTest, EveryFaultNamesFileAndLine) {
    auto error = [](const std::string& text) {
        const auto r = panel::ParseSettings(text, "s.cfg");
        EXPECT_FALSE(r.ok()) << text;
        return r.ok() ? std::string() : r.message();
    };
    EXPECT_EQ(error("exposure = 1\nspeed = 3\n"),
              "s.cfg:2: unknown key \"speed\" (the keys are exposure, gain, divider, gamma, "
              "mirror, mode, backlight, h_start, h_end, v_start, v_end)");
    EXPECT_EQ(error("gain = fast"), "s.cfg:1: gain: \"fast\" is not a number");
    EXPECT_EQ(error("gain ="), "s.cfg:1: gain: \"\" is not a number");
    EXPECT_EQ(error("gamma = 0.5"), "s.cfg:1: gamma: \"0.5\" is neither 0.45 nor 1.0");
    EXPECT_EQ(error("\n\n  mode indoor"), "s.cfg:3: expected key = value, got \"mode indoor\"");
    EXPECT_EQ(error("v_end = 1\nv_end = 2"), "s.cfg:2: v_end is set twice (first on line 1)");
    EXPECT_EQ(error(std::string("gain = 1\0", 9)), "s.cfg:1: a NUL byte in the line");
    EXPECT_EQ(error("Gain = 1"), error("Gain = 1"));
    EXPECT_THAT(error("Exposure = 1"), HasSubstr("unknown key \"Exposure\""));
}

TEST(SettingsFileTest, LoadingActsLikeTheUser) {
    base::Result<panel::Settings> s = panel::ParseSettings(
        "\r\n# all of them\r\ngain = 7\r\nmirror = on\nbacklight = off\nv_end = 3\n", "f");
    ASSERT_TRUE(s.ok()) << s.message();
    panel::FormState state;
    state.text[1] = "9";
    panel::ApplySettings(*s, state);
    EXPECT_EQ(state.text[1], "9");
    EXPECT_FALSE(state.changed[1]);
    EXPECT_EQ(state.text[2], "7");
    EXPECT_TRUE(state.changed[2]);
    EXPECT_TRUE(state.changed[6]);  // a click in Text7 marks Text6
    EXPECT_TRUE(state.changed[7]);
    EXPECT_EQ(state.text[6], "0");
    EXPECT_EQ(state.mir, 0x40);
    EXPECT_EQ(state.bkl, 0);
    EXPECT_FALSE(state.gama.has_value());  // not named: not selected
    EXPECT_EQ(state.mctl_act, 1);

    // What is saved loads back to the same fields and options.
    panel::FormState other;
    other.text[3] = "4";
    other.text[5] = "";  // just clicked: no number, written as a comment
    panel::SelectOption(other, 3, 0);
    const std::string text = panel::FormatSettings(other);
    EXPECT_THAT(text, HasSubstr("# h_end: the field holds no whole number of 0..15, not saved\n"));
    s = panel::ParseSettings(text, "f");
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s->Get(chip::kDivider), 4);
    EXPECT_FALSE(s->Given(chip::kHEnd));
    EXPECT_EQ(s->Get(chip::kMode), 0);
    EXPECT_EQ(s->Get(chip::kGamma), 1);
}

TEST(PictureFilesTest, NamesBesideThePicture) {
    EXPECT_TRUE(panel::IsPngName("a.png"));
    EXPECT_TRUE(panel::IsPngName("A.PNG"));
    EXPECT_TRUE(panel::IsPngName(".pNg"));
    EXPECT_FALSE(panel::IsPngName("a.png.bmp"));
    EXPECT_FALSE(panel::IsPngName("png"));
    EXPECT_EQ(panel::RecordPathFor("dir/x.bmp"), "dir/x.json");
    EXPECT_EQ(panel::RecordPathFor("X.PNG"), "X.json");
    EXPECT_EQ(panel::RecordPathFor("x.raw"), "x.raw.json");

    panel::FormState state;
    state.text[4] = "a\"b\\c\n";  // no number: null
    state.text[6] = " 2.5";
    const std::string json =
        panel::PictureRecordJson(1, 2, state, false, panel::RegisterRecord{}, "ppdev:/dev/parport0",
                                 panel::RegisterRecord::Clock::from_time_t(86400 + 3661));
    EXPECT_THAT(json, HasSubstr("\"window\": {\"h_start\": null, \"h_end\": 0, \"v_start\": 2.5, "
                                "\"v_end\": 0}"));
    EXPECT_THAT(json, HasSubstr("\"time\": \"1970-01-02T01:01:01Z\""));
    EXPECT_THAT(json, HasSubstr("\"backend\": \"ppdev:/dev/parport0\""));
    EXPECT_THAT(json, HasSubstr("\"row_skip\": false"));
}

}  // namespace
}  // namespace panel_test
