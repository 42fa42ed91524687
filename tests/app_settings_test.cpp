// The settings file: what a start makes of each kind of file, what a close writes, and what
// happens when the file cannot be written.

#include <gtest/gtest.h>

#include <optional>

#include "app_test_support.h"

namespace kestrel::test {
namespace {

const std::string kDefaultTags = "3|4|2|5|1|1|1|1|9|4|4|5|0";

struct Loaded {
    std::string tags;
    std::string hemispheres;  // e.g. "NW"
    int32_t display, button, legend, vector;
    std::string vectorColor;
    int port;
    bool rewritten;  // the file was replaced by the defaults
};

// Starts the program over `file` (nothing: no file) and reports what it loaded.
Loaded loadFrom(const std::optional<std::string>& file) {
    FakeRig rig;
    if (file) {
        rig.files.files[kIniPath] = *file;
    }
    Form_Kestrelmap& f = rig.main();
    f.Form_Load();
    const Form_Kestrelmap_Options& o = f.OptionsForm;
    EXPECT_EQ(f.BUTTON_BC, o.Picture_BUTTON_BACKGROUND_COLOR.BackColor.rgb);
    return {positionTags(f),
            f.CmdButton_LAT_HEMI.Caption + f.CmdButton_LONG_HEMI.Caption,
            o.Picture_DISPLAY_BACKGROUND_COLOR.BackColor.rgb,
            o.Picture_BUTTON_BACKGROUND_COLOR.BackColor.rgb,
            o.Picture_LEGEND_TEXT_COLOR.BackColor.rgb,
            o.Picture_VECTOR_COLOR.BackColor.rgb,
            f.VECTOR_COLOR,
            f.MSComm1.portNumber(),
            rig.files.files[kIniPath] == crlf(kDefaultIniLines) && file != crlf(kDefaultIniLines)};
}

void expectDefaults(const std::optional<std::string>& file, const char* what) {
    const Loaded l = loadFrom(file);
    EXPECT_EQ(l.tags, kDefaultTags) << what;
    EXPECT_EQ(l.hemispheres, "NW") << what;
    EXPECT_EQ(l.display, 33410) << what;
    EXPECT_EQ(l.button, 44718) << what;
    EXPECT_EQ(l.legend, 49344) << what;
    EXPECT_EQ(l.vector, 255) << what;
    EXPECT_EQ(l.vectorColor, "ff0000ff") << what;
    EXPECT_EQ(l.port, 1) << what;
    EXPECT_TRUE(l.rewritten) << what;
}

TEST(Settings, BadFilesAreReplacedByTheDefaultsWhole) {
    // Each file also carries a changed position and colour, which must be lost with it.
    auto changed = [](std::vector<std::pair<int, std::string>> more) {
        more.insert(more.begin(), {{1, "5"}, {14, "S"}, {16, "100"}});
        return crlf(iniWith(more));
    };
    std::vector<std::string> nineteen = iniWith({{1, "5"}});
    nineteen.pop_back();
    const struct {
        std::optional<std::string> file;
        const char* what;
    } cases[] = {
        {std::nullopt, "no file"},
        {"", "empty file"},
        {changed({{20, "9"}}), "port 9"},
        {changed({{20, "0"}}), "port 0"},
        {changed({{20, "COM1"}}), "port COM1"},
        {changed({{20, "8.5"}}), "port 8.5"},
        {changed({{20, "0.9"}}), "port 0.9"},
        {crlf(nineteen), "nineteen lines"},
        {changed({{19, "16777216"}}), "colour above white"},
        {changed({{19, "16777215.5"}}), "colour rounding above white"},
        {changed({{17, "-1"}}), "negative colour"},
        {changed({{16, "blue"}}), "colour not a number"},
        {changed({{18, "123abc"}}), "colour with trailing text"},
        {changed({{18, ""}}), "empty colour line"},
        {changed({{14, "S"}, {15, "W"}, {20, "x"}}), "S and W with a bad port"},
    };
    for (const auto& c : cases) {
        expectDefaults(c.file, c.what);
    }
}

TEST(Settings, GoodFilesLoadAsWritten) {
    const struct {
        std::string file;
        std::string tags, hemispheres;
        int32_t display, vector;
        std::string vectorColor;
        int port;
    } cases[] = {
        // A file as a save writes it: numbers with a space before and after.
        {crlf(iniWith({{16, " 100 "},
                       {17, " 44718 "},
                       {18, " 49344 "},
                       {19, " 33410 "},
                       {20, " 3 "},
                       {14, "S"},
                       {15, "E"}})),
         kDefaultTags, "SE", 100, 33410, "ff008282", 3},
        {crlf(iniWith({{14, "s"}, {15, "w"}})), kDefaultTags, "NE", 33410, 255, "ff0000ff", 1},
        {crlf(iniWith({{14, " S "}, {15, "W\t"}})), kDefaultTags, "SW", 33410, 255, "ff0000ff", 1},
        {crlf(iniWith({{19, "0"}})), kDefaultTags, "NW", 33410, 0, "ff000000", 1},
        {crlf(iniWith({{19, "16777215"}})), kDefaultTags, "NW", 33410, 16777215, "ffffffff", 1},
        {crlf(iniWith({{19, "16711680"}})), kDefaultTags, "NW", 33410, 16711680, "ffff0000", 1},
        {crlf(iniWith({{19, "254.5"}, {16, "-0.4"}})), kDefaultTags, "NW", 0, 254, "ff0000fe", 1},
        {crlf(iniWith({{20, "2.5"}})), kDefaultTags, "NW", 33410, 255, "ff0000ff", 2},
        {crlf(iniWith({{20, "3.5"}})), kDefaultTags, "NW", 33410, 255, "ff0000ff", 4},
        {crlf(iniWith({{20, "1.4"}})), kDefaultTags, "NW", 33410, 255, "ff0000ff", 1},
        {crlf(iniWith({{20, "5 COM"}})), kDefaultTags, "NW", 33410, 255, "ff0000ff", 5},
        // Digit lines: numbers by value, anything else unchanged.
        {crlf(iniWith({{1, "07"}, {2, " 8 "}, {3, "x"}, {4, ""}, {5, "+3"}, {13, "1.50"}})),
         "7|8|x||3|1|1|1|9|4|4|5|1.5", "NW", 33410, 255, "ff0000ff", 1},
        // LF only, and more than twenty lines, and no line end after the last.
        {"3\n4\n2\n5\n1\n1\n1\n1\n9\n4\n4\n5\n0\nN\nW\n1\n2\n3\n4\n6\nextra\n", kDefaultTags, "NW",
         1, 4, "ff000004", 6},
        {crlf(kDefaultIniLines).substr(0, crlf(kDefaultIniLines).size() - 2), kDefaultTags, "NW",
         33410, 255, "ff0000ff", 1},
    };
    for (const auto& c : cases) {
        const Loaded l = loadFrom(c.file);
        EXPECT_EQ(l.tags, c.tags) << c.file;
        EXPECT_EQ(l.hemispheres, c.hemispheres) << c.file;
        EXPECT_EQ(l.display, c.display) << c.file;
        EXPECT_EQ(l.vector, c.vector) << c.file;
        EXPECT_EQ(l.vectorColor, c.vectorColor) << c.file;
        EXPECT_EQ(l.port, c.port) << c.file;
        EXPECT_FALSE(l.rewritten) << c.file;
    }
}

TEST(Settings, NoFileWritesTheTwentyBareDefaultLines) {
    FakeRig rig;
    rig.main().Form_Load();
    EXPECT_EQ(rig.files.files[kIniPath], crlf(kDefaultIniLines));
}

TEST(Settings, SaveWritesTagsAsHeldAndNumbersWithSpaces) {
    FakeRig rig;
    rig.files.files[kIniPath] =
        crlf(iniWith({{1, "9"}, {2, "x"}, {14, "S"}, {17, "0"}, {20, "8"}})) + "21st line\r\n";
    rig.main().Form_Load();
    rig.main().SAVE_SETTINGS();
    EXPECT_EQ(rig.files.files[kIniPath],
              crlf({"9", "x", "2", "5", "1", "1",       "1",   "1",       "9",     "4",
                    "4", "5", "0", "S", "W", " 33410 ", " 0 ", " 49344 ", " 255 ", " 8 "}));
    // ... and that file loads back to the same settings.
    Form_Kestrelmap& again = rig.restart();
    again.Form_Load();
    EXPECT_EQ(positionTags(again), "9|x|2|5|1|1|1|1|9|4|4|5|0");
    EXPECT_EQ(again.CmdButton_LAT_HEMI.Tag, "S");
    EXPECT_EQ(again.BUTTON_BC, 0);
    EXPECT_EQ(again.MSComm1.portNumber(), 8);
}

TEST(Settings, UnwritableDefaultsAreAppliedOnceFromMemory) {
    for (const bool unreadableAfterWrite : {false, true}) {
        FakeRig rig;
        rig.files.files[kIniPath] = crlf(iniWith({{1, "5"}, {14, "S"}, {20, "0"}}));
        if (unreadableAfterWrite) {
            rig.files.unreadable.insert(kIniPath);
        } else {
            rig.files.unwritable.insert(kIniPath);
        }
        rig.main().LOAD_SETTINGS();
        EXPECT_EQ(rig.files.writes, 1);  // one try at the defaults, no loop
        EXPECT_EQ(positionTags(rig.main()), kDefaultTags);
        EXPECT_EQ(rig.main().CmdButton_LAT_HEMI.Tag, "N");
        EXPECT_EQ(rig.main().VECTOR_COLOR, "ff0000ff");
        EXPECT_EQ(rig.main().BUTTON_BC, 44718);
        EXPECT_TRUE(rig.messages.shown.empty());
    }
}

}  // namespace
}  // namespace kestrel::test
