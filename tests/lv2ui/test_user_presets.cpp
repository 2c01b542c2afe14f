// The user's presets on a private HOME: written, listed for their plug-in
// only, read back to the same codes, removed; bad names and a folder that
// cannot be made leave a message and nothing behind.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "lv2ui/ui_model.h"
#include "lv2ui/user_presets.h"

using namespace lv2ui;
using namespace ports;

namespace {

struct PrivateHome {
    std::string path;
    PrivateHome() {
        char dir[] = "/tmp/redozer-presets-XXXXXX";
        path = mkdtemp(dir) ? dir : "";
    }
    ~PrivateHome() { std::system(("rm -rf '" + path + "'").c_str()); }
};

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Codes away from their defaults, each inside its control's range.
void unusualCodes(int32_t codes[controlCount]) {
    for (int k = 0; k < controlCount; ++k) {
        const ControlInfo& c = controls[k];
        codes[k] = c.codeMin + (k * 7 + 3) % (c.codeMax - c.codeMin + 1);
    }
}

}  // namespace

TEST(UserPresets, NamesKeepToTheSafeCharacters) {
    const struct {
        const char* name;
        bool valid;
    } cases[] = {{"Night drive", true}, {"FM-2_b.v3", true}, {"a", true},
                 {"", false},          {" lead", false},   {"trail ", false},
                 {".hidden", false},   {"a/b", false},     {"..", false},
                 {"quote\"", false},   {"tab\t", false},   {"caf\xc3\xa9", false},
                 {"0123456789012345678901234567890123456789012345678", false}};
    for (const auto& c : cases) EXPECT_EQ(validPresetName(c.name), c.valid) << c.name;
    EXPECT_FALSE(validPresetName(nullptr));
}

TEST(UserPresets, SavedPresetIsListedReadBackAndDeleted) {
    PrivateHome home;
    ASSERT_FALSE(home.path.empty());
    int32_t saved[controlCount];
    unusualCodes(saved);
    char message[256];
    ASSERT_TRUE(saveUserPreset(home.path.c_str(), stereoUri, "Night drive", saved, message,
                               sizeof message)) << message;
    ASSERT_TRUE(saveUserPreset(home.path.c_str(), monoUri, "Mono one", saved, message, sizeof message));
    ASSERT_TRUE(saveUserPreset(home.path.c_str(), stereoUri, "Another", saved, message, sizeof message));

    UserPresetList list;
    listUserPresets(home.path.c_str(), stereoUri, list);
    ASSERT_EQ(list.count, 2) << "the mono plug-in's preset is not the stereo one's";
    EXPECT_STREQ(list.names[0].text, "Another");
    EXPECT_STREQ(list.names[1].text, "Night drive");

    int32_t read[controlCount];
    defaultCodes(read);
    ASSERT_TRUE(readUserPreset(home.path.c_str(), "Night drive", read, message, sizeof message));
    for (int k = 0; k < controlCount; ++k) EXPECT_EQ(read[k], saved[k]) << controls[k].symbol;

    // Saving again under the same name replaces it.
    int32_t other[controlCount];
    defaultCodes(other);
    ASSERT_TRUE(saveUserPreset(home.path.c_str(), stereoUri, "Night drive", other, message, sizeof message));
    ASSERT_TRUE(readUserPreset(home.path.c_str(), "Night drive", read, message, sizeof message));
    for (int k = 0; k < controlCount; ++k) EXPECT_EQ(read[k], other[k]) << controls[k].symbol;

    ASSERT_TRUE(deleteUserPreset(home.path.c_str(), "Night drive", message, sizeof message)) << message;
    EXPECT_FALSE(exists(home.path + "/.lv2/redozer-Night drive.lv2"));
    listUserPresets(home.path.c_str(), stereoUri, list);
    ASSERT_EQ(list.count, 1);
    EXPECT_STREQ(list.names[0].text, "Another");
    EXPECT_FALSE(readUserPreset(home.path.c_str(), "Night drive", read, message, sizeof message));
    EXPECT_FALSE(deleteUserPreset(home.path.c_str(), "Night drive", message, sizeof message));
}

TEST(UserPresets, FailuresLeaveAMessageAndNothingBehind) {
    PrivateHome home;
    int32_t codes[controlCount];
    defaultCodes(codes);
    char message[256] = "";
    EXPECT_FALSE(saveUserPreset(home.path.c_str(), stereoUri, "../escape", codes, message, sizeof message));
    EXPECT_NE(strstr(message, "Not saved"), nullptr);
    EXPECT_FALSE(exists(home.path + "/.lv2"));
    EXPECT_FALSE(deleteUserPreset(home.path.c_str(), "../..", message, sizeof message));

    // A plain file where the .lv2 folder should be (root ignores chmod).
    FILE* f = fopen((home.path + "/.lv2").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    message[0] = 0;
    EXPECT_FALSE(saveUserPreset(home.path.c_str(), stereoUri, "Fine name", codes, message, sizeof message));
    EXPECT_NE(strstr(message, "cannot make the folder"), nullptr) << message;
    UserPresetList list;
    listUserPresets(home.path.c_str(), stereoUri, list);
    EXPECT_EQ(list.count, 0);
    // No HOME at all.
    EXPECT_FALSE(saveUserPreset("", stereoUri, "Fine name", codes, message, sizeof message));
    listUserPresets(nullptr, stereoUri, list);
    EXPECT_EQ(list.count, 0);
}

// The Output page's panel: typing keeps to the safe characters, Save writes
// the current codes, choosing the preset later writes them back, Delete
// removes it; a folder that cannot be made leaves a message and the codes.
namespace {

int widgetOf(Kind kind, int onCode = -1) {
    const Layout& l = uiLayout();
    for (int i = 0; i < l.count; ++i)
        if (l.widgets[i].kind == kind && l.widgets[i].page == pageOutput &&
            (onCode < 0 || l.widgets[i].onCode == onCode))
            return i;
    return -1;
}

bool press(UiState& s, int index, Writes& out, int row = 0) {
    const Rect r = uiLayout().widgets[index].rect;
    return pointerPress(s, r.x + 4, r.y + 2 + presetRowHeight * row + presetRowHeight / 2.0, false, out);
}

}  // namespace

TEST(UserPresetPanel, SaveApplyAndDeleteFromTheOutputPage) {
    PrivateHome home;
    UiState s;
    initialState(s, 2);
    loadUserPresets(s, home.path.c_str());
    s.page = pageOutput;
    const int field = widgetOf(Kind::NameField), save = widgetOf(Kind::Action, 0),
              remove = widgetOf(Kind::Action, 1), list = widgetOf(Kind::UserList);
    ASSERT_GE(field, 0);
    ASSERT_GE(list, 0);
    Writes w{};
    EXPECT_FALSE(typeText(s, "x")) << "nothing is typed before the field has the focus";
    press(s, field, w);
    ASSERT_TRUE(nameFieldFocused(s));
    typeText(s, " .Late/night: 2");
    EXPECT_STREQ(s.presetName, "Latenight 2");
    EXPECT_NE(strstr(s.status, "letters, digits"), nullptr) << "a refused character says why";

    int32_t saved[controlCount];
    unusualCodes(saved);
    memcpy(s.codes, saved, sizeof saved);
    press(s, save, w);
    EXPECT_EQ(w.count, 0) << "saving writes no port";
    ASSERT_EQ(s.userPresets.count, 1) << s.status;
    EXPECT_EQ(s.userSelection, 0);

    defaultCodes(s.codes);
    w = Writes{};
    press(s, list, w);
    applyWrites(s, w);
    for (int k = 0; k < controlCount; ++k) {
        if (controls[k].effect != Effect::Meters) {
            EXPECT_EQ(s.codes[k], saved[k]) << controls[k].symbol;
        }
    }

    press(s, remove, w);
    EXPECT_EQ(s.userPresets.count, 0) << s.status;
    EXPECT_FALSE(exists(home.path + "/.lv2/redozer-Latenight 2.lv2"));

    // Another window saves and deletes: a rescan shows it, and says so once.
    char message[256];
    ASSERT_TRUE(saveUserPreset(home.path.c_str(), stereoUri, "Elsewhere", saved, message, sizeof message));
    EXPECT_TRUE(rescanUserPresets(s));
    ASSERT_EQ(s.userPresets.count, 1);
    EXPECT_STREQ(s.userPresets.names[0].text, "Elsewhere");
    EXPECT_FALSE(rescanUserPresets(s));
    ASSERT_TRUE(deleteUserPreset(home.path.c_str(), "Elsewhere", message, sizeof message));
    EXPECT_TRUE(rescanUserPresets(s));
    EXPECT_EQ(s.userPresets.count, 0);
}

TEST(UserPresetPanel, AFolderThatCannotBeMadeLeavesAMessage) {
    PrivateHome home;
    FILE* f = fopen((home.path + "/.lv2").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    UiState s;
    initialState(s, 1);
    loadUserPresets(s, home.path.c_str());
    s.page = pageOutput;
    snprintf(s.presetName, sizeof s.presetName, "Kept");
    int32_t before[controlCount];
    memcpy(before, s.codes, sizeof before);
    Writes w{};
    press(s, widgetOf(Kind::Action, 0), w);
    EXPECT_NE(strstr(s.status, "Not saved"), nullptr) << s.status;
    EXPECT_EQ(memcmp(before, s.codes, sizeof before), 0);
    EXPECT_EQ(s.userPresets.count, 0);
    loadUserPresets(s, nullptr);
    press(s, widgetOf(Kind::Action, 0), w);
    EXPECT_NE(strstr(s.status, "HOME"), nullptr) << s.status;
}
