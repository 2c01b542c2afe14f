// The user's presets as LV2 bundles under $HOME/.lv2/: writing, listing,
// reading back and removing them.
#include "lv2ui/user_presets.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace lv2ui {
namespace {

constexpr const char* bundlePrefix = "redozer-";
constexpr const char* bundleSuffix = ".lv2";

void say(char* message, int size, const char* format, const char* a, const char* b = "") {
    if (message && size > 0) snprintf(message, static_cast<size_t>(size), format, a, b);
}

std::string lv2Folder(const char* home) { return std::string(home ? home : "") + "/.lv2"; }

std::string bundleOf(const char* home, const char* name) {
    return lv2Folder(home) + "/" + bundlePrefix + name + bundleSuffix;
}

// A folder that exists or is made now; false when something else is there.
bool ensureFolder(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    return mkdir(path.c_str(), 0755) == 0;
}

bool writeText(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

bool readText(const std::string& path, std::string& text) {
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return false;
    char buffer[4096];
    size_t n;
    text.clear();
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (1u << 20))
        text.append(buffer, n);
    fclose(f);
    return true;
}

std::string manifestText(const char* uri) {
    return std::string("@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                       "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                       "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
                       "<preset.ttl>\n    a pset:Preset ;\n    lv2:appliesTo <") +
           uri + "> ;\n    rdfs:seeAlso <preset.ttl> .\n";
}

std::string presetText(const char* uri, const char* name, const int32_t codes[ports::controlCount]) {
    std::string t = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
                    "<>\n    a pset:Preset ;\n    lv2:appliesTo <";
    t += std::string(uri) + "> ;\n    rdfs:label \"" + name + "\" ;\n    lv2:port ";
    for (int k = 0; k < ports::controlCount; ++k) {
        const ports::ControlInfo& c = ports::controls[k];
        const int code = std::clamp(static_cast<int>(codes[k]), c.codeMin, c.codeMax);
        char value[48];
        snprintf(value, sizeof value, "%.9g", ports::valueOfCode(c, code));
        if (!strpbrk(value, ".eEn")) strcat(value, ".0");  // a decimal, not an integer literal
        t += std::string(k ? " , " : "") + "[\n        lv2:symbol \"" + c.symbol +
             "\" ;\n        pset:value " + value + "\n    ]";
    }
    return t + " .\n";
}

int controlOfSymbol(const std::string& symbol) {
    for (int k = 0; k < ports::controlCount; ++k)
        if (symbol == ports::controls[k].symbol) return k;
    return -1;
}

}  // namespace

bool validPresetName(const char* name) {
    if (!name) return false;
    const size_t n = strnlen(name, userPresetNameSize);
    if (n == 0 || n >= static_cast<size_t>(userPresetNameSize)) return false;
    if (name[0] == ' ' || name[0] == '.' || name[n - 1] == ' ') return false;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && c != ' ' && c != '-' && c != '_' && c != '.') return false;
    }
    return true;
}

void listUserPresets(const char* home, const char* uri, UserPresetList& out) {
    out.count = 0;
    DIR* dir = opendir(lv2Folder(home).c_str());
    if (!dir) return;
    const std::string applies = std::string("lv2:appliesTo <") + (uri ? uri : "") + ">";
    const size_t pre = strlen(bundlePrefix), suf = strlen(bundleSuffix);
    while (const dirent* e = readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry.size() <= pre + suf || entry.compare(0, pre, bundlePrefix) != 0 ||
            entry.compare(entry.size() - suf, suf, bundleSuffix) != 0)
            continue;
        const std::string name = entry.substr(pre, entry.size() - pre - suf);
        std::string manifest;
        if (!validPresetName(name.c_str()) || out.count >= maxUserPresets ||
            !readText(lv2Folder(home) + "/" + entry + "/manifest.ttl", manifest) ||
            manifest.find(applies) == std::string::npos)
            continue;
        snprintf(out.names[out.count++].text, userPresetNameSize, "%s", name.c_str());
    }
    closedir(dir);
    std::sort(out.names, out.names + out.count, [](const UserPresetName& a, const UserPresetName& b) {
        return strcmp(a.text, b.text) < 0;
    });
}

bool saveUserPreset(const char* home, const char* uri, const char* name,
                    const int32_t codes[ports::controlCount], char* message, int size) {
    if (!validPresetName(name)) {
        say(message, size, "Not saved: a name is letters, digits, space, - _ . only%s", "");
        return false;
    }
    const std::string bundle = bundleOf(home, name);
    if (!home || !*home || !ensureFolder(lv2Folder(home)) || !ensureFolder(bundle)) {
        say(message, size, "Not saved: cannot make the folder %s", bundle.c_str());
        return false;
    }
    if (!writeText(bundle + "/preset.ttl", presetText(uri, name, codes)) ||
        !writeText(bundle + "/manifest.ttl", manifestText(uri))) {
        say(message, size, "Not saved: cannot write in %s", bundle.c_str());
        return false;
    }
    say(message, size, "Saved preset \"%s\"", name);
    return true;
}

bool readUserPreset(const char* home, const char* name, int32_t codes[ports::controlCount],
                    char* message, int size) {
    std::string text;
    if (!validPresetName(name) || !readText(bundleOf(home, name) + "/preset.ttl", text)) {
        say(message, size, "Cannot read the preset \"%s\"", name ? name : "");
        return false;
    }
    const std::string key = "lv2:symbol \"";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const size_t open = at + key.size(), close = text.find('"', open);
        const size_t value = text.find("pset:value", close == std::string::npos ? open : close);
        if (close == std::string::npos || value == std::string::npos) break;
        const int k = controlOfSymbol(text.substr(open, close - open));
        if (k < 0) continue;
        const char* start = text.c_str() + value + strlen("pset:value");
        char* end = nullptr;
        const double v = strtod(start, &end);
        if (end != start) codes[k] = ports::codeOfValue(ports::controls[k], v);
    }
    say(message, size, "Applied preset \"%s\"", name);
    return true;
}

bool deleteUserPreset(const char* home, const char* name, char* message, int size) {
    if (!validPresetName(name)) {
        say(message, size, "Not deleted: \"%s\" is not a preset name", name ? name : "");
        return false;
    }
    const std::string bundle = bundleOf(home, name);
    const bool gone = (unlink((bundle + "/preset.ttl").c_str()) == 0 || errno == ENOENT) &&
                      (unlink((bundle + "/manifest.ttl").c_str()) == 0 || errno == ENOENT) &&
                      rmdir(bundle.c_str()) == 0;
    if (!gone) {
        say(message, size, "Not deleted: cannot remove %s (%s)", bundle.c_str(), strerror(errno));
        return false;
    }
    say(message, size, "Deleted preset \"%s\"", name);
    return true;
}

}  // namespace lv2ui
