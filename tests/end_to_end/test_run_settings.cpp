// dsphost's run settings against the plug-in's own settings reader: the
// values dsphost believes the plug-in holds (for the report and the delay)
// must be the values the plug-in really loads, the run's settings file must
// read as the user's file plus the overrides, and each preset must set what
// applying it on its page sets.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dsp/multiband_strings.h"
#include "host/run_settings.h"
#include "settings/platform.h"
#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"

namespace {

namespace fs = std::filesystem;

void write(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

class RunSettings : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/run-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        fs::create_directories(folder + "/lib");
        fs::create_directories(folder + "/profile");
        setenv("XDG_CONFIG_HOME", (folder + "/profile").c_str(), 1);
    }
    void TearDown() override {
        platform_set_own_module_file_for_tests(nullptr);
        settings_reset_to_load_state();
        fs::remove_all(folder);
    }
    // Loads text as the plug-in's settings file, through the plug-in's own
    // start-up: the tag file beside the library forces its folder.
    void plugin_loads(const std::string& text) {
        write(folder + "/lib/zb_local.ini", "");
        write(folder + "/lib/dsp_redozer.ini", text);
        platform_set_own_module_file_for_tests((folder + "/lib/dsp_redozer.so").c_str());
        settings_reset_to_load_state();
        settings_initialise();
    }
    // The plug-in's values in the form effective_values gives them.
    static std::vector<std::pair<std::string, std::string>> plugin_values() {
        return settings_block_values();
    }
    std::string folder;
};

// The values before any settings file, in effective_values' form.
std::vector<std::pair<std::string, std::string>> start_values() {
    return {{"enhance", "1"},        {"stereo_width", "20"},
            {"hpcutoff", "0"},       {"amp_max", "56"},
            {"amp_up", "70"},        {"amp_dwn", "76"},
            {"threshold", "79"},     {"tab_sel", "0"},
            {"eq_enable", "0"},      {"eq", "050,050,050"},
            {"eq_f", "00100,01000,10000"},
            {"enh_multi1", default_enh_multi1},
            {"enh_multi2", default_enh_multi2},
            {"enh_limiter", default_enh_limiter},
            {"loudness_target", "0"}, {"target_lufs", "160"},
            {"tp_limit", "0"},        {"tp_ceiling", "10"},
            {"band_hold", "0"},       {"level_mode", "0"},
            {"tp_mode", "0"}};
}

TEST_F(RunSettings, ValuesAreThoseThePluginLoads) {
    struct Case {
        std::string text;
        std::vector<std::pair<std::string, std::string>> changed;  // from the start values
    };
    const std::string multi1 = "ma--f00250f02200f05000------------l014s025";
    const std::string limiter = "--s---th240re040ce300kn055ra201at025ho000";
    const std::vector<Case> cases = {
        {"", {}},
        {"[zobrin dsp]\nenhance=2\namp_max=30\n", {{"enhance", "2"}, {"amp_max", "30"}}},
        {"enhance=2\nenhance=0\n", {{"enhance", "0"}}},  // later lines win
        // A key with blanks is no key; values wrap at 8 bits.
        {"enhance = 2\namp_up=300\nthreshold=-1\n", {{"amp_up", "44"}, {"threshold", "255"}}},
        {"tab_sel=12", {{"tab_sel", "1"}}},  // a last line without line end loses a character
        // Short band lists: "40,50" has the second gain's last digit at the
        // second position and nothing at the third.
        {"eq=40,50\neq_f=200\n", {{"eq", "040,000,050"}, {"eq_f", "00200,01000,10000"}}},
        {"eq=070,030,060\neq_f=00150,02000,09000\neq_enable=7\n",
         {{"eq", "070,030,060"}, {"eq_f", "00150,02000,09000"}, {"eq_enable", "7"}}},
        {"enh_multi1=" + multi1 + "\nenh_limiter=" + limiter + "\n",
         {{"enh_multi1", multi1}, {"enh_limiter", limiter}}},
        {"enh_multi1=" + std::string(49, 'x') + "\n", {}},  // too long for its field: ignored
        {"enh_multi1=" + std::string(48, 'y') + "\n", {{"enh_multi1", std::string(48, 'y')}}},
        // Read as pieces of 999 characters: the first piece's value loses its
        // last digit and saturates, the rest has no "=".
        {"amp_up=" + std::string(1200, '7') + "\n", {{"amp_up", "255"}}},
        // So a key may start inside a line.
        {"stereo_width=" + std::string(986, ' ') + "enhance=2\n", {{"stereo_width", "0"}, {"enhance", "2"}}},
        {"amp_max=12\r\nstereo_width=5\r\n", {{"amp_max", "12"}, {"stereo_width", "5"}}},
        {"\n\n=5\nnoequals\nenhance=1x\n", {}},
        // A zero byte ends the value before the line end is dropped: "3" loses its 3.
        {std::string("amp_max=3") + '\0' + "9\namp_dwn=8\n", {{"amp_max", "0"}, {"amp_dwn", "8"}}},
    };
    for (const Case& c : cases) {
        auto expected = start_values();
        for (const auto& [key, value] : c.changed) {
            bool found = false;
            for (auto& e : expected)
                if (e.first == key) e.second = value, found = true;
            ASSERT_TRUE(found) << key;
        }
        const auto values = effective_values(c.text);
        EXPECT_EQ(values, expected) << "settings file:\n" << c.text;
        // The plug-in's own start-up reads the same from its file.
        plugin_loads(c.text);
        EXPECT_EQ(plugin_values(), values) << "settings file:\n" << c.text;
    }
}

TEST_F(RunSettings, RunFileIsTheUsersFileThenTheOverrides) {
    const std::vector<SettingLine> overrides = {{"amp_max", "70"}, {"eq", "050,060,040"}, {"enhance", "2"}};
    const std::vector<std::string> users = {
        "",
        "[zobrin dsp]\nenhance=0\namp_dwn=11\n",
        "[zobrin dsp]\namp_dwn=11\ntab_sel=23",   // no line end: tab_sel reads 2, as without overrides
        "amp_dwn=11\nenh_eq_set=011,022,033,044,055,066,3,00200,02000,12000,040,060,070,Mine\n",
    };
    for (const std::string& user : users) {
        plugin_loads(user);
        auto expected = plugin_values();
        for (auto& [key, value] : expected) {
            if (key == "amp_max") value = "70";
            if (key == "eq") value = "050,060,040";
            if (key == "enhance") value = "2";
        }
        const std::string text = run_settings_text(user, overrides);
        plugin_loads(text);
        EXPECT_EQ(plugin_values(), expected) << "user file:\n" << user;
        EXPECT_EQ(effective_values(text), expected) << "user file:\n" << user;
    }
    // The user's presets stay in the run's file.
    plugin_loads(run_settings_text(users[3], overrides));
    ASSERT_NE(settings.eq_preset_slots[builtinEqPresetCount], nullptr);
    EXPECT_STREQ(settings.eq_preset_slots[builtinEqPresetCount] + eqPresetNameOffset, "Mine");
}

TEST_F(RunSettings, EachPresetSetsWhatItsPageSets) {
    // Start from settings that no preset leaves alone by chance.
    const std::string user = "enhance=2\nstereo_width=99\nhpcutoff=98\namp_max=97\namp_up=96\namp_dwn=95\n"
                             "threshold=94\neq_enable=1\neq=011,012,013\neq_f=00021,00022,00023\n";
    for (const char* record : builtin_eq_presets) {
        std::vector<SettingLine> lines;
        std::string error;
        ASSERT_TRUE(preset_lines(record + eqPresetNameOffset, user, lines, error)) << error;
        plugin_loads(user);
        apply_eq_preset_record(record);
        const auto applied = plugin_values();
        plugin_loads(run_settings_text(user, lines));
        EXPECT_EQ(plugin_values(), applied) << record;
    }
    // The user's records, also with fields that do not hold what the page
    // writes: negative and over-long numbers, a letter inside a field.
    const char* user_records[] = {
        "011,022,033,044,055,066,3,00200,02000,12000,-01,060,-99,Odd",
        "999,-09,033,044,055,066,2,-0001,99999,12000,999,000,5x5,Odd two",
    };
    const std::string with_records = user + "enh_eq_set=" + user_records[0] + "\nenh_eq_set=" + user_records[1] + "\n";
    for (const char* record : user_records) {
        std::vector<SettingLine> lines;
        std::string error;
        ASSERT_TRUE(preset_lines(record + eqPresetNameOffset, with_records, lines, error)) << error;
        plugin_loads(with_records);
        apply_eq_preset_record(record);
        const auto applied = plugin_values();
        plugin_loads(run_settings_text(with_records, lines));
        EXPECT_EQ(plugin_values(), applied) << record;
    }
    for (const BuiltinMultibandPreset& p : builtin_multiband_presets) {
        std::vector<SettingLine> lines;
        std::string error;
        ASSERT_TRUE(preset_lines(p.listText, "", lines, error)) << error;
        plugin_loads(run_settings_text("", lines));
        EXPECT_EQ(settings.enhance, 2) << p.listText;
        EXPECT_STREQ(settings.strings.enh_multi1, p.multi1) << p.listText;
        EXPECT_STREQ(settings.strings.enh_multi2, p.multi2) << p.listText;
        EXPECT_STREQ(settings.strings.enh_limiter, p.limiter) << p.listText;
    }
}

TEST_F(RunSettings, PresetNames) {
    std::vector<SettingLine> lines;
    std::string error;
    for (const char* name : {"AC Radio", "ac radio", "[ AC Radio ]", "   [ AC RADIO ]  ", "4 BAND INTENSE 1",
                             "   Bass + Treble", "default", "Equalizer"}) {
        lines.clear();
        EXPECT_TRUE(preset_lines(name, "", lines, error)) << name;
    }
    for (const char* name : {"AC", "Radio", "4 band intense", "", "[ ]", "Restore previous"}) {
        EXPECT_FALSE(preset_lines(name, "", lines, error)) << name;
    }
    const std::string user = "enh_eq_set=011,022,033,044,055,066,1,00200,02000,12000,040,060,070,My Mix\n"
                             "enh_eq_set=011,022,033,044,055,066,1,00200,02000,12000,040,060,070,\n"
                             "enh_eq_set=011,022,033,044,055,066,1,00200,02000,12000,040,060\n"
                             "enh_eq_set=011,022,033,044,055,066,1,00200,02000,12000,040,060,070,[ Last ]\n";
    // Records without a name or with a short prefix are not offered.
    const std::vector<std::string> names = preset_names(user);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "My Mix");
    EXPECT_EQ(names.back(), "Last");
    EXPECT_EQ(names.size(), preset_names("").size() + 2);
    lines.clear();
    ASSERT_TRUE(preset_lines("my mix", user, lines, error)) << error;
    plugin_loads(run_settings_text("", lines));
    EXPECT_EQ(settings.amp_max, 33);
    EXPECT_EQ(settings.enhance, 1);
    EXPECT_EQ(settings.eq_bands[2].frequency, 12000);
}

TEST_F(RunSettings, SetArguments) {
    SettingLine line;
    std::string error;
    struct Case {
        const char* argument;
        const char* key;
        const char* value;  // null: refused
    };
    const Case cases[] = {
        {"enhance=2", "enhance", "2"},       {"enhance=3", nullptr, nullptr},
        {"amp_up=120", "amp_up", "120"},     {"amp_up=121", nullptr, nullptr},
        {"amp_max=007", "amp_max", "7"},     {"amp_max=-1", nullptr, nullptr},
        {"amp_max=1.5", nullptr, nullptr},   {"amp_max=", nullptr, nullptr},
        {"tab_sel=3", "tab_sel", "3"},       {"tab_sel=4", nullptr, nullptr},
        {"eq_enable=1", "eq_enable", "1"},   {"eq_enable=2", nullptr, nullptr},
        {"eq=50,60,40", "eq", "050,060,040"}, {"eq=50,60", nullptr, nullptr},
        {"eq=50,60,101", nullptr, nullptr},  {"eq=50,60,40,30", nullptr, nullptr},
        {"eq_f=20,200,2000", "eq_f", "00020,00200,02000"},
        {"eq_f=19,200,2000", nullptr, nullptr}, {"eq_f=800,8000,20001", nullptr, nullptr},
        {"enh_limiter=l-s---th240re040ce300kn055ra201at025ho000", "enh_limiter",
         "l-s---th240re040ce300kn055ra201at025ho000"},
        {"enh_multi2=", nullptr, nullptr},
        {"enh_eq_set=x", nullptr, nullptr},  {"Enhance=1", nullptr, nullptr},
        {"amp_max", nullptr, nullptr},       {"=5", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        error.clear();
        const bool ok = parse_set_argument(c.argument, line, error);
        EXPECT_EQ(ok, c.value != nullptr) << c.argument;
        if (ok && c.value != nullptr) {
            EXPECT_EQ(line.key, c.key) << c.argument;
            EXPECT_EQ(line.value, c.value) << c.argument;
        } else {
            EXPECT_FALSE(error.empty()) << c.argument;
        }
    }
    // A string one character longer than its field holds is refused; the
    // longest accepted one loads whole.
    EXPECT_FALSE(parse_set_argument("enh_limiter=" + std::string(59, 'l'), line, error));
    ASSERT_TRUE(parse_set_argument("enh_limiter=" + std::string(58, 'l'), line, error));
    plugin_loads(run_settings_text("", {line}));
    EXPECT_EQ(std::string(settings.strings.enh_limiter), std::string(58, 'l'));
}

TEST_F(RunSettings, DelayOfTheMultibandEngine) {
    auto delay = [](const std::string& text, int rate, int channels) {
        return engine_delay_frames(effective_values(text), rate, channels);
    };
    EXPECT_EQ(delay("enhance=2\n", 44100, 2), 882);  // bands and limiter, 441 frames each
    EXPECT_EQ(delay("enhance=2\n", 48000, 1), 960);
    EXPECT_EQ(delay("enhance=2\n", 96000, 2), 1920);
    EXPECT_EQ(delay("enhance=2\n", 96001, 2), 0);    // passed through unprocessed
    EXPECT_EQ(delay("enhance=2\n", 8000, 2), 160);
    EXPECT_EQ(delay("enhance=1\n", 44100, 2), 0);
    EXPECT_EQ(delay("enhance=258\n", 44100, 2), 882);  // 8 bits: 258 is 2
    EXPECT_EQ(delay("enhance=2\nenh_multi1=-" + std::string(default_enh_multi1 + 1) + "\n", 44100, 2), 441);
    EXPECT_EQ(delay("enhance=2\nenh_limiter=L" + std::string(default_enh_limiter + 1) + "\n", 44100, 2), 882);
    EXPECT_EQ(delay("enhance=2\nenh_multi1=-\nenh_limiter=-\n", 44100, 2), 0);
    // The output stage's lookahead adds while either switch is on, in any mode.
    EXPECT_EQ(delay("enhance=2\ntp_limit=1\n", 44100, 2), 882 + 88);
    EXPECT_EQ(delay("enhance=1\nloudness_target=1\n", 48000, 2), 96);
    EXPECT_EQ(delay("enhance=0\ntp_limit=1\nloudness_target=1\n", 8000, 1), 16);
    EXPECT_EQ(delay("tp_limit=1\n", 96001, 2), 0);
}

TEST_F(RunSettings, OutputStageKeysAndPresets) {
    SettingLine line;
    std::string error;
    for (const char* bad : {"target_lufs=49", "target_lufs=401", "tp_ceiling=121", "tp_limit=2", "loudness_target=-1",
                            "band_hold=2", "level_mode=2", "tp_mode=3"})
        EXPECT_FALSE(parse_set_argument(bad, line, error)) << bad;
    ASSERT_TRUE(parse_set_argument("tp_ceiling=120", line, error));
    std::vector<SettingLine> lines;
    ASSERT_TRUE(preset_lines("[ streaming -14 ]", "", lines, error));
    const auto values = effective_values(run_settings_text("", lines));
    auto value = [&](const char* key) {
        for (const auto& [k, v] : values)
            if (k == key) return v;
        return std::string();
    };
    EXPECT_EQ(value("enhance"), "2");
    EXPECT_EQ(value("loudness_target") + value("target_lufs") + value("tp_limit") + value("tp_ceiling"), "1140110");
    // The streaming presets leave the loudness to the stage: no soft clip, no
    // engine limiter, the clean choices on.
    EXPECT_EQ(value("enh_limiter").substr(0, 3), "---");
    EXPECT_EQ(value("band_hold") + value("level_mode") + value("tp_mode"), "112");
}

TEST_F(RunSettings, WhereTheUsersFileIs) {
    const std::string lib = folder + "/lib/dsp_redozer.so";
    write(lib, "");
    // Neither tag file nor profile sub-folder: beside the library.
    EXPECT_EQ(effective_settings_path(lib), folder + "/lib/dsp_redozer.ini");
    // Another name: never beside the library.
    EXPECT_EQ(effective_settings_path(folder + "/lib/other.so"), "");
    // An existing profile sub-folder wins...
    fs::create_directories(folder + "/profile/dsp_redozer");
    EXPECT_EQ(effective_settings_path(lib), folder + "/profile/dsp_redozer/dsp_redozer.ini");
    EXPECT_EQ(effective_settings_path(folder + "/lib/other.so"), folder + "/profile/dsp_redozer/dsp_redozer.ini");
    // ...unless the tag file forces the library's folder.
    write(folder + "/lib/zb_local.ini", "");
    EXPECT_EQ(effective_settings_path(lib), folder + "/lib/dsp_redozer.ini");
    // Without XDG_CONFIG_HOME the profile is under $HOME/.config.
    fs::remove(folder + "/lib/zb_local.ini");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", (folder + "/home").c_str(), 1);
    fs::create_directories(folder + "/home/.config/dsp_redozer");
    EXPECT_EQ(effective_settings_path(lib), folder + "/home/.config/dsp_redozer/dsp_redozer.ini");
}

}  // namespace
