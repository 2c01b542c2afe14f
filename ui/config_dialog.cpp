// The modal configuration dialog: a tab control that shows one page window at a
// time, a "Close" button, and the helpers the pages share.
#include "ui/config_dialog.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <cstring>

#include "settings/plugin_settings.h"
#include "settings/settings_file.h"
#include "ui/pages.h"

namespace {

constexpr int frameTemplate = 100;
constexpr int firstPageTemplate = 101;
constexpr int pageCount = 4;
constexpr int tabControlId = 130;
constexpr int closeButtonId = 141;
constexpr int fontProbeId = 142;
constexpr int firstHeadingId = 144;
constexpr int lastHeadingId = 147;

struct ConfigDialogState {
    HWND tabs;
    HWND page;
    LPCDLGTEMPLATEA templates[pageCount];
    DLGPROC procedures[pageCount];
    HMODULE theme_library;
    HFONT heading_font;
};

using EnableThemeDialogTextureFunction = HRESULT(WINAPI*)(HWND, DWORD);
// Set each time a dialog initialises; used only by page_setup while it exists.
EnableThemeDialogTextureFunction enable_theme_dialog_texture = nullptr;
// The close box's message is followed by a queued IDCANCEL as well: close once.
bool dialog_closed = false;

const char* const tab_texts[pageCount] = {"Enhancer 1", "Enhancer 2", "Misc", "About / Help"};

ConfigDialogState* dialog_state(HWND dialog) {
    return reinterpret_cast<ConfigDialogState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

HINSTANCE resources() { return static_cast<HINSTANCE>(settings.resource_instance); }

// The library's own module, for a host that did not fill the instance handle.
HINSTANCE own_module() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&own_module), &module);
    return module;
}

LPCDLGTEMPLATEA locked_template(int id) {
    HRSRC found = FindResourceA(resources(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    if (found == nullptr) return nullptr;
    HGLOBAL loaded = LoadResource(resources(), found);
    if (loaded == nullptr) return nullptr;
    return static_cast<LPCDLGTEMPLATEA>(LockResource(loaded));
}

void show_selected_page(HWND dialog) {
    ConfigDialogState* state = dialog_state(dialog);
    if (state == nullptr) return;
    int index = static_cast<int>(SendMessageA(state->tabs, TCM_GETCURSEL, 0, 0));
    if (index < 0 || index >= pageCount) index = 0;
    if (state->page != nullptr) {
        DestroyWindow(state->page);
        state->page = nullptr;
    }
    if (state->templates[index] == nullptr) return;
    state->page = CreateDialogIndirectParamA(resources(), state->templates[index], dialog,
                                             state->procedures[index], 0);
}

void initialise_dialog(HWND dialog) {
    auto* state = static_cast<ConfigDialogState*>(LocalAlloc(LPTR, sizeof(ConfigDialogState)));
    enable_theme_dialog_texture = nullptr;
    dialog_closed = false;
    if (state == nullptr) return;

    // The theme library comes from the system folder only.
    char path[80 + 16];
    UINT length = GetSystemDirectoryA(path, 80);
    if (length > 0 && length < 80) {
        strcat(path, "\\UxTheme.dll");
        state->theme_library = LoadLibraryA(path);
    }
    if (state->theme_library != nullptr)
        enable_theme_dialog_texture = reinterpret_cast<EnableThemeDialogTextureFunction>(
            reinterpret_cast<void*>(GetProcAddress(state->theme_library, "EnableThemeDialogTexture")));

    SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    state->tabs = GetDlgItem(dialog, tabControlId);

    for (int i = 0; i < pageCount; ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT | TCIF_IMAGE;
        item.pszText = const_cast<char*>(tab_texts[i]);
        item.iImage = -1;
        SendMessageA(state->tabs, TCM_INSERTITEMA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&item));
    }
    for (int i = 0; i < pageCount; ++i) state->templates[i] = locked_template(firstPageTemplate + i);
    state->procedures[0] = enhancer_page_proc;
    state->procedures[1] = multiband_page_proc;
    state->procedures[2] = misc_page_proc;
    state->procedures[3] = about_page_proc;

    // The headings take the height of an ordinary line of the dialog's font.
    RECT probe{};
    GetClientRect(GetDlgItem(dialog, fontProbeId), &probe);
    state->heading_font = CreateFontA(probe.bottom, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                      DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, nullptr);

    int tab = settings.tab_sel < pageCount ? settings.tab_sel : 0;
    SendMessageA(state->tabs, TCM_SETCURSEL, static_cast<WPARAM>(tab), 0);
    show_selected_page(dialog);
}

void close_dialog(HWND dialog) {
    if (dialog_closed) return;
    dialog_closed = true;
    ConfigDialogState* state = dialog_state(dialog);
    if (state != nullptr) {
        int tab = static_cast<int>(SendMessageA(state->tabs, TCM_GETCURSEL, 0, 0));
        settings.tab_sel = static_cast<uint8_t>(tab >= 0 && tab < pageCount ? tab : 0);
        enable_theme_dialog_texture = nullptr;
        if (state->theme_library != nullptr) FreeLibrary(state->theme_library);
        if (state->heading_font != nullptr) DeleteObject(state->heading_font);
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
        LocalFree(state);
    }
    // Never write a block that was not initialised (a host calling Config first).
    if (load_relaxed(settings.init_state) > 0) settings_save();
    store_relaxed(settings.meterRequest, uint8_t{0});
    EndDialog(dialog, 0);
}

INT_PTR CALLBACK config_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise_dialog(dialog);
        SetFocus(dialog);
        return FALSE;
    case WM_NOTIFY:
        if (lparam != 0 &&
            reinterpret_cast<const NMHDR*>(lparam)->code == static_cast<UINT>(TCN_SELCHANGE))
            show_selected_page(dialog);
        return FALSE;
    case WM_CLOSE:
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDCANCEL || LOWORD(wparam) == closeButtonId) {
            close_dialog(dialog);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

void run_config_dialog(HWND parent) {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                                 ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    if (settings.resource_instance == nullptr) settings.resource_instance = own_module();
    DialogBoxParamA(resources(), MAKEINTRESOURCEA(frameTemplate), parent, config_dialog_proc, 0);
}

void page_setup(HWND page) {
    if (enable_theme_dialog_texture != nullptr)
        enable_theme_dialog_texture(page, ETDT_ENABLE | ETDT_USETABTEXTURE);

    HWND parent = GetParent(page);
    RECT page_rect{}, parent_rect{};
    GetClientRect(page, &page_rect);
    GetClientRect(parent, &parent_rect);
    int x = (parent_rect.right - page_rect.right) / 2;
    int y = (parent_rect.bottom - page_rect.bottom) / 2 - 6;
    SetWindowPos(page, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);

    ConfigDialogState* state = dialog_state(parent);
    if (state == nullptr || state->heading_font == nullptr) return;
    for (int id = firstHeadingId; id <= lastHeadingId; ++id) {
        HWND heading = GetDlgItem(page, id);
        if (heading != nullptr)
            SendMessageA(heading, WM_SETFONT, reinterpret_cast<WPARAM>(state->heading_font), 0);
    }
}

void blit_window(HWND target, const RECT* rect, HDC source) {
    if (target == nullptr) return;
    HDC dc = GetDC(target);
    BitBlt(dc, 0, 0, rect->right, rect->bottom, source, 0, 0, SRCCOPY);
    ReleaseDC(target, dc);
}
