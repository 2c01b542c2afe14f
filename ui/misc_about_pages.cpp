// The "Misc" page (where the settings file lives) and the "About / Help" page
// (the formatted manual with working links).
#include <windows.h>
#include <richedit.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "pages/output_stage_fields.h"
#include "pages/stage_readings.h"
#include "settings/plugin_settings.h"
#include "settings/settings_file.h"
#include "ui/config_dialog.h"
#include "ui/pages.h"

namespace {

constexpr int localIniBoxId = 181;
constexpr int documentId = 161;
constexpr int documentResourceId = 200;
constexpr DWORD documentStyle = 0x50200804;  // child, visible, vertical scroll, read-only, multi-line
constexpr int linkBufferSize = 184;

void set_local_ini_box(HWND page, int present) {
    CheckDlgButton(page, localIniBoxId, present ? BST_CHECKED : BST_UNCHECKED);
}

// The output stage's switches and levels (tenths below 0 in the settings).
constexpr int targetBoxId = 191, targetEditId = 192, ceilingBoxId = 193, ceilingEditId = 194;

struct LevelField {
    int editId;
    int16_t PluginSettings::*value;
    int low, high;
};
constexpr LevelField levelFields[2] = {{targetEditId, &PluginSettings::target_lufs, 50, 400},
                                       {ceilingEditId, &PluginSettings::tp_ceiling, 0, 120}};

void show_level(HWND page, const LevelField& f) {
    char text[16];
    format_tenths_below_zero(load_relaxed(settings.*f.value), text, sizeof text);
    SetDlgItemTextA(page, f.editId, text);
}

void show_output_stage(HWND page) {
    CheckDlgButton(page, targetBoxId, load_relaxed(settings.loudness_target) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, ceilingBoxId, load_relaxed(settings.tp_limit) ? BST_CHECKED : BST_UNCHECKED);
    for (const LevelField& f : levelFields) show_level(page, f);
}

// A level is taken when the field loses the focus; text that is not a level
// in range gives way to the setting as it was.
void take_level(HWND page, const LevelField& f) {
    char text[32] = {};
    GetDlgItemTextA(page, f.editId, text, sizeof text);
    int tenths = 0;
    if (parse_tenths_below_zero(text, f.low, f.high, &tenths))
        store_relaxed(settings.*f.value, static_cast<int16_t>(tenths));
    show_level(page, f);
}

void output_stage_command(HWND page, int id, int code) {
    if (id == targetBoxId)
        store_relaxed(settings.loudness_target, static_cast<uint8_t>(IsDlgButtonChecked(page, id) == BST_CHECKED));
    if (id == ceilingBoxId)
        store_relaxed(settings.tp_limit, static_cast<uint8_t>(IsDlgButtonChecked(page, id) == BST_CHECKED));
    for (const LevelField& f : levelFields)
        if (id == f.editId && code == EN_KILLFOCUS) take_level(page, f);
}

// The stage's readings beside its switches, while the page is open: what the
// last block read, worded by the page logic the plug-in window uses too.
constexpr int readingsTimerId = 4032;
constexpr int readingsTimerPeriod = 250;  // ms
constexpr int readingRows[3] = {readingProgramme, readingLevellerGain, readingCeiling};
constexpr int readingCaptionIds[3] = {171, 172, 173};
constexpr int readingValueIds[3] = {195, 196, 197};

void show_stage_readings(HWND page) {
    StageReadings r{};
    const float programme = load_relaxed(settings.stageProgrammeLufs);
    r.programmeLufs = programme == programme ? programme : -70.0f;  // not a number: nothing yet
    r.levellerGainDb = load_relaxed(settings.stageGainDb);
    r.ceilingReductionDb = load_relaxed(settings.stageReductionDb);
    r.levelling = load_relaxed(settings.loudness_target) != 0;
    r.limiting = load_relaxed(settings.tp_limit) != 0;
    for (int i = 0; i < 3; ++i) {
        char text[32], shown[32] = {};
        format_stage_reading(text, sizeof text, r, readingRows[i]);
        GetDlgItemTextA(page, readingValueIds[i], shown, sizeof shown);
        if (strcmp(text, shown) != 0) SetDlgItemTextA(page, readingValueIds[i], text);
    }
}

void start_stage_readings(HWND page) {
    for (int i = 0; i < 3; ++i) SetDlgItemTextA(page, readingCaptionIds[i], stage_reading_caption(readingRows[i]));
    show_stage_readings(page);
    SetTimer(page, readingsTimerId, readingsTimerPeriod, nullptr);
}

HINSTANCE resources() { return static_cast<HINSTANCE>(settings.resource_instance); }

// Sets the About document, kept as rich text among the library's resources,
// as the control's text.
void set_document(HWND control) {
    HRSRC found = FindResourceA(resources(), MAKEINTRESOURCEA(documentResourceId), MAKEINTRESOURCEA(10));
    if (found == nullptr) return;
    HGLOBAL loaded = LoadResource(resources(), found);
    DWORD size = SizeofResource(resources(), found);
    const char* data = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (data == nullptr || size == 0) return;
    // The resource carries no terminator of its own.
    char* text = static_cast<char*>(malloc(size + 1));
    if (text == nullptr) return;
    memcpy(text, data, size);
    text[size] = '\0';
    SetWindowTextA(control, text);
    free(text);
}

void open_link(HWND page, const ENLINK* link) {
    HWND control = GetDlgItem(page, documentId);
    CHARRANGE range = link->chrg;
    SendMessageA(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    // Fetch the link text bounded by the buffer, whatever the link's length.
    char text[linkBufferSize] = {};
    if (range.cpMin < 0 || range.cpMax <= range.cpMin) return;
    TEXTRANGEA fetch{};
    fetch.chrg.cpMin = range.cpMin;
    fetch.chrg.cpMax = range.cpMax - range.cpMin > linkBufferSize - 1 ? range.cpMin + linkBufferSize - 1
                                                                      : range.cpMax;
    fetch.lpstrText = text;
    SendMessageA(control, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&fetch));
    text[linkBufferSize - 1] = '\0';
    if (text[0] == '\0') return;
    ShellExecuteA(nullptr, nullptr, text, nullptr, nullptr, SW_SHOWDEFAULT);
}

void init_about_page(HWND page) {
    page_setup(page);
    if (settings.rich_edit_library == nullptr)
        settings.rich_edit_library = reinterpret_cast<void*>(LoadLibraryA("riched32.dll"));

    RECT client{};
    GetClientRect(page, &client);
    HWND control = CreateWindowExA(0, "RichEdit", "", documentStyle, 0, 6, client.right,
                                   client.bottom - 10, page,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(documentId)),
                                   resources(), nullptr);
    if (control == nullptr) return;

    LRESULT mask = SendMessageA(control, EM_GETEVENTMASK, 0, 0);
    SendMessageA(control, EM_SETEVENTMASK, 0, mask | ENM_LINK);
    SendMessageA(control, EM_AUTOURLDETECT, 1, 0);
    set_document(control);
    SetFocus(control);
    SendMessageA(control, EM_SETSEL, static_cast<WPARAM>(-1), 0);
    SendMessageA(control, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(6, 10));
    POINT position{settings.about_scroll_x, settings.about_scroll_y};
    SendMessageA(control, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&position));
}

}  // namespace

INT_PTR CALLBACK misc_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        page_setup(page);
        set_local_ini_box(page, settings.local_tag_present);
        show_output_stage(page);
        start_stage_readings(page);
        break;
    case WM_TIMER:
        if (wparam == readingsTimerId) show_stage_readings(page);
        break;
    case WM_DESTROY:
        KillTimer(page, readingsTimerId);
        break;
    case WM_COMMAND:
        output_stage_command(page, LOWORD(wparam), HIWORD(wparam));
        show_stage_readings(page);  // a switch's reading says "off" at once
        if (LOWORD(wparam) == localIniBoxId) {
            int wanted = IsDlgButtonChecked(page, localIniBoxId) == BST_CHECKED;
            settings.local_tag_present = local_tag_file(wanted ? 1 : 2);
            set_local_ini_box(page, settings.local_tag_present);
        }
        break;
    default:
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK about_page_proc(HWND page, UINT message, WPARAM, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        init_about_page(page);
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header != nullptr && header->code == EN_LINK) {
            const auto* link = reinterpret_cast<const ENLINK*>(lparam);
            if (link->msg == WM_LBUTTONUP) open_link(page, link);
        }
        break;
    }
    case WM_DESTROY: {
        HWND control = GetDlgItem(page, documentId);
        if (control != nullptr) {
            POINT position{};
            SendMessageA(control, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&position));
            settings.about_scroll_x = position.x;
            settings.about_scroll_y = position.y;
        }
        break;
    }
    default:
        break;
    }
    return FALSE;
}
