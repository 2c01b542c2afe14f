// The "Enhancer 1" page: classic enhancer, equalizer, presets and level meter.
// The decisions live in pages/enhancer_page.cpp; this file moves values between
// them and the controls.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "settings/settings_engine.h"
#include "pages/enhancer_page.h"
#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"
#include "ui/config_dialog.h"
#include "ui/pages.h"

namespace {

constexpr int classicEnableId = 181;
constexpr int equalizerEnableId = 182;
constexpr int resetId = 153;
constexpr int addId = 151;
constexpr int deleteId = 152;
constexpr int presetBoxId = 133;
constexpr int meterId = 131;
constexpr int firstFrequencyEditId = 161;
constexpr int firstSliderId = 201;
constexpr int firstLabelId = 301;

const char* const restorePreviousText = "   [ Restore previous ]";

// The meter's drawing resources, alive from the page's creation to its end.
struct MeterCanvas {
    RECT rect;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ replaced;
};
MeterCanvas canvas{};

void set_enabled(HWND page, int id, bool enabled) {
    EnableWindow(GetDlgItem(page, id), enabled ? TRUE : FALSE);
}

void set_text(HWND page, int id, const char* text) { SetDlgItemTextA(page, id, text); }

void clamp_eq_frequencies(HWND page, bool show) {
    clamp_eq_frequency_settings();
    if (!show) return;
    for (int b = 0; b < 3; ++b)
        SetDlgItemInt(page, firstFrequencyEditId + b, load_relaxed(settings.eq_bands[b].frequency),
                      FALSE);
}

void refresh_enhancer_page(HWND page) {
    char text[64];
    int enhance = load_relaxed(settings.enhance);
    CheckDlgButton(page, classicEnableId, enhance == 1 ? BST_CHECKED : BST_UNCHECKED);

    const int positions[6] = {load_relaxed(settings.stereo_width), load_relaxed(settings.hpcutoff),
                              load_relaxed(settings.amp_max),      load_relaxed(settings.amp_up),
                              load_relaxed(settings.amp_dwn),      load_relaxed(settings.threshold)};
    for (int i = 0; i < 6; ++i)
        SendDlgItemMessageA(page, firstSliderId + i, TBM_SETPOS, TRUE, positions[i]);

    stereo_width_label(text, sizeof text, positions[0]);
    set_text(page, 301, text);
    hp_cutoff_label(text, sizeof text, positions[1]);
    set_text(page, 302, text);

    int rate = enhancer_page_rate(load_relaxed(settings.sample_rate));
    computeClassicCoefficients(1, 0, rate, 0);

    max_amp_label(text, sizeof text, load_relaxed(settings.engine.gainCeiling));
    set_text(page, 303, text);
    raise_time_label(text, sizeof text, load_relaxed(settings.engine.gainUpStep), rate);
    set_text(page, 304, text);
    reduce_time_label(text, sizeof text, load_relaxed(settings.engine.gainDownStep), rate);
    set_text(page, 305, text);
    threshold_label(text, sizeof text, positions[5]);
    set_text(page, 306, text);

    int eq_enable = load_relaxed(settings.eq_enable);
    CheckDlgButton(page, equalizerEnableId, eq_enable != 0 ? BST_CHECKED : BST_UNCHECKED);
    for (int b = 0; b < 3; ++b) {
        int gain = load_relaxed(settings.eq_bands[b].gain);
        SendDlgItemMessageA(page, 207 + b, TBM_SETPOS, TRUE, gain);
        band_gain_label(text, sizeof text, gain);
        set_text(page, 307 + b, text);
    }

    int bits = load_relaxed(settings.bits_per_sample);
    bool classic = classic_group_enabled(enhance, bits);
    for (int i = 0; i < 6; ++i) {
        set_enabled(page, firstSliderId + i, classic);
        set_enabled(page, firstLabelId + i, classic);
    }
    bool equalizer = equalizer_group_enabled(eq_enable, enhance, bits);
    for (int b = 0; b < 3; ++b) {
        set_enabled(page, 207 + b, equalizer);
        set_enabled(page, firstFrequencyEditId + b, equalizer);
        set_enabled(page, 307 + b, equalizer);
    }
    set_enabled(page, resetId, equalizer);
}

void fill_preset_list(HWND page) {
    HWND box = GetDlgItem(page, presetBoxId);
    SendMessageA(box, CB_RESETCONTENT, 0, 0);
    SendMessageA(box, CB_LIMITTEXT, presetNameLimit, 0);
    SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(restorePreviousText));
    SendMessageA(box, CB_SETCURSEL, 0, 0);
    int count = eq_preset_list_count();
    for (int slot = 0; slot < count; ++slot) {
        // A record too short to carry a name still takes its place in the list,
        // so that list item i + 1 keeps showing slot i.
        const char* name = eq_preset_list_name(slot);
        SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name != nullptr ? name : ""));
    }
}

void create_meter_canvas(HWND page) {
    HWND meter = GetDlgItem(page, meterId);
    GetClientRect(meter, &canvas.rect);
    canvas.dc = CreateCompatibleDC(nullptr);
    HDC meter_dc = GetDC(meter);
    canvas.bitmap = CreateCompatibleBitmap(meter_dc, canvas.rect.right, canvas.rect.bottom);
    ReleaseDC(meter, meter_dc);
    canvas.replaced = SelectObject(canvas.dc, canvas.bitmap);
}

void release_meter_canvas() {
    if (canvas.dc != nullptr) {
        SelectObject(canvas.dc, canvas.replaced);
        DeleteDC(canvas.dc);
    }
    if (canvas.bitmap != nullptr) DeleteObject(canvas.bitmap);
    canvas = MeterCanvas{};
}

void fill_rect(HDC dc, const MeterRect& r) { Rectangle(dc, r.left, r.top, r.right, r.bottom); }

void draw_meter(bool measured) {
    if (canvas.dc == nullptr) return;
    HBRUSH background = CreateSolidBrush(RGB(20, 40, 60));
    FillRect(canvas.dc, &canvas.rect, background);
    DeleteObject(background);
    if (!measured) return;

    MeterPicture picture =
        meter_picture(canvas.rect.right, canvas.rect.bottom, load_relaxed(settings.channel_count),
                      settings.meter_levels, settings.meter_amp);

    HPEN level_pen = CreatePen(PS_SOLID, 1, RGB(80, 160, 240));
    HBRUSH level_brush = CreateSolidBrush(RGB(80, 160, 240));
    HGDIOBJ old_pen = SelectObject(canvas.dc, level_pen);
    HGDIOBJ old_brush = SelectObject(canvas.dc, level_brush);
    for (int i = 0; i < picture.bar_count; ++i) fill_rect(canvas.dc, picture.bars[i]);

    HPEN amp_pen = CreatePen(PS_SOLID, 1, RGB(210, 140, 70));
    HBRUSH amp_brush = CreateSolidBrush(RGB(210, 140, 70));
    SelectObject(canvas.dc, amp_pen);
    SelectObject(canvas.dc, amp_brush);
    fill_rect(canvas.dc, picture.amp_bar);

    SelectObject(canvas.dc, old_pen);
    SelectObject(canvas.dc, old_brush);
    DeleteObject(level_pen);
    DeleteObject(level_brush);
    DeleteObject(amp_pen);
    DeleteObject(amp_brush);
}

void read_box_text(HWND page, char* name) {
    GetDlgItemTextA(page, presetBoxId, name, presetNameBuffer);
    name[presetNameBuffer - 1] = '\0';
}

void on_preset_box(HWND page, int notification) {
    HWND box = GetDlgItem(page, presetBoxId);
    if (notification == CBN_EDITCHANGE) {
        char name[presetNameBuffer];
        read_box_text(page, name);
        LRESULT found = SendMessageA(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(name));
        set_enabled(page, addId, found == CB_ERR);
    } else if (notification == CBN_SELENDOK) {
        int s = static_cast<int>(SendMessageA(box, CB_GETCURSEL, 0, 0));
        set_enabled(page, deleteId, delete_allowed_for_item(s));
        select_eq_preset_item(s);
        clamp_eq_frequencies(page, true);
        if (load_relaxed(settings.enhance) == 1) computeClassicCoefficients(1, 0, 0, 0);
    }
}

void on_add(HWND page) {
    if (first_empty_eq_preset_slot() >= presetSlotCount - 1) return;
    char name[presetNameBuffer];
    read_box_text(page, name);
    int slot = add_eq_preset(name);
    if (slot < 0) return;
    HWND box = GetDlgItem(page, presetBoxId);
    LRESULT item = SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    set_enabled(page, addId, false);
}

void on_delete(HWND page) {
    HWND box = GetDlgItem(page, presetBoxId);
    int s = static_cast<int>(SendMessageA(box, CB_GETCURSEL, 0, 0));
    if (!delete_eq_preset_item(s)) return;
    SendMessageA(box, CB_DELETESTRING, static_cast<WPARAM>(s), 0);
    SendMessageA(box, CB_SETCURSEL, 0, 0);
}

void on_command(HWND page, int id, int notification) {
    switch (id) {
    case classicEnableId:
        set_classic_enabled(IsDlgButtonChecked(page, classicEnableId) == BST_CHECKED);
        break;
    case equalizerEnableId:
        toggle_equalizer();
        break;
    case resetId:
        reset_equalizer_gains();
        break;
    case firstFrequencyEditId:
    case firstFrequencyEditId + 1:
    case firstFrequencyEditId + 2:
        if (notification == EN_KILLFOCUS) {
            UINT typed = GetDlgItemInt(page, id, nullptr, FALSE);
            set_band_frequency(id - firstFrequencyEditId, typed);
            clamp_eq_frequencies(page, true);
        }
        break;
    case presetBoxId:
        on_preset_box(page, notification);
        break;
    case addId:
        on_add(page);
        break;
    case deleteId:
        on_delete(page);
        break;
    default:
        break;
    }
    refresh_enhancer_page(page);
}

void on_init(HWND page) {
    page_setup(page);
    store_relaxed(settings.meterRequest, static_cast<uint8_t>(load_relaxed(settings.meterRequest) | 1));
    create_meter_canvas(page);
    SetTimer(page, meterTimerId, meterTimerPeriod, nullptr);
    take_enhancer_snapshot();
    for (int id = firstSliderId; id <= 209; ++id) {
        SendDlgItemMessageA(page, id, TBM_SETLINESIZE, 0, 1);
        SendDlgItemMessageA(page, id, TBM_SETPAGESIZE, 0, 1);
        SendDlgItemMessageA(page, id, TBM_SETRANGE, TRUE, MAKELPARAM(0, enhancer_slider_max(id)));
    }
    clamp_eq_frequencies(page, true);
    fill_preset_list(page);
    set_enabled(page, addId, false);
    set_enabled(page, deleteId, false);
    refresh_enhancer_page(page);
}

void on_destroy(HWND page) {
    KillTimer(page, meterTimerId);
    release_meter_canvas();
    clamp_eq_frequencies(page, false);
    store_relaxed(settings.meterRequest,
                  static_cast<uint8_t>(load_relaxed(settings.meterRequest) & ~1u));
}

}  // namespace

INT_PTR CALLBACK enhancer_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        on_init(page);
        break;
    case WM_COMMAND:
        on_command(page, LOWORD(wparam), HIWORD(wparam));
        break;
    case WM_HSCROLL:
    case WM_VSCROLL: {
        HWND slider = reinterpret_cast<HWND>(lparam);
        if (slider != nullptr) {
            int position = static_cast<int>(SendMessageA(slider, TBM_GETPOS, 0, 0));
            store_trackbar_position(GetDlgCtrlID(slider), position);
        }
        refresh_enhancer_page(page);
        break;
    }
    case WM_TIMER:
        if (wparam == meterTimerId) {
            bool measured = update_meter();
            draw_meter(measured);
            blit_window(GetDlgItem(page, meterId), &canvas.rect, canvas.dc);
        }
        break;
    case WM_DESTROY:
        on_destroy(page);
        break;
    default:
        break;
    }
    return FALSE;
}
