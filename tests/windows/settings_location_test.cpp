// Where the settings file lives, checked with the real Win32 services.
//
// The program copies the plug-in library (dsp_redozer.dll, found beside this
// program) into folders of its own and loads each copy in turn. While a copy
// is loaded, the settings code linked into this program finds that copy by its
// module name exactly as the library does, so loading and saving can be
// checked file by file. The library itself is then checked through its
// exported interface: Init reads the file the rules choose, and a block of
// audio shows which settings it read.
//
// Every scenario starts without the profile sub-folder; the program must run
// in a Wine prefix of its own. The exit code is the number of failed checks.
#include <windows.h>
#include <shlobj.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/dsp_interface.h"
#include "settings/platform.h"
#include "settings/plugin_settings.h"
#include "settings/settings_file.h"

static int failures = 0;
static int checks = 0;

#define CHECK(condition)                                                              \
    do {                                                                              \
        ++checks;                                                                     \
        if (!(condition)) {                                                           \
            ++failures;                                                               \
            printf("FAILED %s:%d: %s\n", __FILE__, __LINE__, #condition);             \
        }                                                                             \
    } while (0)

static bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
static bool is_folder(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

static void remove_tree(const std::string& path) {
    if (!is_folder(path)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name != "." && name != "..") remove_tree(path + "\\" + name);
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

static std::vector<std::string> folder_entries(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

// Text mode, as a user's editor on Windows would write it.
static void write_text(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "w");
    if (file == nullptr) {
        printf("cannot write %s\n", path.c_str());
        ++failures;
        return;
    }
    fputs(text.c_str(), file);
    fclose(file);
}

// The bytes on disk, line ends as they are.
static std::string read_bytes(const std::string& path) {
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    fclose(file);
    return text;
}

static std::string with_crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

static bool same_path(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

static const char* const default_file_text =
    "[zobrin dsp]\nenhance=1\nstereo_width=20\nhpcutoff=0\namp_max=56\namp_up=70\namp_dwn=76\n"
    "threshold=79\ntab_sel=0\neq_enable=0\neq=050,050,050\neq_f=00100,01000,10000\n"
    "enh_multi1=m---f00300f03000f00000------------l020s025\n"
    "enh_multi2=----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------\n"
    "enh_limiter=l-s---th240re040ce300kn055ra201at025ho000\n";

static std::string source_library;  // beside this program
static std::string work;            // the test's own folders
static std::string roaming;         // what the shell reports for CSIDL_APPDATA
static std::string profile_folder;
static std::string profile_ini;

// A fresh folder holding a copy of the library under the given name.
static std::string library_folder(const std::string& name, const std::string& file_name = "dsp_redozer.dll") {
    std::string folder = work + "\\" + name;
    remove_tree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!CopyFileA(source_library.c_str(), (folder + "\\" + file_name).c_str(), FALSE)) {
        printf("cannot copy the library into %s\n", folder.c_str());
        ++failures;
    }
    return folder;
}

static HMODULE load(const std::string& path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        printf("cannot load %s (error %lu)\n", path.c_str(), GetLastError());
        ++failures;
    }
    return module;
}

// The settings code of this program starting as the library would.
static void restart() {
    settings_reset_to_load_state();
    settings_initialise();
}

static void library_folder_is_used_without_profile() {
    printf("-- the library's folder, no profile sub-folder\n");
    remove_tree(profile_folder);
    std::string folder = library_folder("plain");
    write_text(folder + "\\dsp_redozer.ini", "stereo_width=33\n");
    HMODULE module = load(folder + "\\dsp_redozer.dll");

    char path[1000];
    CHECK(platform_module_path(path, sizeof path) > 0 && same_path(path, folder + "\\dsp_redozer.dll"));
    CHECK(dll_folder_ini_path(path, sizeof path) == 1 && same_path(path, folder + "\\dsp_redozer.ini"));
    CHECK(profile_ini_path(path, 0) == 0);
    restart();
    CHECK(settings.stereo_width == 33);
    CHECK(settings.use_profile_ini == 0 && settings.local_tag_present == 0);

    settings.stereo_width = 20;
    settings_save();
    CHECK(read_bytes(folder + "\\dsp_redozer.ini") == with_crlf(default_file_text));
    CHECK(folder_entries(folder).size() == 2);  // the library and the settings file
    CHECK(!exists(profile_folder));
    FreeLibrary(module);
}

static void profile_wins_over_library_folder() {
    printf("-- an existing profile sub-folder wins\n");
    remove_tree(profile_folder);
    std::string folder = library_folder("profile-wins");
    write_text(folder + "\\dsp_redozer.ini", "stereo_width=33\n");
    CreateDirectoryA(profile_folder.c_str(), nullptr);
    write_text(profile_ini, "stereo_width=44\n");
    HMODULE module = load(folder + "\\dsp_redozer.dll");

    char path[1000];
    CHECK(profile_ini_path(path, 0) == 1 && same_path(path, profile_ini));
    restart();
    CHECK(settings.stereo_width == 44);
    CHECK(settings.use_profile_ini == 1);
    settings.amp_max = 12;
    settings_save();
    std::string saved = read_bytes(profile_ini);
    CHECK(saved.find("\r\nstereo_width=44\r\n") != std::string::npos);
    CHECK(saved.find("\r\namp_max=12\r\n") != std::string::npos);
    CHECK(folder_entries(profile_folder).size() == 1);
    CHECK(read_bytes(folder + "\\dsp_redozer.ini") == "stereo_width=33\r\n");
    FreeLibrary(module);
}

static void tag_file_forces_library_folder() {
    printf("-- the tag file forces the library's folder\n");
    remove_tree(profile_folder);
    std::string folder = library_folder("tagged");
    write_text(folder + "\\dsp_redozer.ini", "stereo_width=33\n");
    write_text(folder + "\\zb_local.ini", "");
    CreateDirectoryA(profile_folder.c_str(), nullptr);
    write_text(profile_ini, "stereo_width=44\n");
    HMODULE module = load(folder + "\\dsp_redozer.dll");

    restart();
    CHECK(settings.stereo_width == 33);
    CHECK(settings.local_tag_present == 1 && settings.use_profile_ini == 0);
    CHECK(local_tag_file(2) == 0 && !exists(folder + "\\zb_local.ini"));
    CHECK(local_tag_file(0) == 0);
    CHECK(local_tag_file(1) == 1 && exists(folder + "\\zb_local.ini"));
    CHECK(read_bytes(folder + "\\zb_local.ini").empty());
    CHECK(local_tag_file(1) == 1);
    FreeLibrary(module);
}

static void unwritable_library_folder_falls_back_to_profile() {
    printf("-- a library folder that cannot take the file\n");
    remove_tree(profile_folder);
    std::string folder = library_folder("blocked");
    // Run as root, a folder standing where the file would go plays the
    // folder without write permission.
    CreateDirectoryA((folder + "\\dsp_redozer.ini").c_str(), nullptr);
    HMODULE module = load(folder + "\\dsp_redozer.dll");

    restart();
    CHECK(settings.amp_max == 56);
    settings.amp_max = 99;
    settings_save();
    CHECK(is_folder(profile_folder));
    CHECK(read_bytes(profile_ini).find("\r\namp_max=99\r\n") != std::string::npos);
    CHECK(folder_entries(folder).size() == 2);  // no temporary file left behind
    restart();
    CHECK(settings.use_profile_ini == 1 && settings.amp_max == 99);
    FreeLibrary(module);

    printf("-- ... and with the tag file present\n");
    remove_tree(profile_folder);
    folder = library_folder("blocked-tagged");
    CreateDirectoryA((folder + "\\dsp_redozer.ini").c_str(), nullptr);
    write_text(folder + "\\zb_local.ini", "");
    module = load(folder + "\\dsp_redozer.dll");
    restart();
    CHECK(settings.local_tag_present == 1);
    settings.amp_max = 98;
    settings_save();
    CHECK(!exists(profile_folder));
    CHECK(folder_entries(folder).size() == 3);
    FreeLibrary(module);
}

static void renamed_library_uses_only_existing_profile() {
    printf("-- a library file with another name\n");
    remove_tree(profile_folder);
    std::string folder = library_folder("renamed", "dsp_other.dll");
    write_text(folder + "\\dsp_redozer.ini", "stereo_width=33\n");
    HMODULE module = load(folder + "\\dsp_other.dll");

    char path[1000], program[1000];
    GetModuleFileNameA(nullptr, program, sizeof program);
    // The executable stands in for the library: a tag file beside it (left by
    // an earlier run) would turn the rules below around.
    std::string beside_program = program;
    beside_program = beside_program.substr(0, beside_program.find_last_of('\\')) + "\\zb_local.ini";
    CHECK(!exists(beside_program));
    CHECK(platform_module_path(path, sizeof path) > 0 && same_path(path, program));
    CHECK(dll_folder_ini_path(path, sizeof path) == 0);
    restart();
    CHECK(settings.stereo_width == 20);
    settings_save();
    CHECK(!exists(profile_folder));
    CHECK(folder_entries(folder).size() == 2);

    CreateDirectoryA(profile_folder.c_str(), nullptr);
    write_text(profile_ini, "stereo_width=44\n");
    restart();
    CHECK(settings.stereo_width == 44);
    settings.stereo_width = 45;
    settings_save();
    CHECK(read_bytes(profile_ini).find("\r\nstereo_width=45\r\n") != std::string::npos);
    FreeLibrary(module);
}

// ---- The library itself, through its exported interface ------------------------

// A stereo block with different content on both channels.
static std::vector<int16_t> test_block() {
    std::vector<int16_t> block(2 * 4096);
    for (size_t i = 0; i < block.size() / 2; ++i) {
        block[2 * i] = static_cast<int16_t>(6000.0 * std::sin(0.031 * static_cast<double>(i)));
        block[2 * i + 1] = static_cast<int16_t>(3000.0 * std::sin(0.007 * static_cast<double>(i)));
    }
    return block;
}

// Loads the copy in folder, runs Init and two blocks; true when the audio came
// back unchanged.
static bool library_leaves_audio_alone(const std::string& folder) {
    HMODULE module = load(folder + "\\dsp_redozer.dll");
    if (module == nullptr) return false;
    auto get_header = reinterpret_cast<DspGetHeaderFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "winampDSPGetHeader2")));
    bool unchanged = false;
    if (get_header == nullptr) {
        printf("no winampDSPGetHeader2 in %s\n", folder.c_str());
        ++failures;
    } else {
        DspModule* plugin = get_header()->getModule(0);
        plugin->hDllInstance = module;
        plugin->Init(plugin);
        std::vector<int16_t> input = test_block();
        unchanged = true;
        for (int round = 0; round < 2; ++round) {
            std::vector<int16_t> block = input;
            plugin->ModifySamples(plugin, block.data(), static_cast<int32_t>(block.size() / 2), 16, 2, 44100);
            unchanged = unchanged && block == input;
        }
        plugin->Quit(plugin);
    }
    FreeLibrary(module);
    return unchanged;
}

static void library_reads_where_the_rules_say() {
    printf("-- the library's own Init\n");
    const std::string off = "[zobrin dsp]\nenhance=0\neq_enable=0\n";
    const std::string on = "[zobrin dsp]\nenhance=1\neq_enable=0\n";

    remove_tree(profile_folder);
    std::string folder = library_folder("init-defaults");
    if (library_leaves_audio_alone(folder)) {
        printf("SKIPPED: with the default settings this build passes audio unchanged, so the\n"
               "         settings it reads cannot be seen in its output\n");
        return;
    }

    folder = library_folder("init-library-folder");
    write_text(folder + "\\dsp_redozer.ini", off);
    CHECK(library_leaves_audio_alone(folder));

    folder = library_folder("init-profile");
    write_text(folder + "\\dsp_redozer.ini", on);
    CreateDirectoryA(profile_folder.c_str(), nullptr);
    write_text(profile_ini, off);
    CHECK(library_leaves_audio_alone(folder));

    folder = library_folder("init-tagged");
    write_text(folder + "\\dsp_redozer.ini", on);
    write_text(folder + "\\zb_local.ini", "");
    CHECK(!library_leaves_audio_alone(folder));
    remove_tree(profile_folder);
}

int main() {
    char buffer[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string program(buffer, n);
    source_library = program.substr(0, program.find_last_of('\\')) + "\\dsp_redozer.dll";
    if (!exists(source_library)) {
        printf("no library at %s\n", source_library.c_str());
        return 1;
    }
    if (!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_APPDATA, FALSE)) {
        printf("no roaming application-data folder\n");
        return 1;
    }
    roaming = buffer;
    profile_folder = roaming + "\\dsp_redozer";
    profile_ini = profile_folder + "\\dsp_redozer.ini";
    GetTempPathA(sizeof buffer, buffer);
    work = std::string(buffer) + "redozer-settings-test";
    remove_tree(work);
    CreateDirectoryA(work.c_str(), nullptr);
    printf("library %s\nroaming folder %s\nwork folder %s\n", source_library.c_str(), roaming.c_str(),
           work.c_str());

    library_folder_is_used_without_profile();
    profile_wins_over_library_folder();
    tag_file_forces_library_folder();
    unwritable_library_folder_falls_back_to_profile();
    renamed_library_uses_only_existing_profile();
    library_reads_where_the_rules_say();

    remove_tree(profile_folder);
    remove_tree(work);
    settings_reset_to_load_state();
    printf("%d checks, %d failed\n", checks, failures);
    return failures;
}
