// The "Enhancer 2" page: every control edits the multiband strings at its
// fixed positions and the strings are parsed again at once; a narrow graph
// shows each band's live gain over the response curve of the crossovers and
// thresholds.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "pages/multiband_page.h"
#include "settings/plugin_settings.h"
#include "settings/settings_engine.h"
#include "ui/config_dialog.h"
#include "ui/pages.h"

namespace {

constexpr UINT_PTR bandGraphTimer = 4031;
constexpr UINT_PTR responseTimer = 4032;
constexpr int graphControlId = 132;
constexpr int presetComboId = 133;
constexpr int limiterConfigId = 151;
constexpr int addPresetId = 152;
constexpr int deletePresetId = 153;
constexpr int limiterTemplateId = 110;

// The off-screen picture of the response curve, alive as long as the page.
HDC response_dc = nullptr;
HBITMAP response_bitmap = nullptr;
HGDIOBJ response_previous_bitmap = nullptr;
int response_width = 0;
int response_height = 0;

void parse_page_strings(int flags) { parseMultibandStrings(flags, 0, 0); }

void restart_response_timer(HWND page) {
    KillTimer(page, responseTimer);
    SetTimer(page, responseTimer, 500, nullptr);
}

void set_text(HWND page, int id, const char* text) { SetDlgItemTextA(page, id, text); }

}  // namespace

static void show_crossovers(HWND page) {
    for (int k = 0; k < 3; ++k)
        SetDlgItemInt(page, mbFirstCrossoverId + k, multiband_crossover_value(k), FALSE);
}

static void refresh_multiband_page(HWND page) {
    static const int switches[] = {mbEnableId, mbAgcId, mbMultibandId,
                                   mbSoftClip1Id, mbSoftClip2Id, mbLimiterId};
    for (int id : switches)
        CheckDlgButton(page, id, multiband_switch_checked(id) ? BST_CHECKED : BST_UNCHECKED);

    const MultibandParams& params = settings.engine.multibandParams;
    const int rate = load_relaxed(settings.sample_rate);
    char text[64];
    for (int row = 0; row < 4; ++row) {
        const bool enabled = multiband_row_enabled(params, row);
        for (int column = 0; column < 4; ++column) {
            const int trackbar = mbFirstBandTrackbarId + 4 * row + column;
            const int label = mbFirstBandLabelId + 4 * row + column;
            SendDlgItemMessageA(page, trackbar, TBM_SETPOS, TRUE, multiband_trackbar_value(trackbar));
            format_band_label(text, sizeof text, params.bands[row], column, rate);
            set_text(page, label, text);
            EnableWindow(GetDlgItem(page, trackbar), enabled);
            EnableWindow(GetDlgItem(page, label), enabled);
        }
        const int solo = mbFirstSoloId + row;
        CheckDlgButton(page, solo, multiband_switch_checked(solo) ? BST_CHECKED : BST_UNCHECKED);
        EnableWindow(GetDlgItem(page, solo), enabled);
    }

    SendDlgItemMessageA(page, mbDriveTrackbarId, TBM_SETPOS, TRUE,
                        multiband_trackbar_value(mbDriveTrackbarId));
    format_drive_label(text, sizeof text, params.level);
    set_text(page, mbDriveLabelId, text);
    SendDlgItemMessageA(page, mbStereoTrackbarId, TBM_SETPOS, TRUE,
                        multiband_trackbar_value(mbStereoTrackbarId));
    format_stereo_label(text, sizeof text, params.stereoPercent);
    set_text(page, mbStereoLabelId, text);
}

static void draw_band_graph(HWND graph, HWND page) {
    const MultibandParams& params = settings.engine.multibandParams;
    RECT client;
    GetClientRect(graph, &client);
    const int width = client.right;
    const int height = client.bottom;
    if (width > 0 && height > 0) {
        HDC screen = GetDC(graph);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        if (memory != nullptr && bitmap != nullptr) {
            HGDIOBJ previousBitmap = SelectObject(memory, bitmap);
            if (response_dc != nullptr)
                BitBlt(memory, 0, 0, width, height, response_dc, 0, 0, SRCCOPY);

            double gains[4];
            float readouts[4];
            for (int b = 0; b < 4; ++b) {
                gains[b] = load_relaxed(settings.engine.multiband.bandGains[b]);
                readouts[b] = load_relaxed(settings.engine.multiband.bandGainReadouts[b]);
            }
            const BandGraphLayout layout = band_graph_layout(params, gains, readouts, width, height);

            HPEN axisPen = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
            HGDIOBJ previousPen = SelectObject(memory, axisPen);
            MoveToEx(memory, layout.axisX, layout.axisTop, nullptr);
            LineTo(memory, layout.axisX, layout.axisBottom);
            SelectObject(memory, previousPen);
            DeleteObject(axisPen);

            for (int i = 0; i < layout.barCount; ++i) {
                const BandBar& bar = layout.bars[i];
                const COLORREF colour = bar.boost ? RGB(0, 64, 160) : RGB(160, 64, 0);
                HPEN pen = CreatePen(PS_SOLID, 1, colour);
                HBRUSH brush = CreateSolidBrush(colour);
                HGDIOBJ oldPen = SelectObject(memory, pen);
                HGDIOBJ oldBrush = SelectObject(memory, brush);
                Rectangle(memory, bar.rect.left, bar.rect.top, bar.rect.right, bar.rect.bottom);
                SelectObject(memory, oldBrush);
                SelectObject(memory, oldPen);
                DeleteObject(brush);
                DeleteObject(pen);
            }
            BitBlt(screen, 0, 0, width, height, memory, 0, 0, SRCCOPY);
            SelectObject(memory, previousBitmap);
        }
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (memory != nullptr) DeleteDC(memory);
        ReleaseDC(graph, screen);
    }

    const double agcLeft = load_relaxed(settings.engine.multiband.agcGains[0]);
    if (params.agcOn && agcLeft >= 1.0) {
        char caption[64];
        format_agc_caption(caption, sizeof caption, agcLeft,
                           load_relaxed(settings.engine.multiband.agcGains[1]));
        set_text(page, mbAgcId, caption);
    }
}

static void draw_response_curve() {
    if (response_dc == nullptr) return;
    const int width = response_width;
    const int height = response_height;
    int32_t* cells = static_cast<int32_t*>(calloc(static_cast<size_t>(height), sizeof(int32_t)));
    if (cells == nullptr) return;  // keep the picture there is
    if (response_curve_cells(settings.engine.multibandParams, width, height, cells)) {
        RECT all = {0, 0, width, height};
        HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
        FillRect(response_dc, &all, white);
        DeleteObject(white);
        for (int row = 1; row < height; ++row)
            if (cells[row] > 1) SetPixel(response_dc, cells[row], row, RGB(0, 128, 224));
    }
    free(cells);
}

static void create_response_bitmap(HWND page) {
    HWND graph = GetDlgItem(page, graphControlId);
    RECT client{};
    GetClientRect(graph, &client);
    response_width = client.right;
    response_height = client.bottom;
    HDC screen = GetDC(graph);
    response_dc = CreateCompatibleDC(screen);
    response_bitmap = response_width > 0 && response_height > 0
                          ? CreateCompatibleBitmap(screen, response_width, response_height)
                          : nullptr;
    ReleaseDC(graph, screen);
    if (response_dc == nullptr || response_bitmap == nullptr) {
        if (response_bitmap != nullptr) DeleteObject(response_bitmap);
        if (response_dc != nullptr) DeleteDC(response_dc);
        response_dc = nullptr;
        response_bitmap = nullptr;
        return;
    }
    response_previous_bitmap = SelectObject(response_dc, response_bitmap);
    RECT all = {0, 0, response_width, response_height};
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    FillRect(response_dc, &all, white);
    DeleteObject(white);
}

static void release_response_bitmap() {
    if (response_dc == nullptr) return;
    SelectObject(response_dc, response_previous_bitmap);
    DeleteObject(response_bitmap);
    DeleteDC(response_dc);
    response_dc = nullptr;
    response_bitmap = nullptr;
    response_previous_bitmap = nullptr;
}

static void fill_preset_list(HWND page) {
    HWND combo = GetDlgItem(page, presetComboId);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    char text[128];
    for (int position = 0; multiband_preset_list_text(position, text, sizeof text); ++position)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
}

static void initialise_page(HWND page) {
    page_setup(page);
    for (int id = mbFirstBandTrackbarId; id < mbFirstBandTrackbarId + 16; ++id) {
        SendDlgItemMessageA(page, id, TBM_SETLINESIZE, 0, 1);
        SendDlgItemMessageA(page, id, TBM_SETPAGESIZE, 0, 1);
        SendDlgItemMessageA(page, id, TBM_SETRANGE, TRUE, MAKELPARAM(0, multiband_trackbar_max(id)));
    }
    static const int levelTrackbars[] = {mbDriveTrackbarId, mbStereoTrackbarId};
    for (int id : levelTrackbars) {
        SendDlgItemMessageA(page, id, TBM_SETLINESIZE, 0, 1);
        SendDlgItemMessageA(page, id, TBM_SETPAGESIZE, 0, 1);
        SendDlgItemMessageA(page, id, TBM_SETRANGE, TRUE, MAKELPARAM(0, multiband_trackbar_max(id)));
    }
    fill_preset_list(page);
    EnableWindow(GetDlgItem(page, addPresetId), FALSE);
    EnableWindow(GetDlgItem(page, deletePresetId), FALSE);

    show_crossovers(page);
    parse_page_strings(0);
    refresh_multiband_page(page);

    create_response_bitmap(page);
    draw_response_curve();
    SetTimer(page, bandGraphTimer, 20, nullptr);
    store_relaxed(settings.engine.multiband.bandReadoutsOn, int32_t{1});
    take_multiband_snapshot();
}

static void add_preset(HWND page) {
    HWND combo = GetDlgItem(page, presetComboId);
    char name[mbPresetNameLength + 1] = {};
    GetDlgItemTextA(page, presetComboId, name, sizeof name);
    const int slot = multiband_add_user_preset(name);
    if (slot < 0) return;
    if (slot == 0) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("User settings:"));
    char entry[mbPresetNameLength + 8];
    snprintf(entry, sizeof entry, "   %s", name);
    const LRESULT position = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    EnableWindow(GetDlgItem(page, addPresetId), FALSE);
}

static void delete_preset(HWND page) {
    HWND combo = GetDlgItem(page, presetComboId);
    const int position = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    if (position < mbFirstUserPosition) return;
    if (!multiband_delete_user_preset(position - mbFirstUserPosition)) return;
    SendMessageA(combo, CB_DELETESTRING, static_cast<WPARAM>(position), 0);
    if (multiband_user_preset_count() == 0)
        SendMessageA(combo, CB_DELETESTRING, mbUserHeadingPosition, 0);
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
    EnableWindow(GetDlgItem(page, deletePresetId), FALSE);
}

// Returns false for the commands that stop before the final parse and refresh.
static bool handle_command(HWND page, int id, int code) {
    if (id == mbEnableId) {
        multiband_switch_clicked(id, IsDlgButtonChecked(page, id) == BST_CHECKED);
        parse_page_strings(2);
        return false;
    }
    if (id >= mbFirstCrossoverId && id < mbFirstCrossoverId + 3) {
        if (code == EN_KILLFOCUS) {
            BOOL translated = FALSE;
            UINT value = GetDlgItemInt(page, id, &translated, FALSE);
            if (!translated) value = 0;
            multiband_crossover_entered(id - mbFirstCrossoverId, value);
            parse_page_strings(1);
            restart_response_timer(page);
        }
        return true;
    }
    switch (id) {
    case presetComboId:
        if (code == CBN_EDITCHANGE) {
            char text[40] = {};
            GetDlgItemTextA(page, presetComboId, text, sizeof text);
            const LRESULT found = SendDlgItemMessageA(page, presetComboId, CB_FINDSTRINGEXACT,
                                                      static_cast<WPARAM>(-1),
                                                      reinterpret_cast<LPARAM>(text));
            EnableWindow(GetDlgItem(page, addPresetId), found == CB_ERR);
        } else if (code == CBN_SELENDOK) {
            const int position =
                static_cast<int>(SendDlgItemMessageA(page, presetComboId, CB_GETCURSEL, 0, 0));
            EnableWindow(GetDlgItem(page, deletePresetId), position >= mbFirstUserPosition);
            if (!multiband_select_preset(position)) return false;
            parse_page_strings(1);
            show_crossovers(page);
            restart_response_timer(page);
        }
        return true;
    case limiterConfigId:
        DialogBoxParamA(static_cast<HINSTANCE>(settings.resource_instance),
                        MAKEINTRESOURCEA(limiterTemplateId), page, limiter_dialog_proc, 0);
        return true;
    case addPresetId: add_preset(page); return true;
    case deletePresetId: delete_preset(page); return true;
    default: break;
    }
    multiband_switch_clicked(id, IsDlgButtonChecked(page, id) == BST_CHECKED);
    return true;
}

INT_PTR CALLBACK multiband_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise_page(page);
        break;
    case WM_COMMAND:
        if (handle_command(page, LOWORD(wparam), HIWORD(wparam))) {
            parse_page_strings(0);
            refresh_multiband_page(page);
        }
        break;
    case WM_HSCROLL: {
        HWND sender = reinterpret_cast<HWND>(lparam);
        const int id = sender != nullptr ? GetDlgCtrlID(sender) : 0;
        if (sender != nullptr && GetParent(sender) == page)
            multiband_trackbar_moved(id, static_cast<int>(SendMessageA(sender, TBM_GETPOS, 0, 0)));
        parse_page_strings(0);
        refresh_multiband_page(page);
        if (multiband_is_threshold_trackbar(id)) restart_response_timer(page);
        break;
    }
    case WM_TIMER:
        if (wparam == bandGraphTimer) {
            KillTimer(page, bandGraphTimer);
            SetTimer(page, bandGraphTimer, 200, nullptr);
            draw_band_graph(GetDlgItem(page, graphControlId), page);
        } else if (wparam == responseTimer) {
            KillTimer(page, responseTimer);
            draw_response_curve();
        }
        break;
    case WM_DESTROY:
        release_response_bitmap();
        KillTimer(page, bandGraphTimer);
        KillTimer(page, responseTimer);
        store_relaxed(settings.engine.multiband.bandReadoutsOn, int32_t{0});
        store_relaxed(settings.engine.multiband.soloBand, uint16_t{0});
        release_multiband_snapshot();
        break;
    default: break;
    }
    return FALSE;
}
