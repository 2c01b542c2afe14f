// Drives the configuration dialog of the plug-in library as a user would, with
// window messages from a second thread, while a third thread plays audio
// through ModifySamples. Checks the Enhancer 1, Misc and About pages and the
// settings file the dialog writes, and saves a picture of every page.
//
// Usage: ui_test_enhancer PLUGIN.dll PICTURE_FOLDER
// The library must sit in a folder of its own: the settings file and the tag
// file are created beside it.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/dsp_interface.h"

namespace {

const char* const dialogCaption = "yarq's Enhancers 2.1";

DspModule* module = nullptr;
std::string library_folder;  // with a trailing backslash
std::string picture_folder;
int failures = 0;
int checks = 0;

#define CHECK(condition, ...)                                                   \
    do {                                                                        \
        ++checks;                                                               \
        if (!(condition)) {                                                     \
            ++failures;                                                         \
            fprintf(stderr, "FAILED line %d: %s: ", __LINE__, #condition);      \
            fprintf(stderr, __VA_ARGS__);                                       \
            fprintf(stderr, "\n");                                              \
        }                                                                       \
    } while (0)

// ---- Audio thread --------------------------------------------------------------

std::atomic<bool> audio_running{false};
std::atomic<bool> audio_stop{false};
std::atomic<int> blocks_played{0};
std::atomic<bool> last_block_changed{false};
std::atomic<int> audio_amplitude{8000};

DWORD WINAPI audio_thread(void*) {
    constexpr int frames = 1024;
    std::vector<int16_t> block(frames * 2), original(frames * 2);
    double phase = 0.0;
    while (!audio_stop.load()) {
        double amplitude = audio_amplitude.load();
        for (int f = 0; f < frames; ++f) {
            double s = std::sin(phase);
            phase += 2.0 * 3.14159265358979 * 440.0 / 44100.0;
            block[2 * f] = static_cast<int16_t>(amplitude * s);
            block[2 * f + 1] = static_cast<int16_t>(0.5 * amplitude * std::sin(0.7 * phase));
        }
        original = block;
        module->ModifySamples(module, block.data(), frames, 16, 2, 44100);
        last_block_changed.store(block != original);
        blocks_played.fetch_add(1);
        Sleep(10);
    }
    return 0;
}

// Waits until the audio thread has finished a few more blocks, so that every
// setting changed before the call has reached the audio.
void wait_for_blocks(int count) {
    int target = blocks_played.load() + count;
    for (int i = 0; i < 500 && blocks_played.load() < target; ++i) Sleep(5);
}

// ---- Dialog helpers -------------------------------------------------------------

HWND dialog = nullptr;

HWND find_dialog() {
    for (int i = 0; i < 400; ++i) {
        HWND found = FindWindowA(nullptr, dialogCaption);
        if (found != nullptr && IsWindowVisible(found)) return found;
        Sleep(25);
    }
    return nullptr;
}

void wait_dialog_gone() {
    for (int i = 0; i < 400 && IsWindow(dialog); ++i) Sleep(25);
}

// The page window: the child dialog of the frame.
HWND page() { return FindWindowExA(dialog, nullptr, "#32770", nullptr); }

std::string text_of(HWND window, int id) {
    char buffer[256] = {};
    GetDlgItemTextA(window, id, buffer, sizeof buffer);
    return buffer;
}

void select_tab(int index) {
    HWND tabs = GetDlgItem(dialog, 130);
    SendMessageA(tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    NMHDR notification{tabs, 130, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(dialog, WM_NOTIFY, 130, reinterpret_cast<LPARAM>(&notification));
}

void move_slider(int id, int position) {
    HWND p = page();
    HWND slider = GetDlgItem(p, id);
    SendMessageA(slider, TBM_SETPOS, TRUE, position);
    bool vertical = (GetWindowLongA(slider, GWL_STYLE) & TBS_VERT) != 0;
    SendMessageA(p, vertical ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                 reinterpret_cast<LPARAM>(slider));
}

void click(int id) { SendMessageA(GetDlgItem(page(), id), BM_CLICK, 0, 0); }

bool checked(int id) { return IsDlgButtonChecked(page(), id) == BST_CHECKED; }

bool enabled(int id) { return IsWindowEnabled(GetDlgItem(page(), id)) != FALSE; }

// Types a text into an edit field and moves the keyboard focus away from it,
// as a user does with the mouse or the Tab key.
void type_into(int id, const char* text, int next_id) {
    HWND p = page();
    DWORD ui_thread = GetWindowThreadProcessId(dialog, nullptr);
    AttachThreadInput(GetCurrentThreadId(), ui_thread, TRUE);
    SetFocus(GetDlgItem(p, id));
    SendMessageA(GetDlgItem(p, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    SetFocus(GetDlgItem(p, next_id));
    AttachThreadInput(GetCurrentThreadId(), ui_thread, FALSE);
}

void choose_preset(int item) {
    HWND p = page();
    HWND box = GetDlgItem(p, 133);
    SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    SendMessageA(p, WM_COMMAND, MAKEWPARAM(133, CBN_SELENDOK), reinterpret_cast<LPARAM>(box));
}

void type_preset_name(const char* name) {
    HWND p = page();
    HWND box = GetDlgItem(p, 133);
    SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name));
    SendMessageA(p, WM_COMMAND, MAKEWPARAM(133, CBN_EDITCHANGE), reinterpret_cast<LPARAM>(box));
}

std::string preset_item(int item) {
    HWND box = GetDlgItem(page(), 133);
    LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(item), 0);
    if (length == CB_ERR) return "<none>";
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return text;
}

int preset_count() { return static_cast<int>(SendDlgItemMessageA(page(), 133, CB_GETCOUNT, 0, 0)); }

// ---- Pictures -----------------------------------------------------------------------

struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
};

// What the screen shows inside a window (the meter reaches its control only
// by being copied onto the screen, so the window cannot be asked to paint).
Picture capture(HWND window) {
    Picture picture;
    RECT r{};
    GetWindowRect(window, &r);
    picture.width = r.right - r.left;
    picture.height = r.bottom - r.top;
    if (picture.width <= 0 || picture.height <= 0) return picture;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.width, picture.height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto* source = static_cast<const uint32_t*>(bits);
    picture.pixels.assign(source, source + picture.width * picture.height);
    for (uint32_t& p : picture.pixels) p &= 0xFFFFFFu;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

void save_picture(const Picture& picture, const char* name) {
    std::string path = picture_folder + "\\" + name + ".bmp";
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    int row = picture.width * 3 + ((4 - picture.width * 3 % 4) % 4);
    BITMAPFILEHEADER header{};
    BITMAPINFOHEADER info{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(row * picture.height);
    info.biSize = sizeof info;
    info.biWidth = picture.width;
    info.biHeight = picture.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    fwrite(&header, sizeof header, 1, file);
    fwrite(&info, sizeof info, 1, file);
    std::vector<unsigned char> line(static_cast<size_t>(row), 0);
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            uint32_t p = picture.pixels[static_cast<size_t>(y * picture.width + x)];
            line[static_cast<size_t>(3 * x)] = static_cast<unsigned char>(p);
            line[static_cast<size_t>(3 * x + 1)] = static_cast<unsigned char>(p >> 8);
            line[static_cast<size_t>(3 * x + 2)] = static_cast<unsigned char>(p >> 16);
        }
        fwrite(line.data(), line.size(), 1, file);
    }
    fclose(file);
}

void save_dialog_picture(const char* name) {
    // Let the page paint itself (and the meter tick) before looking.
    Sleep(400);
    save_picture(capture(dialog), name);
}

int count_colour(const Picture& picture, uint32_t rgb) {
    int n = 0;
    for (uint32_t p : picture.pixels) n += p == rgb;
    return n;
}

// ---- Files ----------------------------------------------------------------------------

std::string read_text(const std::string& path) {
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    fclose(file);
    return text;
}

bool file_exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ini_path() { return library_folder + "dsp_redozer.ini"; }
std::string tag_path() { return library_folder + "zb_local.ini"; }

bool has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos ||
           ("\n" + text).find("\n" + line + "\r\n") != std::string::npos;
}

// ---- Expected labels, from the enhancer's own formulas --------------------------

std::string format(const char* pattern, double value) {
    char text[64];
    snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string expected_ceiling(int amp_max) {
    return format("%.1f x ", static_cast<double>(static_cast<float>(0.09 * amp_max + 1)));
}

std::string expected_time(float step, const char* pattern) {
    float frames = static_cast<float>(1000.0 / step);
    return format(pattern, static_cast<double>(static_cast<float>(frames / 44100.0)));
}

std::string expected_raise(int amp_up) {
    double x = amp_up / 100.0;
    return expected_time(static_cast<float>(0.0004 * (x * x) * (x * x) + 0.000004), "%.0f ms ");
}

std::string expected_reduce(int amp_dwn) {
    return expected_time(static_cast<float>(0.001 * (100 - amp_dwn) + 0.004), "%.1f ms ");
}

// ---- The rounds -------------------------------------------------------------------

void check_default_labels(const char* when) {
    HWND p = page();
    CHECK(text_of(p, 301) == "10 % ", "%s: stereo label '%s'", when, text_of(p, 301).c_str());
    CHECK(text_of(p, 302) == "off ", "%s: high-pass label '%s'", when, text_of(p, 302).c_str());
    CHECK(text_of(p, 303) == "6.0 x ", "%s: max amp label '%s'", when, text_of(p, 303).c_str());
    CHECK(text_of(p, 304) == "227 ms ", "%s: raise label '%s'", when, text_of(p, 304).c_str());
    CHECK(text_of(p, 305) == "0.8 ms ", "%s: reduce label '%s'", when, text_of(p, 305).c_str());
    CHECK(text_of(p, 306) == "-1.0 dB ", "%s: threshold label '%s'", when, text_of(p, 306).c_str());
    for (int id = 307; id <= 309; ++id)
        CHECK(text_of(p, id) == "0", "%s: band label %d '%s'", when, id, text_of(p, id).c_str());
    CHECK(text_of(p, 161) == "100" && text_of(p, 162) == "1000" && text_of(p, 163) == "10000",
          "%s: frequencies '%s' '%s' '%s'", when, text_of(p, 161).c_str(), text_of(p, 162).c_str(),
          text_of(p, 163).c_str());
}

// The controls of a template: class, style bits that must be set, position and
// size in dialog units of the window's own font.
struct TemplateControl {
    int id;
    const char* window_class;
    DWORD style;
    int x, y, width, height;
};

const DWORD slider = TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_CLIPSIBLINGS | WS_TABSTOP;
const DWORD band_slider = TBS_VERT | TBS_BOTH | TBS_NOTICKS | WS_CLIPSIBLINGS | WS_TABSTOP;
// The dialog manager turns an edit field's border into a sunken client edge.
const DWORD frequency_edit = ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP;

const TemplateControl enhancer_controls[] = {
    {144, "Static", WS_GROUP, 6, 6, 180, 12},
    {181, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, 16, 26, 70, 10},
    {201, "msctls_trackbar32", slider, 86, 42, 80, 12},
    {202, "msctls_trackbar32", slider, 86, 56, 80, 12},
    {203, "msctls_trackbar32", slider, 86, 70, 80, 12},
    {204, "msctls_trackbar32", slider, 86, 84, 80, 12},
    {205, "msctls_trackbar32", slider, 86, 98, 80, 12},
    {206, "msctls_trackbar32", slider, 86, 112, 80, 12},
    {301, "Static", 0, 172, 42, 40, 11},
    {302, "Static", 0, 172, 56, 40, 11},
    {303, "Static", 0, 172, 70, 40, 11},
    {304, "Static", 0, 172, 84, 40, 11},
    {305, "Static", 0, 172, 98, 40, 11},
    {306, "Static", 0, 172, 112, 40, 11},
    {145, "Static", WS_GROUP, 240, 6, 120, 12},
    {131, "Static", 0, 280, 38, 44, 70},
    {146, "Static", WS_GROUP, 6, 146, 180, 12},
    {182, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, 16, 166, 70, 10},
    {153, "Button", WS_TABSTOP, 16, 182, 40, 14},
    {207, "msctls_trackbar32", band_slider, 92, 163, 12, 36},
    {208, "msctls_trackbar32", band_slider, 128, 163, 12, 36},
    {209, "msctls_trackbar32", band_slider, 164, 163, 12, 36},
    {307, "Static", SS_RIGHT, 104, 188, 16, 10},
    {308, "Static", SS_RIGHT, 140, 188, 16, 10},
    {309, "Static", SS_RIGHT, 176, 188, 16, 10},
    {161, "Edit", frequency_edit, 92, 202, 30, 11},
    {162, "Edit", frequency_edit, 128, 202, 30, 11},
    {163, "Edit", frequency_edit, 164, 202, 30, 11},
    {147, "Static", WS_GROUP, 240, 146, 120, 12},
    {151, "Button", WS_TABSTOP, 250, 166, 30, 14},
    {152, "Button", WS_TABSTOP, 286, 166, 30, 14},
    // The list of a combo box takes its scroll bar style over.
    {133, "ComboBox", CBS_DROPDOWN | WS_TABSTOP, 250, 188, 110, 0},
};

const TemplateControl misc_controls[] = {
    {144, "Static", WS_GROUP, 6, 6, 180, 12},
    {181, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, 18, 26, 330, 10},
    {145, "Static", WS_GROUP, 6, 90, 180, 12},
    {191, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, 18, 110, 100, 10},
    {192, "Edit", WS_TABSTOP, 124, 108, 36, 13},
    {193, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, 18, 128, 100, 10},
    {194, "Edit", WS_TABSTOP, 124, 126, 36, 13},
    {195, "Static", SS_RIGHT, 102, 180, 52, 10},
    {196, "Static", SS_RIGHT, 255, 180, 52, 10},
    {197, "Static", SS_RIGHT, 102, 194, 52, 10},
};

const TemplateControl frame_controls[] = {
    {130, "SysTabControl32", WS_CLIPSIBLINGS | WS_GROUP | WS_TABSTOP, 6, 6, 376, 238},
    {141, "Button", 0, 298, 250, 80, 16},
};

void check_controls(HWND window, const TemplateControl* controls, int count, const char* what) {
    for (int i = 0; i < count; ++i) {
        const TemplateControl& c = controls[i];
        HWND control = GetDlgItem(window, c.id);
        CHECK(control != nullptr, "%s: no control %d", what, c.id);
        if (control == nullptr) continue;
        char name[64] = {};
        GetClassNameA(control, name, sizeof name);
        CHECK(_stricmp(name, c.window_class) == 0, "%s: control %d is a '%s'", what, c.id, name);
        DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
        CHECK((style & c.style) == c.style && (style & WS_VISIBLE) != 0, "%s: control %d style %08lx",
              what, c.id, static_cast<unsigned long>(style));
        if (c.window_class == std::string("Edit")) {
            DWORD extended = static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE));
            CHECK((style & WS_BORDER) != 0 || (extended & WS_EX_CLIENTEDGE) != 0,
                  "%s: edit %d without a border", what, c.id);
        }
        // Position and size are each converted from dialog units on their own.
        RECT expected{c.x, c.y, c.width, c.height};
        MapDialogRect(window, &expected);
        RECT actual{};
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
        long width = actual.right - actual.left, height = actual.bottom - actual.top;
        // A drop-down combo box sizes itself to its edit field.
        bool height_fixed = c.height > 0;
        CHECK(actual.left == expected.left && actual.top == expected.top && width == expected.right &&
                  (!height_fixed || height == expected.bottom),
              "%s: control %d at %ld,%ld size %ldx%ld, expected %ld,%ld size %ldx%ld", what, c.id,
              actual.left, actual.top, width, height, expected.left, expected.top, expected.right,
              expected.bottom);
    }
}

// The character format of the first place where text (case as given)
// appears in the document; false when it does not appear.
bool document_format(HWND document, const char* text, CHARFORMATA* format) {
    FINDTEXTA find{};
    find.chrg.cpMin = 0;
    find.chrg.cpMax = -1;
    find.lpstrText = text;
    LRESULT at = SendMessageA(document, EM_FINDTEXT, FR_DOWN | FR_MATCHCASE, reinterpret_cast<LPARAM>(&find));
    if (at < 0) return false;
    CHARRANGE range{static_cast<LONG>(at), static_cast<LONG>(at + static_cast<LRESULT>(strlen(text)))};
    SendMessageA(document, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    *format = CHARFORMATA{};
    format->cbSize = sizeof *format;
    SendMessageA(document, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(format));
    return true;
}

// The About document's look: title at 14 pt, section headings at 12 pt and
// run-in labels at 11 pt in bold, body text at 11 pt, all in Arial.
void check_document_formats(HWND document) {
    struct Expected {
        const char* text;
        bool bold;
        LONG twips;
    };
    const Expected expected[] = {
        {"2.1", true, 280},
        {"Licence", true, 240},
        {"freeware", false, 220},
        {"Manual", true, 240},
        {"16-bit", false, 220},
        {"Classic Enhancer", true, 240},
        {"Max amp:", true, 220},
        {"Amp raise:", true, 220},
        {"Amp reduce:", true, 220},
        {"Threshold:", true, 220},
        {"Input HP cutoff:", true, 220},
        {"Stereo width:", true, 220},
        {"Multiband and Limiter", true, 240},
        {"Up to four bands", true, 220},
        {"Level", true, 220},
        {"Soft clipping", true, 220},
    };
    for (const Expected& e : expected) {
        CHARFORMATA format{};
        bool found = document_format(document, e.text, &format);
        CHECK(found, "document lacks '%s'", e.text);
        if (!found) continue;
        bool bold = (format.dwEffects & CFE_BOLD) != 0;
        CHECK((format.dwMask & CFM_BOLD) != 0 && bold == e.bold, "'%s' bold %d, mask %08lx", e.text, bold,
              static_cast<unsigned long>(format.dwMask));
        CHECK((format.dwMask & CFM_SIZE) != 0 && format.yHeight == e.twips, "'%s' %ld twips, expected %ld",
              e.text, format.yHeight, e.twips);
        CHECK(strcmp(format.szFaceName, "Arial") == 0, "'%s' in '%s'", e.text, format.szFaceName);
    }
    // The home-page address is a link.
    CHARFORMATA format{};
    CHECK(document_format(document, "://", &format) && (format.dwEffects & CFE_LINK) != 0,
          "the home-page address is no link");
    // Back to the top, as the page showed it.
    SendMessageA(document, EM_SETSEL, 0, 0);
    SendMessageA(document, WM_VSCROLL, SB_TOP, 0);
}

// The frame: four tabs, the page centred in it, bold headings.
void check_frame(HWND p) {
    HWND tabs = GetDlgItem(dialog, 130);
    CHECK(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0) == 4, "tab count");
    const char* const names[4] = {"Enhancer 1", "Enhancer 2", "Misc", "About / Help"};
    for (int i = 0; i < 4; ++i) {
        char name[64] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = name;
        item.cchTextMax = sizeof name;
        SendMessageA(tabs, TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        CHECK(strcmp(name, names[i]) == 0, "tab %d reads '%s'", i, name);
    }
    RECT frame{}, inner{}, placed{};
    GetClientRect(dialog, &frame);
    GetClientRect(p, &inner);
    GetWindowRect(p, &placed);
    POINT origin{placed.left, placed.top};
    ScreenToClient(dialog, &origin);
    CHECK(origin.x == (frame.right - inner.right) / 2 && origin.y == (frame.bottom - inner.bottom) / 2 - 6,
          "page at %ld,%ld in a frame of %ldx%ld", origin.x, origin.y, frame.right, frame.bottom);
    // The move keeps the template's size and puts the page above the tab control.
    RECT template_size{0, 0, 364, 220};
    MapDialogRect(p, &template_size);
    CHECK(inner.right == template_size.right && inner.bottom == template_size.bottom,
          "page of %ldx%ld, template %ldx%ld", inner.right, inner.bottom, template_size.right,
          template_size.bottom);
    CHECK(GetWindow(dialog, GW_CHILD) == p, "the page is not the topmost child of the dialog");
    // The headings' font is as high as the hidden probe's client area.
    RECT probe{};
    GetClientRect(GetDlgItem(dialog, 142), &probe);
    for (int id = 144; id <= 147; ++id) {
        HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageA(p, id, WM_GETFONT, 0, 0));
        LOGFONTA description{};
        CHECK(font != nullptr && GetObjectA(font, sizeof description, &description) > 0 &&
                  description.lfWeight == FW_BOLD,
              "heading %d is not bold", id);
        CHECK(description.lfHeight == probe.bottom && probe.bottom > 0,
              "heading %d font height %ld, probe height %ld", id, description.lfHeight, probe.bottom);
    }
    HFONT text_font = reinterpret_cast<HFONT>(SendDlgItemMessageA(p, 181, WM_GETFONT, 0, 0));
    LOGFONTA description{};
    GetObjectA(text_font, sizeof description, &description);
    CHECK(description.lfWeight != FW_BOLD, "ordinary controls are bold");
}

// Opened before Init and before any audio: the page shows the defaults, the
// classic and equalizer controls are disabled, the check boxes still work.
void round_before_audio() {
    dialog = find_dialog();
    CHECK(dialog != nullptr, "the dialog did not open before Init");
    if (dialog == nullptr) return;
    HWND p = page();
    CHECK(p != nullptr && GetDlgItem(p, 201) != nullptr, "the first page is not Enhancer 1");
    check_frame(p);
    check_controls(dialog, frame_controls, 2, "frame");
    check_controls(p, enhancer_controls, sizeof enhancer_controls / sizeof enhancer_controls[0], "Enhancer 1");
    CHECK(!IsWindowVisible(GetDlgItem(dialog, 142)), "the font probe is visible");
    check_default_labels("before audio");
    CHECK(checked(181) && !checked(182), "check boxes %d %d", checked(181), checked(182));
    for (int id : {201, 206, 301, 306, 207, 209, 153, 161, 163, 307})
        CHECK(!enabled(id), "control %d enabled before any audio", id);
    for (int id : {181, 182, 133, 131})
        CHECK(enabled(id), "control %d disabled before any audio", id);
    click(181);
    CHECK(!checked(181), "classic Enable did not untick");
    click(181);
    CHECK(checked(181), "classic Enable did not tick again");
    save_dialog_picture("page_enhancer_before_audio");

    // The Escape key closes the dialog through the dialog manager.
    PostMessageA(GetDlgItem(p, 133), WM_KEYDOWN, VK_ESCAPE, 0);
    wait_dialog_gone();
    CHECK(!IsWindow(dialog), "Escape did not close the dialog");
    std::string ini = read_text(ini_path());
    CHECK(has_line(ini, "[zobrin dsp]") && has_line(ini, "enhance=1") && has_line(ini, "tab_sel=0"),
          "settings file after the first close:\n%s", ini.c_str());
}

void check_slider(int id, int position, int label, const std::string& expected) {
    move_slider(id, position);
    std::string shown = text_of(page(), label);
    CHECK(shown == expected, "slider %d at %d: label %d '%s', expected '%s'", id, position, label,
          shown.c_str(), expected.c_str());
}

void check_threshold(int position) {
    double level = 32767.0 - (100 - position) * 164.0;
    check_slider(206, position, 306,
                 position == 100 ? std::string("off ")
                                 : format("%.1f dB ", 20.0 * std::log10(level / 32767.0)));
}

// With the stage on and audio playing, the readings beside its switches move
// away from "off": a programme loudness the leveller reads (the tone comes
// out of the classic enhancer well above -23 LUFS), its gain down towards
// the target, and a ceiling reduction.
void check_stage_readings() {
    wait_for_blocks(40);
    Sleep(600);  // the page's timer
    const std::string programme = text_of(page(), 195), gain = text_of(page(), 196), ceiling = text_of(page(), 197);
    const double lufs = atof(programme.c_str()), db = atof(gain.c_str());
    CHECK(programme.find(" LUFS") != std::string::npos && lufs < 0.0 && lufs > -30.0 &&
              gain.find(" dB") != std::string::npos && db < 0.0 && ceiling.find(" dB") != std::string::npos,
          "the stage's readings with audio: '%s' '%s' '%s'", programme.c_str(), gain.c_str(), ceiling.c_str());
}

void round_with_audio() {
    dialog = find_dialog();
    CHECK(dialog != nullptr, "the dialog did not open while audio plays");
    if (dialog == nullptr) return;
    check_default_labels("with audio");
    for (int id : {201, 206, 301, 306, 181, 182})
        CHECK(enabled(id), "control %d disabled while audio plays", id);
    for (int id : {207, 153, 161, 307})
        CHECK(!enabled(id), "equalizer control %d enabled with the equalizer off", id);

    // Every tab shows its page.
    select_tab(2);
    CHECK(page() != nullptr && text_of(page(), 181) == "Force use of local ini file (in DLL's folder)",
          "tab 2 does not show the Misc page");
    check_controls(page(), misc_controls, 10, "Misc");
    // The output stage: switches and levels at their defaults, a typed level
    // taken (and shown in its own form), one out of range refused.
    CHECK(!checked(191) && !checked(193) && text_of(page(), 192) == "-16.0" && text_of(page(), 194) == "-1.0",
          "output stage shows %d %d '%s' '%s'", checked(191), checked(193), text_of(page(), 192).c_str(),
          text_of(page(), 194).c_str());
    click(191);
    click(193);
    type_into(192, "-23", 194);
    type_into(194, "-13", 192);
    CHECK(checked(191) && checked(193) && text_of(page(), 192) == "-23.0" && text_of(page(), 194) == "-1.0",
          "output stage after typing: %d %d '%s' '%s'", checked(191), checked(193), text_of(page(), 192).c_str(),
          text_of(page(), 194).c_str());
    check_stage_readings();
    save_dialog_picture("page_misc");
    // Back to the defaults, so that the file saved at the end stays as before.
    click(191);
    click(193);
    type_into(192, "-16", 194);
    CHECK(!checked(191) && !checked(193) && text_of(page(), 192) == "-16.0", "output stage not back at its defaults");
    CHECK(text_of(page(), 195) == "off" && text_of(page(), 196) == "off" && text_of(page(), 197) == "off",
          "readings with the stage off: '%s' '%s' '%s'", text_of(page(), 195).c_str(), text_of(page(), 196).c_str(),
          text_of(page(), 197).c_str());
    select_tab(3);
    HWND document = page() != nullptr ? GetDlgItem(page(), 161) : nullptr;
    CHECK(document != nullptr, "tab 3 has no document control");
    if (document != nullptr) {
        char name[64] = {};
        GetClassNameA(document, name, sizeof name);
        CHECK(_stricmp(name, "RichEdit") == 0, "document class '%s'", name);
        int length = GetWindowTextLengthA(document);
        CHECK(length > 2000, "document text of %d characters", length);
        std::vector<char> text(static_cast<size_t>(length) + 1);
        GetWindowTextA(document, text.data(), length + 1);
        std::string shown(text.data());
        CHECK(shown.find("{\\rtf") == std::string::npos, "the document shows its rich-text source");
        for (const char* part : {"Manual", "Classic Enhancer", "Multiband and Limiter", "Max amp:",
                                 "Amp raise:", "Soft clipping", "16-bit"})
            CHECK(shown.find(part) != std::string::npos, "document lacks '%s'", part);
        check_document_formats(document);
    }
    save_dialog_picture("page_about");
    select_tab(1);
    save_dialog_picture("page_enhancer2");
    select_tab(0);
    CHECK(page() != nullptr && GetDlgItem(page(), 201) != nullptr, "tab 0 does not show Enhancer 1");

    // The meter runs: bars in the level colour and the amplification colour.
    Sleep(600);
    Picture meter = capture(GetDlgItem(page(), 131));
    CHECK(count_colour(meter, 0x14283C) > 0,
          "the meter background is not drawn");
    CHECK(count_colour(meter, 0x50A0F0) > 20, "no level bars in the meter (%d pixels)",
          count_colour(meter, 0x50A0F0));
    CHECK(count_colour(meter, 0xD28C46) > 4, "no amplification bar in the meter (%d pixels)",
          count_colour(meter, 0xD28C46));
    save_picture(meter, "meter_running");
    save_dialog_picture("page_enhancer_meter");

    // Every slider and its label.
    check_slider(201, 0, 301, "normal ");
    check_slider(201, 100, 301, "50 % ");
    check_slider(201, 37, 301, "18 % ");
    check_slider(202, 40, 302, "80 Hz ");
    check_slider(202, 100, 302, "200 Hz ");
    check_slider(202, 0, 302, "off ");
    check_slider(203, 0, 303, expected_ceiling(0));
    check_slider(203, 100, 303, expected_ceiling(100));
    check_slider(204, 120, 304, expected_raise(120));
    check_slider(204, 0, 304, expected_raise(0));
    check_slider(205, 100, 305, expected_reduce(100));
    check_slider(205, 0, 305, expected_reduce(0));
    check_threshold(0);
    check_threshold(100);
    check_threshold(50);
    CHECK(SendDlgItemMessageA(page(), 204, TBM_GETRANGEMAX, 0, 0) == 120, "amp raise range");
    CHECK(SendDlgItemMessageA(page(), 203, TBM_GETRANGEMAX, 0, 0) == 100, "max amp range");
    // Back to the defaults.
    const int defaults[6] = {20, 0, 56, 70, 76, 79};
    for (int i = 0; i < 6; ++i) move_slider(201 + i, defaults[i]);
    check_default_labels("sliders back at their defaults");

    // The classic enhancer's box: off leaves the audio untouched.
    click(181);
    CHECK(!checked(181) && !enabled(201) && !enabled(306), "classic group after unticking");
    wait_for_blocks(3);
    CHECK(!last_block_changed.load(), "audio changed with the enhancer and the equalizer off");
    click(181);
    CHECK(checked(181) && enabled(201), "classic group after ticking");
    wait_for_blocks(3);
    CHECK(last_block_changed.load(), "audio unchanged with the classic enhancer on");

    // The equalizer's box, with the enhancer off so the equalizer acts alone.
    click(181);
    click(182);
    CHECK(checked(182) && enabled(207) && enabled(161) && enabled(153) && enabled(307),
          "equalizer group after ticking");
    move_slider(208, 0);
    CHECK(text_of(page(), 308) == "50", "band 2 label at the top '%s'", text_of(page(), 308).c_str());
    wait_for_blocks(3);
    CHECK(last_block_changed.load(), "audio unchanged with the equalizer boosting band 2");
    move_slider(207, 100);
    CHECK(text_of(page(), 307) == "-50", "band 1 label at the bottom '%s'", text_of(page(), 307).c_str());
    move_slider(209, 30);
    CHECK(text_of(page(), 309) == "20", "band 3 label '%s'", text_of(page(), 309).c_str());
    click(153);
    for (int id = 307; id <= 309; ++id)
        CHECK(text_of(page(), id) == "0", "band label %d after Reset '%s'", id, text_of(page(), id).c_str());
    CHECK(SendDlgItemMessageA(page(), 208, TBM_GETPOS, 0, 0) == 50, "band 2 slider after Reset");
    click(182);
    CHECK(!checked(182) && !enabled(207) && !enabled(161), "equalizer group after unticking");
    click(181);

    // Frequencies out of range are clamped when the field loses the focus.
    click(182);
    type_into(161, "5", 162);
    CHECK(text_of(page(), 161) == "20", "band 1 typed 5 shows '%s'", text_of(page(), 161).c_str());
    type_into(163, "30000", 161);
    CHECK(text_of(page(), 163) == "20000", "band 3 typed 30000 shows '%s'", text_of(page(), 163).c_str());
    type_into(162, "70000", 163);
    CHECK(text_of(page(), 162) == "4464", "band 2 typed 70000 shows '%s'", text_of(page(), 162).c_str());
    type_into(162, "abc", 161);
    CHECK(text_of(page(), 162) == "200", "band 2 typed abc shows '%s'", text_of(page(), 162).c_str());
    type_into(161, "900", 162);
    CHECK(text_of(page(), 161) == "800", "band 1 typed 900 shows '%s'", text_of(page(), 161).c_str());
    type_into(161, "100", 162);
    type_into(162, "1000", 163);
    type_into(163, "10000", 161);
    click(182);
    check_default_labels("frequencies typed back");

    // Presets: the list, "[ Equalizer ]" and "[ Restore previous ]".
    CHECK(preset_count() == 10, "preset list of %d items", preset_count());
    CHECK(preset_item(0) == "   [ Restore previous ]", "item 0 '%s'", preset_item(0).c_str());
    CHECK(preset_item(1) == "   [ Night ]", "item 1 '%s'", preset_item(1).c_str());
    CHECK(preset_item(9) == "   [ Equalizer ]", "item 9 '%s'", preset_item(9).c_str());
    CHECK(!enabled(151) && !enabled(152), "Add and Del enabled at first");
    choose_preset(9);
    CHECK(!checked(181) && checked(182), "after [ Equalizer ]: boxes %d %d", checked(181), checked(182));
    CHECK(text_of(page(), 308) == "-30", "after [ Equalizer ]: band 2 label '%s'", text_of(page(), 308).c_str());
    CHECK(!enabled(201) && enabled(208), "after [ Equalizer ]: enabled groups");
    CHECK(!enabled(152), "Del enabled on a built-in preset");
    choose_preset(4);
    CHECK(checked(181) && checked(182) && text_of(page(), 163) == "8000" && text_of(page(), 309) == "10",
          "after [ AC Radio ]: boxes %d %d, band 3 '%s' label '%s'", checked(181), checked(182),
          text_of(page(), 163).c_str(), text_of(page(), 309).c_str());
    CHECK(text_of(page(), 301) == "20 % " && text_of(page(), 302) == "70 Hz ",
          "after [ AC Radio ]: labels '%s' '%s'", text_of(page(), 301).c_str(), text_of(page(), 302).c_str());
    choose_preset(0);
    CHECK(checked(181) && !checked(182), "after [ Restore previous ]: boxes %d %d", checked(181),
          checked(182));
    check_default_labels("after [ Restore previous ]");

    // A user preset: a name that matches an item in another letter case keeps
    // "Add" disabled; a new name enables it.
    move_slider(201, 60);
    type_preset_name("   [ NIGHT ]");
    CHECK(!enabled(151), "Add enabled for an existing name in another case");
    type_preset_name("Wine test preset");
    CHECK(enabled(151), "Add disabled for a new name");
    click(151);
    CHECK(preset_count() == 11 && preset_item(10) == "Wine test preset", "list after Add: %d items, '%s'",
          preset_count(), preset_item(10).c_str());
    CHECK(SendDlgItemMessageA(page(), 133, CB_GETCURSEL, 0, 0) == 10, "the new preset is not selected");
    CHECK(!enabled(151), "Add still enabled after adding");
    move_slider(201, 20);

    // Close with the close box, on the Misc tab.
    select_tab(2);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    wait_dialog_gone();
    CHECK(!IsWindow(dialog), "the close box did not close the dialog");
    std::string ini = read_text(ini_path());
    CHECK(has_line(ini, "enh_eq_set=060,000,056,070,076,079,1,00100,01000,10000,050,050,050,Wine test preset"),
          "settings file lacks the user preset:\n%s", ini.c_str());
    CHECK(has_line(ini, "tab_sel=2") && has_line(ini, "stereo_width=20") && has_line(ini, "enhance=1") &&
              has_line(ini, "eq_enable=0") && has_line(ini, "eq_f=00100,01000,10000"),
          "settings file after the second close:\n%s", ini.c_str());
}

void round_reopened() {
    dialog = find_dialog();
    CHECK(dialog != nullptr, "the dialog did not open a third time");
    if (dialog == nullptr) return;
    // It opens on the tab it was closed on.
    CHECK(page() != nullptr && GetDlgItem(page(), 181) != nullptr && GetDlgItem(page(), 201) == nullptr,
          "the dialog did not reopen on the Misc tab");
    CHECK(SendDlgItemMessageA(dialog, 130, TCM_GETCURSEL, 0, 0) == 2, "selected tab");

    CHECK(!checked(181) && !file_exists(tag_path()), "tag file present at first");
    click(181);
    CHECK(checked(181), "the local-ini box did not stay ticked");
    CHECK(file_exists(tag_path()), "ticking did not create the tag file");
    save_dialog_picture("page_misc_ticked");
    click(181);
    CHECK(!checked(181), "the local-ini box did not untick");
    CHECK(!file_exists(tag_path()), "unticking did not delete the tag file");
    // A tag file that cannot be created leaves the box clear (here a folder
    // takes its name; running as root, permissions cannot stop the creation).
    CreateDirectoryA(tag_path().c_str(), nullptr);
    click(181);
    CHECK(!checked(181), "the box is ticked although no tag file could be made");
    RemoveDirectoryA(tag_path().c_str());
    // A tag file that cannot be deleted (read-only) leaves the box ticked.
    click(181);
    CHECK(checked(181) && file_exists(tag_path()), "ticking again did not create the tag file");
    SetFileAttributesA(tag_path().c_str(), FILE_ATTRIBUTE_READONLY);
    click(181);
    CHECK(checked(181), "the box is clear although the tag file could not be deleted");
    CHECK(file_exists(tag_path()), "the read-only tag file was deleted");
    SetFileAttributesA(tag_path().c_str(), FILE_ATTRIBUTE_NORMAL);
    click(181);
    CHECK(!checked(181) && !file_exists(tag_path()), "the tag file stayed after unticking");

    select_tab(0);
    CHECK(preset_count() == 11 && preset_item(10) == "Wine test preset",
          "the user preset is not listed after reopening (%d items)", preset_count());
    choose_preset(10);
    CHECK(enabled(152), "Del disabled on a user preset");
    CHECK(text_of(page(), 301) == "30 % ", "applying the user preset: label '%s'", text_of(page(), 301).c_str());
    click(152);
    CHECK(preset_count() == 10, "Del left %d items", preset_count());
    CHECK(SendDlgItemMessageA(page(), 133, CB_GETCURSEL, 0, 0) == 0, "Del did not select item 0");
    click(152);
    CHECK(preset_count() == 10, "Del on item 0 changed the list");
    choose_preset(0);

    // Scroll the About page, leave and come back: the position is kept.
    select_tab(3);
    HWND document = GetDlgItem(page(), 161);
    SendMessageA(document, WM_VSCROLL, SB_PAGEDOWN, 0);
    POINT before{};
    SendMessageA(document, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&before));
    select_tab(2);
    select_tab(3);
    POINT after{};
    SendMessageA(GetDlgItem(page(), 161), EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&after));
    CHECK(before.y > 0 && after.y == before.y, "About scroll position %ld, then %ld", before.y, after.y);
    save_dialog_picture("page_about_scrolled");

    // "Close".
    SendMessageA(GetDlgItem(dialog, 141), BM_CLICK, 0, 0);
    wait_dialog_gone();
    CHECK(!IsWindow(dialog), "Close did not close the dialog");
    std::string ini = read_text(ini_path());
    CHECK(ini.find("enh_eq_set=") == std::string::npos, "the deleted preset is still saved:\n%s", ini.c_str());
    CHECK(has_line(ini, "tab_sel=3"), "tab_sel after the third close:\n%s", ini.c_str());
}

int round_number = 0;

DWORD WINAPI driver_thread(void*) {
    round_before_audio();
    round_number = 1;
    // Wait until the main thread has initialised and audio is flowing.
    for (int i = 0; i < 400 && !audio_running.load(); ++i) Sleep(25);
    wait_for_blocks(5);
    round_with_audio();
    round_number = 2;
    round_reopened();
    return 0;
}

DWORD WINAPI watchdog_thread(void*) {
    Sleep(180000);
    fprintf(stderr, "FAILED: the test did not finish in time (round %d)\n", round_number);
    ExitProcess(3);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: ui_test_enhancer PLUGIN.dll PICTURE_FOLDER\n");
        return 2;
    }
    setvbuf(stderr, nullptr, _IONBF, 0);
    char full[MAX_PATH];
    GetFullPathNameA(argv[1], MAX_PATH, full, nullptr);
    library_folder = full;
    library_folder.resize(library_folder.find_last_of('\\') + 1);
    picture_folder = argv[2];
    DeleteFileA(ini_path().c_str());
    SetFileAttributesA(tag_path().c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(tag_path().c_str());
    // A tab index out of range from an older file opens the first tab.
    FILE* ini = fopen(ini_path().c_str(), "w");
    if (ini != nullptr) {
        fputs("[zobrin dsp]\ntab_sel=7\n", ini);
        fclose(ini);
    }

    HMODULE library = LoadLibraryA(full);
    if (library == nullptr) {
        fprintf(stderr, "cannot load %s\n", full);
        return 2;
    }
    auto get_header = reinterpret_cast<DspGetHeaderFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "winampDSPGetHeader2")));
    DspHeader* header = get_header != nullptr ? get_header() : nullptr;
    module = header != nullptr ? header->getModule(0) : nullptr;
    if (module == nullptr) {
        fprintf(stderr, "no module 0\n");
        return 2;
    }
    module->hDllInstance = library;
    module->hwndParent = nullptr;

    CreateThread(nullptr, 0, watchdog_thread, nullptr, 0, nullptr);
    HANDLE driver = CreateThread(nullptr, 0, driver_thread, nullptr, 0, nullptr);

    // First opening before Init and before any audio.
    module->Config(module);
    CHECK(module->Init(module) == 0, "Init");
    HANDLE audio = CreateThread(nullptr, 0, audio_thread, nullptr, 0, nullptr);
    audio_running.store(true);
    module->Config(module);
    module->Config(module);

    WaitForSingleObject(driver, 30000);
    audio_stop.store(true);
    WaitForSingleObject(audio, 5000);
    module->Quit(module);
    printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
