// The settings file: where it is read and written, how each key is read, the
// exact text the writer produces, and that no failure loses settings.
//
// The library's folder is steered with the platform layer's test hook, which
// pretends the code lives in a file of a temporary folder; the name rule (only
// a module called dsp_redozer.so counts, otherwise the executable stands in)
// still runs as in the shipped library. The per-user folder is the fixture's
// temporary XDG_CONFIG_HOME.
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/dsp_interface.h"
#include "settings/platform.h"
#include "settings/settings_file.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

const char* const default_file_text =
    "[zobrin dsp]\n"
    "enhance=1\n"
    "stereo_width=20\n"
    "hpcutoff=0\n"
    "amp_max=56\n"
    "amp_up=70\n"
    "amp_dwn=76\n"
    "threshold=79\n"
    "tab_sel=0\n"
    "eq_enable=0\n"
    "eq=050,050,050\n"
    "eq_f=00100,01000,10000\n"
    "enh_multi1=m---f00300f03000f00000------------l020s025\n"
    "enh_multi2=----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------\n"
    "enh_limiter=l-s---th240re040ce300kn055ra201at025ho000\n";

// A user record with a complete numeric prefix and the given name.
std::string user_record(const std::string& name) {
    return "011,022,033,044,055,066,3,00200,02000,12000,040,060,070," + name;
}

std::vector<std::string> folder_entries(const std::string& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path, error))
        names.push_back(entry.path().filename().string());
    return names;
}

std::string executable_path() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

class SettingsFileTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        use_library_file("dsp_redozer.so");
    }
    void TearDown() override {
        platform_set_own_module_file_for_tests(nullptr);
        EngineTest::TearDown();
    }
    void use_library_file(const std::string& name) {
        module_file = library.file(name);
        platform_set_own_module_file_for_tests(module_file.c_str());
    }
    std::string profile_folder() const { return profile.file("dsp_redozer"); }
    std::string profile_ini() const { return profile_folder() + "/dsp_redozer.ini"; }
    std::string library_ini() const { return library.file("dsp_redozer.ini"); }
    std::string tag_file() const { return library.file("zb_local.ini"); }
    void make_profile_folder() const { fs::create_directory(profile_folder()); }
    // A restart: the block as at load, then Init.
    void restart() {
        settings_reset_to_load_state();
        initialise();
    }
    // Initialise from a file beside the library holding these lines.
    void load_library_file(const std::string& text) {
        write_file(library_ini(), text);
        initialise();
    }

    TempFolder library;
    std::string module_file;
};

// ---- Where the file lives ------------------------------------------------------

using SettingsFileLocation = SettingsFileTest;

TEST_F(SettingsFileLocation, LibraryFolderPathKeepsTheFolderAndNamesTheSettingsFile) {
    char path[1000];
    ASSERT_EQ(dll_folder_ini_path(path, sizeof path), 1);
    EXPECT_EQ(std::string(path), library_ini());

    // The name compares without regard to case; the folder keeps its case.
    fs::create_directory(library.file("MixedCase"));
    module_file = library.file("MixedCase/DSP_Redozer.SO");
    platform_set_own_module_file_for_tests(module_file.c_str());
    ASSERT_EQ(dll_folder_ini_path(path, sizeof path), 1);
    EXPECT_EQ(std::string(path), library.file("MixedCase/dsp_redozer.ini"));
}

TEST_F(SettingsFileLocation, AModuleWithAnotherNameIsReplacedByTheExecutable) {
    for (const char* name : {"dsp_redozer2.so", "dsp_redozer.so.1", "xdsp_redozer.so", "dsp_redoze.so"}) {
        SCOPED_TRACE(name);
        use_library_file(name);
        char path[1000];
        ASSERT_GT(platform_module_path(path, sizeof path), 0);
        EXPECT_EQ(std::string(path), executable_path());
        // The executable is not the library: its folder is never used.
        EXPECT_EQ(dll_folder_ini_path(path, sizeof path), 0);
    }
}

TEST_F(SettingsFileLocation, PathsThatDoNotFitTheBufferAreRefusedWithoutOverrun) {
    char buffer[200];
    const int module_length = static_cast<int>(module_file.size());
    // Room for the module path but not for the one character longer ini name.
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(dll_folder_ini_path(buffer, module_length + 1), 0);
    for (size_t i = static_cast<size_t>(module_length) + 1; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], '#') << "written past the buffer at " << i;
    // Not even room for the module path.
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(dll_folder_ini_path(buffer, 10), 0);
    for (size_t i = 10; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], '#');
    EXPECT_EQ(dll_folder_ini_path(buffer, module_length + 2), 1);
    EXPECT_EQ(std::string(buffer), library_ini());
}

TEST_F(SettingsFileLocation, AModulePathTooLongForTheTagBufferTouchesNoFolder) {
    // Three nested folders make the path longer than the 299 characters the
    // tag file's buffer takes; a cut path would name one of the outer folders.
    std::string folder = library.path;
    for (char c : {'a', 'b', 'c'}) {
        folder += "/" + std::string(100, c);
        fs::create_directory(folder);
    }
    module_file = folder + "/dsp_redozer.so";
    platform_set_own_module_file_for_tests(module_file.c_str());
    ASSERT_GT(module_file.size(), 299u);

    EXPECT_EQ(local_tag_file(1), 0);
    for (const auto& entry : fs::recursive_directory_iterator(library.path))
        EXPECT_NE(entry.path().filename(), "zb_local.ini") << entry.path();
    // The settings-file path has 1000 characters and takes it whole.
    char path[1000];
    ASSERT_EQ(dll_folder_ini_path(path, sizeof path), 1);
    EXPECT_EQ(std::string(path), folder + "/dsp_redozer.ini");
}

TEST_F(SettingsFileLocation, ProfilePathNeedsTheSubFolderUnlessAskedToCreateIt) {
    char path[1000];
    EXPECT_EQ(profile_ini_path(path, 0), 0);
    EXPECT_FALSE(fs::exists(profile_folder()));
    ASSERT_EQ(profile_ini_path(path, 1), 1);
    EXPECT_TRUE(fs::is_directory(profile_folder()));
    EXPECT_EQ(std::string(path), profile_ini());
    EXPECT_EQ(profile_ini_path(path, 0), 1);
    EXPECT_EQ(std::string(path), profile_ini());
}

TEST_F(SettingsFileLocation, ARelativeConfigFolderGivesWayToTheHomeConfigFolder) {
    TempFolder home;
    std::string saved_home = getenv("HOME") != nullptr ? getenv("HOME") : "";
    setenv("HOME", home.path.c_str(), 1);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    char path[1000];
    int without_folder = profile_ini_path(path, 0);
    // A fresh account has no .config yet: creating makes both folders.
    int created = profile_ini_path(path, 1);
    std::string created_path = path;
    setenv("HOME", saved_home.c_str(), 1);

    EXPECT_EQ(without_folder, 0);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(created_path, home.path + "/.config/dsp_redozer/dsp_redozer.ini");
    EXPECT_TRUE(fs::is_directory(home.path + "/.config/dsp_redozer"));
}

TEST_F(SettingsFileLocation, TagFileModesReportItsRealState) {
    EXPECT_EQ(local_tag_file(0), 0);
    EXPECT_EQ(local_tag_file(1), 1);
    EXPECT_TRUE(fs::is_regular_file(tag_file()));
    EXPECT_EQ(fs::file_size(tag_file()), 0u);
    EXPECT_EQ(local_tag_file(1), 1);  // already there: still one file
    EXPECT_EQ(local_tag_file(0), 1);
    EXPECT_EQ(local_tag_file(2), 0);
    EXPECT_FALSE(fs::exists(tag_file()));
    EXPECT_EQ(local_tag_file(2), 0);

    // A folder of that name is no tag file, and it cannot be made into one.
    fs::create_directory(tag_file());
    EXPECT_EQ(local_tag_file(0), 0);
    EXPECT_EQ(local_tag_file(1), 0);
    fs::remove(tag_file());

    // A library in a folder that does not exist cannot get a tag file.
    module_file = library.file("missing/dsp_redozer.so");
    platform_set_own_module_file_for_tests(module_file.c_str());
    EXPECT_EQ(local_tag_file(1), 0);
}

TEST_F(SettingsFileLocation, TheProfileSubFolderWinsOverTheLibraryFolder) {
    write_file(library_ini(), "amp_max=11\n");
    make_profile_folder();
    write_file(profile_ini(), "amp_max=22\n");
    initialise();
    EXPECT_EQ(settings.amp_max, 22);
    EXPECT_EQ(settings.use_profile_ini, 1);
    EXPECT_EQ(settings.local_tag_present, 0);
}

TEST_F(SettingsFileLocation, TheTagFileForcesTheLibraryFolder) {
    write_file(library_ini(), "amp_max=11\n");
    make_profile_folder();
    write_file(profile_ini(), "amp_max=22\n");
    write_file(tag_file(), "");
    initialise();
    EXPECT_EQ(settings.amp_max, 11);
    EXPECT_EQ(settings.use_profile_ini, 0);
    EXPECT_EQ(settings.local_tag_present, 1);
}

TEST_F(SettingsFileLocation, WithoutProfileSubFolderTheLibraryFolderIsRead) {
    load_library_file("amp_max=11\n");
    EXPECT_EQ(settings.amp_max, 11);
    EXPECT_EQ(settings.use_profile_ini, 0);
    EXPECT_FALSE(fs::exists(profile_folder()));
}

TEST_F(SettingsFileLocation, AnotherModuleNameUsesOnlyAnExistingProfileSubFolder) {
    use_library_file("renamed.so");
    write_file(library_ini(), "amp_max=11\n");
    initialise();
    EXPECT_EQ(settings.amp_max, 56);  // the library's folder is never read
    settings.amp_max = 33;
    settings_save();
    EXPECT_FALSE(fs::exists(profile_folder()));
    EXPECT_EQ(read_file(library_ini()), "amp_max=11\n");

    make_profile_folder();
    write_file(profile_ini(), "amp_max=22\n");
    restart();
    EXPECT_EQ(settings.amp_max, 22);
    settings.amp_max = 44;
    settings_save();
    restart();
    EXPECT_EQ(settings.amp_max, 44);
    EXPECT_EQ(read_file(library_ini()), "amp_max=11\n");
}

// ---- Reading -------------------------------------------------------------------

using SettingsFileRead = SettingsFileTest;

TEST_F(SettingsFileRead, EveryKeyOfTheTableSetsItsField) {
    load_library_file(
        "[zobrin dsp]\n"
        "enhance=2\nstereo_width=31\nhpcutoff=32\namp_max=33\namp_up=34\namp_dwn=35\n"
        "threshold=36\ntab_sel=3\neq_enable=1\neq=010,020,030\neq_f=00200,02000,12000\n"
        "enh_multi1=m---f00400\nenh_multi2=----m050\nenh_limiter=l-s---th100\n");
    EXPECT_EQ(settings.enhance, 2);
    EXPECT_EQ(settings.stereo_width, 31);
    EXPECT_EQ(settings.hpcutoff, 32);
    EXPECT_EQ(settings.amp_max, 33);
    EXPECT_EQ(settings.amp_up, 34);
    EXPECT_EQ(settings.amp_dwn, 35);
    EXPECT_EQ(settings.threshold, 36);
    EXPECT_EQ(settings.tab_sel, 3);
    EXPECT_EQ(settings.eq_enable, 1);
    const int gains[3] = {10, 20, 30}, frequencies[3] = {200, 2000, 12000};
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(settings.eq_bands[b].gain, gains[b]);
        EXPECT_EQ(settings.eq_bands[b].frequency, frequencies[b]);
    }
    EXPECT_STREQ(settings.strings.enh_multi1, "m---f00400");
    EXPECT_STREQ(settings.strings.enh_multi2, "----m050");
    EXPECT_STREQ(settings.strings.enh_limiter, "l-s---th100");
}

TEST_F(SettingsFileRead, KeysMatchExactlyAndUnknownLinesAreSkipped) {
    load_library_file(
        "enhance = 2\n"     // blanks around "=": another key
        "Enhance=2\n"       // keys are case-sensitive
        " amp_max=1\n"
        "amp_dwn =1\n"
        "threshold\n"       // no "="
        "volume=9\n"
        "=5\n");
    EXPECT_EQ(settings.enhance, 1);
    EXPECT_EQ(settings.amp_max, 56);
    EXPECT_EQ(settings.amp_dwn, 76);
    EXPECT_EQ(settings.threshold, 79);
}

TEST_F(SettingsFileRead, EightBitFieldsKeepTheLowBitsOfASaturatedValue) {
    load_library_file(
        "amp_up=300\n"                 // 300 - 256
        "amp_max=-1\n"
        "amp_dwn= +77abc\n"            // blanks, a sign and trailing text as atoi reads them
        "threshold=99999999999999\n"   // saturates at INT_MAX, whose low byte is 255
        "hpcutoff=-99999999999999\n"   // saturates at INT_MIN, whose low byte is 0
        "stereo_width=x12\n"
        "eq_enable=99999999999\n");
    EXPECT_EQ(settings.amp_up, 44);
    EXPECT_EQ(settings.amp_max, 255);
    EXPECT_EQ(settings.amp_dwn, 77);
    EXPECT_EQ(settings.threshold, 255);
    EXPECT_EQ(settings.hpcutoff, 0);
    EXPECT_EQ(settings.stereo_width, 0);
    EXPECT_EQ(settings.eq_enable, INT_MAX);
}

TEST_F(SettingsFileRead, EqEnableIsStoredWhole) {
    load_library_file("eq_enable=-300\n");
    EXPECT_EQ(settings.eq_enable, -300);
}

TEST_F(SettingsFileRead, BandValuesAreReadAtTheirFixedPositions) {
    load_library_file("eq=7,80000,12\neq_f=1,,,,,2,,,,,345\n");
    // Gains at 0, 4 and 8: "7,80000,12" gives 7, then "000,12" reads 0, then 12.
    EXPECT_EQ(settings.eq_bands[0].gain, 7);
    EXPECT_EQ(settings.eq_bands[1].gain, 0);
    EXPECT_EQ(settings.eq_bands[2].gain, 12);
    // Frequencies at 0, 6 and 12.
    EXPECT_EQ(settings.eq_bands[0].frequency, 1);
    EXPECT_EQ(settings.eq_bands[1].frequency, 2);
    EXPECT_EQ(settings.eq_bands[2].frequency, 345);
}

TEST_F(SettingsFileRead, BandValuesKeepTheLowSixteenBits) {
    load_library_file("eq=70000,001,002\neq_f=65537,00000,00000\n");
    EXPECT_EQ(settings.eq_bands[0].gain, 70000 - 65536);
    EXPECT_EQ(settings.eq_bands[0].frequency, 1);
}

TEST_F(SettingsFileRead, ShortBandValuesLeaveTheMissingBandsAlone) {
    load_library_file("eq=011,022\neq_f=00222\n");
    EXPECT_EQ(settings.eq_bands[0].gain, 11);
    EXPECT_EQ(settings.eq_bands[1].gain, 22);
    EXPECT_EQ(settings.eq_bands[2].gain, 50);
    EXPECT_EQ(settings.eq_bands[0].frequency, 222);
    EXPECT_EQ(settings.eq_bands[1].frequency, 1000);
    EXPECT_EQ(settings.eq_bands[2].frequency, 10000);
}

TEST_F(SettingsFileRead, AnEmptyBandValueChangesNothing) {
    load_library_file("eq=\neq_f=\n");
    for (int b = 0; b < 3; ++b) EXPECT_EQ(settings.eq_bands[b].gain, 50);
    EXPECT_EQ(settings.eq_bands[2].frequency, 10000);
}

TEST_F(SettingsFileRead, StringsAreTakenOnlyWhenTheirRawLengthFitsTheField) {
    struct Case {
        const char* key;
        char* field;
        size_t size;
    };
    const Case cases[] = {
        {"enh_multi1", settings.strings.enh_multi1, 50},
        {"enh_multi2", settings.strings.enh_multi2, 90},
        {"enh_limiter", settings.strings.enh_limiter, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        settings_reset_to_load_state();
        const std::string fits(c.size - 2, 'a');   // raw length size - 1
        const std::string too_long(c.size - 1, 'b');  // raw length size
        write_file(library_ini(), std::string(c.key) + "=" + fits + "\n" + c.key + "=" + too_long + "\n");
        initialise();
        EXPECT_EQ(std::string(c.field), fits);
        EXPECT_EQ(c.field[c.size - 1], '\0');
    }
}

TEST_F(SettingsFileRead, AShortStringKeepsTheRestOfItsField) {
    load_library_file("enh_multi1=abc\n");
    EXPECT_STREQ(settings.strings.enh_multi1, "abc");
    // Characters after the new terminator are those of the default text.
    EXPECT_EQ(std::string(settings.strings.enh_multi1 + 4), std::string(default_enh_multi1 + 4));
}

TEST_F(SettingsFileRead, LaterLinesWin) {
    load_library_file("amp_max=10\neq=001,002,003\namp_max=20\neq=004\nenh_limiter=x\nenh_limiter=y\n");
    EXPECT_EQ(settings.amp_max, 20);
    EXPECT_EQ(settings.eq_bands[0].gain, 4);
    EXPECT_EQ(settings.eq_bands[1].gain, 2);
    EXPECT_STREQ(settings.strings.enh_limiter, "y");
}

TEST_F(SettingsFileRead, TheLastCharacterOfAValueGoesEvenWithoutLineEnd) {
    load_library_file("amp_max=42\ntab_sel=12");
    EXPECT_EQ(settings.amp_max, 42);
    EXPECT_EQ(settings.tab_sel, 1);
}

TEST_F(SettingsFileRead, AnEmptyLastValueIsHarmless) {
    load_library_file("amp_max=42\nenh_multi1=");
    EXPECT_EQ(settings.amp_max, 42);
    EXPECT_STREQ(settings.strings.enh_multi1, "");
}

TEST_F(SettingsFileRead, ALineOverNineHundredNinetyNineCharactersIsReadInPieces) {
    // The first 999 characters form one line; the rest, "amp_max=33", another.
    std::string line = "junk=" + std::string(994, 'a') + "amp_max=33\n";
    std::string multi = "enh_multi2=" + std::string(1500, 'm') + "\n";
    load_library_file(line + multi + "amp_up=12\n");
    EXPECT_EQ(settings.amp_max, 33);
    EXPECT_EQ(settings.amp_up, 12);
    EXPECT_STREQ(settings.strings.enh_multi2, default_enh_multi2);
}

TEST_F(SettingsFileRead, UserPresetsFillTheFreeSlotsInFileOrder) {
    std::string text;
    for (int i = 0; i < 25; ++i) text += "enh_eq_set=" + user_record("[ user " + std::to_string(i) + " ]") + "\n";
    load_library_file(text);
    for (int i = 0; i < builtinEqPresetCount; ++i) EXPECT_EQ(settings.eq_preset_slots[i], builtin_eq_presets[i]);
    for (int slot = builtinEqPresetCount; slot < presetSlotCount; ++slot) {
        ASSERT_NE(settings.eq_preset_slots[slot], nullptr) << slot;
        EXPECT_EQ(std::string(settings.eq_preset_slots[slot]),
                  user_record("[ user " + std::to_string(slot - builtinEqPresetCount) + " ]"));
    }
}

TEST_F(SettingsFileRead, RecordsWithoutTheirNumericPrefixAreRejected) {
    const std::string whole = user_record("x");  // 57 characters
    load_library_file("enh_eq_set=" + whole.substr(0, 55) + "\n" +  // prefix cut short
                      "enh_eq_set=\n" +
                      "enh_eq_set=" + whole + "\n" +
                      "enh_eq_set=" + whole.substr(0, 56) + "\n");  // empty name: complete
    ASSERT_NE(settings.eq_preset_slots[9], nullptr);
    EXPECT_EQ(std::string(settings.eq_preset_slots[9]), whole);
    ASSERT_NE(settings.eq_preset_slots[10], nullptr);
    EXPECT_EQ(std::string(settings.eq_preset_slots[10]), whole.substr(0, 56));
    EXPECT_EQ(settings.eq_preset_slots[11], nullptr);
}

TEST_F(SettingsFileRead, APresetOnTheLastLineLosesItsLastCharacter) {
    load_library_file("enh_eq_set=" + user_record("[ last ]"));
    ASSERT_NE(settings.eq_preset_slots[9], nullptr);
    EXPECT_EQ(std::string(settings.eq_preset_slots[9]), user_record("[ last "));
}

TEST_F(SettingsFileRead, NoFileOrAFolderInItsPlaceLeavesTheDefaults) {
    initialise();
    EXPECT_EQ(settings.amp_max, 56);
    EXPECT_EQ(settings.init_state, 1);
    restart();
    fs::create_directory(library_ini());
    restart();
    EXPECT_EQ(settings.amp_max, 56);
    EXPECT_STREQ(settings.strings.enh_multi1, default_enh_multi1);
    EXPECT_EQ(settings.eq_preset_slots[9], nullptr);
    EXPECT_EQ(settings.eq_preset_slots[8], builtin_eq_presets[8]);
}

TEST_F(SettingsFileRead, BinaryContentIsReadSafely) {
    std::string text = "amp_max=12";
    text += '\0';
    text += "3\nenh_multi1=ab";
    text += '\0';
    text += "cdef\namp_up=5\n";
    load_library_file(text);
    EXPECT_EQ(settings.amp_max, 1);  // the value ends at the zero byte and loses "2"
    EXPECT_STREQ(settings.strings.enh_multi1, "a");
    EXPECT_EQ(settings.amp_up, 5);
}

// ---- Writing -------------------------------------------------------------------

using SettingsFileWrite = SettingsFileTest;

TEST_F(SettingsFileWrite, TheDefaultsGiveExactlyFifteenLines) {
    initialise();
    settings_save();
    EXPECT_EQ(read_file(library_ini()), default_file_text);
    // Nothing else is left beside it.
    EXPECT_EQ(folder_entries(library.path), std::vector<std::string>{"dsp_redozer.ini"});
    EXPECT_FALSE(fs::exists(profile_folder()));
}

TEST_F(SettingsFileWrite, LinesFollowTheSettingsInTheirFormats) {
    initialise();
    settings.enhance = 2;
    settings.stereo_width = 5;
    settings.hpcutoff = 100;
    settings.amp_max = 0;
    settings.amp_up = 120;
    settings.amp_dwn = 255;
    settings.threshold = 1;
    settings.tab_sel = 3;
    settings.eq_enable = -7;
    settings.eq_bands[0] = {1, 20};
    settings.eq_bands[1] = {99, 800};
    settings.eq_bands[2] = {100, 65535};
    strcpy(settings.strings.enh_multi1, "m");
    strcpy(settings.strings.enh_multi2, "");
    strcpy(settings.strings.enh_limiter, "l-s");
    settings_save();
    EXPECT_EQ(read_file(library_ini()),
              "[zobrin dsp]\nenhance=2\nstereo_width=5\nhpcutoff=100\namp_max=0\namp_up=120\n"
              "amp_dwn=255\nthreshold=1\ntab_sel=3\neq_enable=-7\neq=001,099,100\n"
              "eq_f=00020,00800,65535\nenh_multi1=m\nenh_multi2=\nenh_limiter=l-s\n");
}

TEST_F(SettingsFileWrite, UserPresetsFollowInSlotOrderUpToTheFirstGap) {
    initialise();
    settings.eq_preset_slots[9] = strdup(user_record("[ one ]").c_str());
    settings.eq_preset_slots[10] = strdup(user_record("[ two ]").c_str());
    settings.eq_preset_slots[12] = strdup(user_record("[ after a gap ]").c_str());
    settings_save();
    EXPECT_EQ(read_file(library_ini()), std::string(default_file_text) +
                                            "enh_eq_set=" + user_record("[ one ]") + "\n" +
                                            "enh_eq_set=" + user_record("[ two ]") + "\n");
    // The slots stay as they were, owned by the table.
    EXPECT_NE(settings.eq_preset_slots[12], nullptr);
    EXPECT_EQ(settings.use_profile_ini, 0);
}

TEST_F(SettingsFileWrite, AStringWithoutTerminatorIsWrittenWithinItsField) {
    initialise();
    memset(settings.strings.enh_multi1, 'z', sizeof settings.strings.enh_multi1);
    settings_save();
    std::string text = read_file(library_ini());
    EXPECT_NE(text.find("\nenh_multi1=" + std::string(49, 'z') + "\nenh_multi2="), std::string::npos);
}

TEST_F(SettingsFileWrite, WhatIsSavedIsReadBackAtTheNextStart) {
    initialise();
    settings.enhance = 0;
    settings.stereo_width = 77;
    settings.amp_up = 119;
    settings.tab_sel = 2;
    settings.eq_enable = 1;
    settings.eq_bands[1] = {12, 3456};
    strcpy(settings.strings.enh_multi2, "----m012");
    for (int slot = 9; slot < presetSlotCount; ++slot)
        settings.eq_preset_slots[slot] = strdup(user_record("[ " + std::to_string(slot) + " ]").c_str());
    settings_save();
    restart();
    EXPECT_EQ(settings.enhance, 0);
    EXPECT_EQ(settings.stereo_width, 77);
    EXPECT_EQ(settings.amp_up, 119);
    EXPECT_EQ(settings.tab_sel, 2);
    EXPECT_EQ(settings.eq_enable, 1);
    EXPECT_EQ(settings.eq_bands[1].gain, 12);
    EXPECT_EQ(settings.eq_bands[1].frequency, 3456);
    EXPECT_STREQ(settings.strings.enh_multi2, "----m012");
    for (int slot = 9; slot < presetSlotCount; ++slot) {
        ASSERT_NE(settings.eq_preset_slots[slot], nullptr);
        EXPECT_EQ(std::string(settings.eq_preset_slots[slot]), user_record("[ " + std::to_string(slot) + " ]"));
    }
}

TEST_F(SettingsFileWrite, OutputStageKeysAreWrittenOnlyAwayFromTheirDefaultsAndReadBack) {
    initialise();
    settings.tp_limit = 1;
    settings.target_lufs = 230;
    settings_save();
    EXPECT_EQ(read_file(library_ini()), std::string(default_file_text) +
                                            "loudness_target=0\ntarget_lufs=230\ntp_limit=1\ntp_ceiling=10\n");
    // Out-of-range values keep the setting; the others are read back.
    write_file(library_ini(), read_file(library_ini()) + "tp_ceiling=121\nloudness_target=1\n");
    restart();
    EXPECT_EQ(settings.tp_limit, 1);
    EXPECT_EQ(settings.target_lufs, 230);
    EXPECT_EQ(settings.tp_ceiling, 10);
    EXPECT_EQ(settings.loudness_target, 1);
}

TEST_F(SettingsFileWrite, CleanChoicesAreWrittenOnlyWhenNotZeroAndReadBack) {
    initialise();
    settings.tp_mode = 2;
    settings_save();
    EXPECT_EQ(read_file(library_ini()), std::string(default_file_text) + "tp_mode=2\n");
    // Out-of-range values keep the setting.
    write_file(library_ini(), read_file(library_ini()) + "band_hold=1\nlevel_mode=2\ntp_mode=3\n");
    restart();
    EXPECT_EQ(settings.band_hold, 1);
    EXPECT_EQ(settings.level_mode, 0);
    EXPECT_EQ(settings.tp_mode, 2);
}

TEST_F(SettingsFileWrite, AnExistingProfileSubFolderIsWrittenAndTheLibraryFileLeftAlone) {
    write_file(library_ini(), "amp_max=11\n");
    make_profile_folder();
    initialise();
    settings_save();
    EXPECT_EQ(read_file(profile_ini()), default_file_text);
    EXPECT_EQ(read_file(library_ini()), "amp_max=11\n");
}

TEST_F(SettingsFileWrite, ALibraryFolderThatCannotTakeTheFileMovesTheSettingsToTheProfile) {
    // Tests run as root, so a folder standing where the file would go stands
    // in for a folder without write permission.
    fs::create_directory(library_ini());
    initialise();
    settings.amp_max = 99;
    settings_save();
    ASSERT_TRUE(fs::is_regular_file(profile_ini()));
    EXPECT_EQ(folder_entries(library.path), std::vector<std::string>{"dsp_redozer.ini"});
    EXPECT_EQ(folder_entries(profile_folder()), std::vector<std::string>{"dsp_redozer.ini"});
    EXPECT_EQ(settings.use_profile_ini, 0);  // the save changes no flag

    restart();
    EXPECT_EQ(settings.use_profile_ini, 1);
    EXPECT_EQ(settings.amp_max, 99);
}

TEST_F(SettingsFileWrite, WithTheTagFileNothingGoesToTheProfile) {
    write_file(tag_file(), "");
    fs::create_directory(library_ini());
    initialise();
    EXPECT_EQ(settings.local_tag_present, 1);
    settings_save();
    EXPECT_FALSE(fs::exists(profile_folder()));
    EXPECT_TRUE(fs::is_directory(library_ini()));
    EXPECT_EQ(folder_entries(library.path).size(), 2u);  // the tag file and the folder
}

TEST_F(SettingsFileWrite, ATagFileCreatedLaterForbidsTheFallback) {
    fs::create_directory(library_ini());
    initialise();
    settings.local_tag_present = local_tag_file(1);
    ASSERT_EQ(settings.local_tag_present, 1);
    settings_save();
    EXPECT_FALSE(fs::exists(profile_folder()));
}

TEST_F(SettingsFileWrite, ATagFileCreatedLaterMovesTheFileOnlyFromTheNextStart) {
    write_file(library_ini(), "amp_max=11\n");
    make_profile_folder();
    write_file(profile_ini(), "amp_max=22\n");
    initialise();
    ASSERT_EQ(settings.use_profile_ini, 1);
    // The Misc page ticks its box: the tag file appears, but this process
    // keeps saving where loading chose.
    settings.local_tag_present = local_tag_file(1);
    ASSERT_EQ(settings.local_tag_present, 1);
    settings.amp_max = 33;
    settings_save();
    EXPECT_EQ(settings.use_profile_ini, 1);
    EXPECT_NE(read_file(profile_ini()).find("\namp_max=33\n"), std::string::npos);
    EXPECT_EQ(read_file(library_ini()), "amp_max=11\n");

    // From the next start on the library's folder is read and written.
    restart();
    EXPECT_EQ(settings.use_profile_ini, 0);
    EXPECT_EQ(settings.local_tag_present, 1);
    EXPECT_EQ(settings.amp_max, 11);
    settings.amp_max = 44;
    settings_save();
    EXPECT_NE(read_file(library_ini()).find("\namp_max=44\n"), std::string::npos);
    EXPECT_NE(read_file(profile_ini()).find("\namp_max=33\n"), std::string::npos);

    // Unticking the box again: the profile wins from the start after that.
    settings.local_tag_present = local_tag_file(2);
    EXPECT_EQ(settings.local_tag_present, 0);
    restart();
    EXPECT_EQ(settings.use_profile_ini, 1);
    EXPECT_EQ(settings.amp_max, 33);
}

TEST_F(SettingsFileWrite, AProfileFolderThatVanishedStopsTheSave) {
    make_profile_folder();
    initialise();
    ASSERT_EQ(settings.use_profile_ini, 1);
    fs::remove(profile_folder());
    settings_save();
    EXPECT_FALSE(fs::exists(profile_folder()));
    EXPECT_TRUE(folder_entries(library.path).empty());
}

// Runs a save while files may grow to at most limit bytes.
void save_with_file_size_limit(rlim_t limit) {
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    settings_save();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
}

TEST_F(SettingsFileWrite, AFailedWriteLeavesTheOldFileWhole) {
    // A full disk, played by a file size limit: the new content cannot be
    // written completely, so the old file must stay as it was.
    const std::string old_text = std::string(default_file_text) + "enh_eq_set=" + user_record("[ keep ]") + "\n";
    write_file(library_ini(), old_text);
    write_file(tag_file(), "");
    initialise();
    settings.amp_max = 1;
    save_with_file_size_limit(100);
    EXPECT_EQ(read_file(library_ini()), old_text);
    EXPECT_EQ(folder_entries(library.path).size(), 2u);  // no temporary file left

    make_profile_folder();
    write_file(profile_ini(), old_text);
    fs::remove(tag_file());
    restart();
    ASSERT_EQ(settings.use_profile_ini, 1);
    settings.amp_max = 2;
    save_with_file_size_limit(100);
    EXPECT_EQ(read_file(profile_ini()), old_text);
    EXPECT_EQ(folder_entries(profile_folder()), std::vector<std::string>{"dsp_redozer.ini"});
    // The settings in memory are untouched by the failure.
    EXPECT_EQ(settings.amp_max, 2);
    ASSERT_NE(settings.eq_preset_slots[9], nullptr);
    EXPECT_EQ(std::string(settings.eq_preset_slots[9]), user_record("[ keep ]"));
}

TEST_F(SettingsFileWrite, ASaveReplacesALongerOldFileWhole) {
    std::string old_text = std::string(default_file_text);
    for (int i = 0; i < 21; ++i) old_text += "enh_eq_set=" + user_record("[ old ]") + "\n";
    write_file(library_ini(), old_text);
    initialise();
    for (int slot = 9; slot < presetSlotCount; ++slot) {
        free(const_cast<char*>(settings.eq_preset_slots[slot]));
        settings.eq_preset_slots[slot] = nullptr;
    }
    settings_save();
    EXPECT_EQ(read_file(library_ini()), default_file_text);
}

// ---- The shipped library --------------------------------------------------------

// Copies of the built library, loaded from folders of the test's own, find
// themselves through the dynamic linker and read the file the rules choose.
// What they read shows in the audio: the engine mode 0 leaves a block alone.
class SettingsFileLibrary : public EngineTest {
protected:
    std::string built_library() const {
        std::string program = executable_path();
        return program.substr(0, program.rfind('/')) + "/dsp_redozer.so";
    }
    // Loads a copy placed in folder, runs Init and two blocks; true when the
    // audio came back unchanged.
    bool leaves_audio_alone(const std::string& folder) {
        std::string copy = folder + "/dsp_redozer.so";
        fs::copy_file(built_library(), copy, fs::copy_options::overwrite_existing);
        void* library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            ADD_FAILURE() << dlerror();
            return false;
        }
        auto get_header = reinterpret_cast<DspGetHeaderFunction>(dlsym(library, "winampDSPGetHeader2"));
        bool unchanged = false;
        if (get_header == nullptr) {
            ADD_FAILURE() << "no winampDSPGetHeader2";
        } else {
            DspModule* plugin = get_header()->getModule(0);
            plugin->Init(plugin);
            std::vector<int16_t> input(2 * 4096);
            for (size_t i = 0; i < input.size() / 2; ++i) {
                input[2 * i] = static_cast<int16_t>(6000.0 * std::sin(0.031 * static_cast<double>(i)));
                input[2 * i + 1] = static_cast<int16_t>(3000.0 * std::sin(0.007 * static_cast<double>(i)));
            }
            unchanged = true;
            for (int round = 0; round < 2; ++round) {
                std::vector<int16_t> block = input;
                plugin->ModifySamples(plugin, block.data(), static_cast<int32_t>(block.size() / 2), 16, 2, 44100);
                unchanged = unchanged && block == input;
            }
        }
        dlclose(library);
        return unchanged;
    }
};

TEST_F(SettingsFileLibrary, TheLibraryReadsWhereTheRulesSay) {
    ASSERT_TRUE(fs::exists(built_library())) << built_library();
    TempFolder plain;
    if (leaves_audio_alone(plain.path))
        GTEST_SKIP() << "this build passes audio unchanged with the default settings, so the settings "
                        "it reads cannot be seen in its output";
    const std::string off = "[zobrin dsp]\nenhance=0\neq_enable=0\n";
    const std::string on = "[zobrin dsp]\nenhance=1\neq_enable=0\n";

    TempFolder beside;
    write_file(beside.file("dsp_redozer.ini"), off);
    EXPECT_TRUE(leaves_audio_alone(beside.path));

    TempFolder with_profile;
    write_file(with_profile.file("dsp_redozer.ini"), on);
    fs::create_directory(profile.file("dsp_redozer"));
    write_file(profile.file("dsp_redozer/dsp_redozer.ini"), off);
    EXPECT_TRUE(leaves_audio_alone(with_profile.path));

    TempFolder tagged;
    write_file(tagged.file("dsp_redozer.ini"), on);
    write_file(tagged.file("zb_local.ini"), "");
    EXPECT_FALSE(leaves_audio_alone(tagged.path));
}

TEST_F(SettingsFileLibrary, CodeOutsideALibraryOfThatNameFindsTheExecutable) {
    // The unit tests link the settings code into the test program itself.
    char path[4096];
    ASSERT_GT(platform_module_path(path, sizeof path), 0);
    EXPECT_EQ(std::string(path), executable_path());
    EXPECT_EQ(platform_module_path(path, 5), 0);  // does not fit: refused, not cut
}

}  // namespace
