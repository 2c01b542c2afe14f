// The Output page's user presets panel: a name field, "Save preset" and
// "Delete preset", and the list of the user's presets for this plug-in,
// which applies one when chosen. The files are user_presets.cpp's.
#include <cstdio>
#include <cstring>

#include "lv2ui/ui_model.h"

namespace lv2ui {

using namespace ports;

namespace {

const char* pluginUri(const UiState& s) { return s.channels == 1 ? monoUri : stereoUri; }

void refresh(UiState& s) {
    listUserPresets(s.home[0] ? s.home : nullptr, pluginUri(s), s.userPresets);
    s.userSelection = -1;
    for (int i = 0; i < s.userPresets.count; ++i)
        if (strcmp(s.userPresets.names[i].text, s.presetName) == 0) s.userSelection = i;
    if (s.userTop > s.userPresets.count - 1) s.userTop = s.userPresets.count > 0 ? s.userPresets.count - 1 : 0;
}

const Widget* userList() {
    const Layout& l = uiLayout();
    for (int i = 0; i < l.count; ++i)
        if (l.widgets[i].kind == Kind::UserList) return &l.widgets[i];
    return nullptr;
}

void keepShown(UiState& s) {
    const Widget* list = userList();
    const int shown = list ? userVisibleRows(*list) : 1;
    if (s.userSelection < 0) return;
    if (s.userSelection < s.userTop) s.userTop = s.userSelection;
    if (s.userSelection >= s.userTop + shown) s.userTop = s.userSelection - shown + 1;
}

bool save(UiState& s) {
    if (!s.home[0]) {
        snprintf(s.status, sizeof s.status, "Not saved: HOME is not set");
        return true;
    }
    if (saveUserPreset(s.home, pluginUri(s), s.presetName, s.codes, s.status, sizeof s.status)) {
        refresh(s);
        keepShown(s);
    }
    return true;
}

bool remove(UiState& s) {
    if (!s.home[0]) {
        snprintf(s.status, sizeof s.status, "Not deleted: HOME is not set");
        return true;
    }
    if (deleteUserPreset(s.home, s.presetName, s.status, sizeof s.status)) refresh(s);
    return true;
}

// Reads the preset and writes every control it changes (the meters' reset
// excepted), as applying a built-in preset does.
bool applyRow(UiState& s, int row, Writes& out) {
    if (row < 0 || row >= s.userPresets.count) return false;
    snprintf(s.presetName, sizeof s.presetName, "%s", s.userPresets.names[row].text);
    s.userSelection = row;
    keepShown(s);
    int32_t codes[controlCount];
    memcpy(codes, s.codes, sizeof codes);
    if (!readUserPreset(s.home, s.presetName, codes, s.status, sizeof s.status)) return true;
    for (int k = 0; k < controlCount; ++k)
        if (controls[k].effect != Effect::Meters && codes[k] != s.codes[k]) addWrite(out, k, codes[k]);
    return true;
}

}  // namespace

int userVisibleRows(const Widget& w) { return (w.rect.h - 4) / presetRowHeight; }

void loadUserPresets(UiState& s, const char* home) {
    snprintf(s.home, sizeof s.home, "%s", home && strlen(home) < sizeof s.home ? home : "");
    s.userTop = 0;
    refresh(s);
}

bool rescanUserPresets(UiState& s) {
    UserPresetList now;
    listUserPresets(s.home[0] ? s.home : nullptr, pluginUri(s), now);
    bool same = now.count == s.userPresets.count;
    for (int i = 0; same && i < now.count; ++i)
        same = strcmp(now.names[i].text, s.userPresets.names[i].text) == 0;
    if (same) return false;
    refresh(s);
    return true;
}

bool userPanelPress(UiState& s, int index, double y, Writes& out) {
    const Widget& w = uiLayout().widgets[index];
    switch (w.kind) {
    case Kind::NameField: return true;  // the focus is all it takes
    case Kind::Action: return w.onCode == 0 ? save(s) : remove(s);
    case Kind::UserList: {
        const int shown = static_cast<int>((y - w.rect.y - 2) / presetRowHeight);
        if (shown >= 0 && shown < userVisibleRows(w)) applyRow(s, s.userTop + shown, out);
        return true;
    }
    default: return false;
    }
}

bool userPanelKey(UiState& s, Key key, Writes& out) {
    const Widget& w = uiLayout().widgets[s.focus];
    if (w.kind == Kind::NameField) {
        const size_t n = strlen(s.presetName);
        if (key == Key::Delete && n > 0) {
            s.presetName[n - 1] = '\0';
            return true;
        }
        return key == Key::Space ? save(s) : false;
    }
    if (w.kind == Kind::Action) return key == Key::Space ? (w.onCode == 0 ? save(s) : remove(s)) : false;
    if (key != Key::Up && key != Key::Down) return false;
    const int row = s.userSelection + (key == Key::Down ? 1 : -1);
    return row >= 0 && row < s.userPresets.count && applyRow(s, row, out);
}

bool nameFieldFocused(const UiState& s) {
    return s.focus >= 0 && s.focus < uiLayout().count &&
           uiLayout().widgets[s.focus].kind == Kind::NameField && s.page == pageOutput;
}

bool typeText(UiState& s, const char* text) {
    if (!nameFieldFocused(s) || !text) return false;
    bool changed = false;
    for (const char* c = text; *c; ++c) {
        const size_t n = strlen(s.presetName);
        if (n + 1 >= sizeof s.presetName) {
            snprintf(s.status, sizeof s.status, "A name holds at most %d characters", userPresetNameSize - 1);
            return true;
        }
        // Checked as the start of a name, so a space may end it while typing.
        const char candidate[3] = {'x', *c, '\0'};
        const bool allowed = validPresetName(candidate) || (*c == ' ' && n > 0);
        if (!allowed || (n == 0 && *c == '.')) {
            snprintf(s.status, sizeof s.status,
                     "A name is letters, digits, space, - _ . only");
            changed = true;
            continue;
        }
        s.presetName[n] = *c;
        s.presetName[n + 1] = '\0';
        changed = true;
    }
    return changed;
}

void userRowText(const UiState& s, int row, char* out, int size) {
    if (size <= 0) return;
    if (row >= 0 && row < s.userPresets.count)
        snprintf(out, static_cast<size_t>(size), "%s", s.userPresets.names[row].text);
    else
        out[0] = '\0';
}

}  // namespace lv2ui
