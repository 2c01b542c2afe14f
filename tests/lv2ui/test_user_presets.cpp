// The user's presets on a private HOME: written, listed for their plug-in
// only, read back to the same codes, removed; bad names and a folder that
// cannot be made leave a message and nothing behind.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

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
