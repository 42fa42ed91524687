// Activation warning, keyboard, SHOW OPTIONS and the close question with its save.

#include <gtest/gtest.h>

#include "app_test_support.h"

namespace kestrel::test {
namespace {

const char* const kQuestion = "This will close Kestrelmap... Are you SURE ?";

TEST(Activation, WarnsOnlyWhileThePortIsUnusable) {
    for (const bool busy : {false, true}) {
        FakeRig rig;
        if (busy) {
            rig.serial.busyPorts.insert(1);
        }
        rig.main().Form_Load();
        rig.main().Form_Activate();
        rig.main().CmdButton_SHOW_OPTIONS_Click();
        rig.options().cmdbutton_EXIT_Click();
        rig.main().Form_Activate();
        ASSERT_EQ(rig.messages.shown.size(), busy ? 2u : 0u);
        for (const auto& m : rig.messages.shown) {
            EXPECT_EQ(m.text, "COM port not available");
            EXPECT_EQ(m.title, "Kestrelmap");
            EXPECT_EQ(m.buttons, MessageButtons::Ok);
        }
    }
}

TEST(Keyboard, EveryKeyIsSwallowedAndOnlySpacePlots) {
    const struct {
        int key;
        int plots;
    } cases[] = {{32, 1}, {13, 0}, {65, 0}, {38, 0}, {48, 0}};
    for (const auto& c : cases) {
        FakeRig rig;
        Form_Kestrelmap& f = rig.main();
        f.Form_Load();
        const std::string before = positionTags(f);
        int code = c.key;
        f.Form_KeyDown(code, 0);
        EXPECT_EQ(code, 0) << c.key;
        EXPECT_EQ(f.NUMBER_OF_PLOTS, c.plots) << c.key;
        int ascii = c.key;
        f.Form_KeyPress(ascii);
        EXPECT_EQ(ascii, 0);
        // The options window discards keys too, the space bar included.
        code = c.key;
        ascii = c.key;
        rig.options().Form_KeyDown(code, 0);
        rig.options().Form_KeyPress(ascii);
        EXPECT_EQ(code + ascii, 0);
        EXPECT_EQ(f.NUMBER_OF_PLOTS, c.plots);
        EXPECT_EQ(positionTags(f), before);
    }
}

TEST(Keyboard, EverySpacePressIsAPlotPress) {
    FakeRig rig;
    Form_Kestrelmap& f = rig.main();
    f.Form_Load();
    for (int i = 0; i < 3; ++i) {
        int code = 32;
        f.Form_KeyDown(code, 0);
        f.Timer_BLINK_Timer();  // the plot button's busy state ends
    }
    EXPECT_EQ(f.NUMBER_OF_PLOTS, 3);
    EXPECT_EQ(rig.beeper.beeps, 3);
}

TEST(Options, ShowAndHide) {
    FakeRig rig;
    rig.main().Form_Load();
    rig.main().CmdButton_SHOW_OPTIONS_Click();
    rig.main().CmdButton_SHOW_OPTIONS_Click();
    EXPECT_TRUE(rig.options().Visible);
    rig.options().cmdbutton_EXIT_Click();
    EXPECT_FALSE(rig.options().Visible);
    EXPECT_TRUE(rig.options().Loaded);
}

struct CloseRun {
    bool closed;
    std::string savedFile;  // empty: not written
    size_t messages;
};

// Starts, moves the position to 51 degrees and W to E, asks to close and answers.
CloseRun closeWith(CloseReason reason, MessageResult answer, bool exitButton = false) {
    FakeRig rig;
    Form_Kestrelmap& f = rig.main();
    f.Form_Load();
    rig.files.files.erase(kIniPath);
    f.Picture_LAT_DEGX10.Tag = "5";
    f.Picture_LAT_DEGX1.Tag = "1";
    f.CmdButton_LONG_HEMI = {"E", "E"};
    rig.messages.answers = {answer};
    bool closed;
    if (exitButton) {
        f.cmdbutton_EXIT_Click();
        closed = f.Unloaded;
    } else {
        closed = f.requestClose(reason);
    }
    const auto& question = rig.messages.shown.at(0);
    EXPECT_EQ(question.text, kQuestion);
    EXPECT_EQ(question.title, "Close Kestrelmap Program");
    EXPECT_EQ(question.buttons, MessageButtons::OkCancel);
    EXPECT_TRUE(question.cancelIsDefault);  // Enter cancels
    EXPECT_EQ(closed, f.Unloaded);
    EXPECT_EQ(rig.options().Loaded, !closed);
    if (closed) {
        // The next start shows the position that was shown at the close.
        Form_Kestrelmap& next = rig.restart();
        next.Form_Load();
        EXPECT_EQ(positionTags(next), "5|1|2|5|1|1|1|1|9|4|4|5|0");
        EXPECT_EQ(next.CmdButton_LONG_HEMI.Caption, "E");
    }
    const auto it = rig.files.files.find(kIniPath);
    return {closed, it == rig.files.files.end() ? "" : it->second, rig.messages.shown.size()};
}

TEST(Close, TheQuestionDecides) {
    const std::string saved =
        crlf({"5", "1", "2", "5", "1", "1",       "1",       "1",       "9",     "4",
              "4", "5", "0", "N", "E", " 33410 ", " 44718 ", " 49344 ", " 255 ", " 1 "});
    const struct {
        CloseReason reason;
        MessageResult answer;
        bool exitButton;
        bool closed;
        std::string file;
    } cases[] = {
        {CloseReason::Operator, MessageResult::Ok, true, true, saved},
        {CloseReason::Operator, MessageResult::Cancel, true, false, ""},
        {CloseReason::Operator, MessageResult::Ok, false, true, saved},
        {CloseReason::Operator, MessageResult::Cancel, false, false, ""},
        // A close from the session saves before asking, so even Cancel leaves the file written.
        {CloseReason::System, MessageResult::Cancel, false, false, saved},
        {CloseReason::System, MessageResult::Ok, false, true, saved},
    };
    for (const auto& c : cases) {
        const CloseRun run = closeWith(c.reason, c.answer, c.exitButton);
        EXPECT_EQ(run.closed, c.closed);
        EXPECT_EQ(run.savedFile, c.file);
        EXPECT_EQ(run.messages, 1u);
    }
}

TEST(Close, AFailedSaveIsToldOnceAndTheCloseCompletes) {
    for (const CloseReason reason : {CloseReason::Operator, CloseReason::System}) {
        FakeRig rig;
        Form_Kestrelmap& f = rig.main();
        f.Form_Load();
        rig.files.unwritable.insert(kIniPath);
        EXPECT_TRUE(f.requestClose(reason));
        EXPECT_TRUE(f.Unloaded);
        ASSERT_EQ(rig.messages.shown.size(), 2u);
        EXPECT_NE(rig.messages.shown[1].text.find("settings were not saved"), std::string::npos);
        EXPECT_NE(rig.messages.shown[1].text.find(kIniPath), std::string::npos);
        EXPECT_EQ(rig.messages.shown[1].buttons, MessageButtons::Ok);
    }
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// A close request that arrives while the question is on screen (the session ending while the
// operator thinks) is answered by that question; the settings are saved all the same.
class ReentrantBox : public MessageBox {
  public:
    MessageResult show(const std::string&, const std::string&, MessageButtons, bool) override {
        if (++shown == 1) {
            nestedClosed = form->requestClose(CloseReason::System);
        }
        return MessageResult::Cancel;
    }
    Form_Kestrelmap* form = nullptr;
    int shown = 0;
    bool nestedClosed = true;
};

TEST(Close, ARequestDuringTheQuestionAsksNothingMore) {
    FakeRig rig;
    ReentrantBox box;
    Platform platform{rig.serial, box, rig.picker, rig.beeper, rig.clock, rig.files};
    Form_Kestrelmap form(platform, "/hunt/");
    box.form = &form;
    form.Form_Load();
    rig.files.files.erase(kIniPath);
    EXPECT_FALSE(form.requestClose(CloseReason::Operator));
    EXPECT_EQ(box.shown, 1);
    EXPECT_FALSE(box.nestedClosed);
    EXPECT_FALSE(form.Unloaded);
    EXPECT_EQ(rig.files.files.count(kIniPath), 1u);
}

}  // namespace
}  // namespace kestrel::test
