// Drives the "Enhancer 2" page and the "Limiter settings" dialog of the real
// plug-in library under Windows (Wine): the library is loaded from a folder of
// the test's own, audio flows through ModifySamples on one thread, the host's
// Config runs on the main thread and a third thread works the controls.
//
//   ui_test_multiband.exe LIBRARY WORK_FOLDER
//
// Screenshots of the page and the limiter dialog go to WORK_FOLDER as BMP.
#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "plugin/dsp_interface.h"

namespace {

std::string work_folder;
DspModule* module = nullptr;
volatile LONG audio_running = 1;
volatile LONG blocks_processed = 0;
int failures = 0;
int checks = 0;

void check(bool ok, const char* what, const std::string& detail = "") {
    ++checks;
    if (!ok) {
        ++failures;
        printf("FAIL: %s %s\n", what, detail.c_str());
        fflush(stdout);
    }
}

std::string text_of(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string item_text(HWND parent, int id) { return text_of(GetDlgItem(parent, id)); }

void check_text(HWND parent, int id, const std::string& expected, const char* what) {
    const std::string actual = item_text(parent, id);
    check(actual == expected, what, "expected \"" + expected + "\" got \"" + actual + "\"");
}

HWND wait_for_window(const char* caption, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
        HWND found = FindWindowA(nullptr, caption);
        if (found != nullptr && IsWindowVisible(found)) return found;
        Sleep(20);
    }
    return nullptr;
}

bool wait_until_gone(HWND window, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 10) {
        if (!IsWindow(window)) return true;
        Sleep(10);
    }
    return false;
}

// ---- Screenshots ------------------------------------------------------------

void save_screenshot(HWND window, const char* name) {
    // The client area: without a window manager there is no drawn caption.
    RECT r;
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        const DWORD stride = ((width * 3 + 3) / 4) * 4;
        const DWORD imageSize = stride * height;
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        const std::string path = work_folder + "\\" + name;
        FILE* out = fopen(path.c_str(), "wb");
        if (out != nullptr) {
            fwrite(&file, sizeof file, 1, out);
            fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
            fwrite(bits, 1, imageSize, out);
            fclose(out);
            printf("screenshot %s\n", path.c_str());
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// ---- Audio ------------------------------------------------------------------

DWORD WINAPI audio_thread(void*) {
    constexpr int frames = 576;
    static int16_t block[frames * 2];
    double phase1 = 0, phase2 = 0;
    uint32_t noise = 12345;
    while (InterlockedCompareExchange(&audio_running, 1, 1) == 1) {
        for (int i = 0; i < frames; ++i) {
            noise = noise * 1664525u + 1013904223u;
            const double n = static_cast<int32_t>(noise) / 2147483648.0;
            block[2 * i] = static_cast<int16_t>(9000 * sin(phase1) + 6000 * sin(phase2) + 1500 * n);
            block[2 * i + 1] = static_cast<int16_t>(7000 * sin(phase1 * 1.5) + 2000 * n);
            phase1 += 2 * 3.141592653589793 * 110 / 44100;
            phase2 += 2 * 3.141592653589793 * 2500 / 44100;
        }
        module->ModifySamples(module, block, frames, 16, 2, 44100);
        InterlockedIncrement(&blocks_processed);
        Sleep(5);
    }
    return 0;
}

// ---- Dialog helpers ---------------------------------------------------------

HWND config_dialog = nullptr;

HWND find_page(int probeId) {
    for (int waited = 0; waited < 3000; waited += 20) {
        HWND child = nullptr;
        while ((child = FindWindowExA(config_dialog, child, "#32770", nullptr)) != nullptr)
            if (GetDlgItem(child, probeId) != nullptr) return child;
        Sleep(20);
    }
    return nullptr;
}

HWND select_tab(int index) {
    HWND tabs = GetDlgItem(config_dialog, 130);
    SendMessageA(tabs, TCM_SETCURSEL, index, 0);
    NMHDR notify{tabs, 130, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(config_dialog, WM_NOTIFY, 130, reinterpret_cast<LPARAM>(&notify));
    return index == 1 ? find_page(181) : nullptr;
}

void move_trackbar(HWND dialog, int id, int position) {
    HWND trackbar = GetDlgItem(dialog, id);
    SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                 reinterpret_cast<LPARAM>(trackbar));
}

int trackbar_position(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0));
}

void enter_crossover(HWND page, int id, const char* text) {
    HWND edit = GetDlgItem(page, id);
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS), reinterpret_cast<LPARAM>(edit));
}

void choose_preset(HWND page, int position) {
    HWND combo = GetDlgItem(page, 133);
    SendMessageA(combo, CB_SETCURSEL, position, 0);
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(133, CBN_SELENDOK), reinterpret_cast<LPARAM>(combo));
}

std::string combo_entry(HWND page, int position) {
    char text[256] = {};
    if (SendDlgItemMessageA(page, 133, CB_GETLBTEXT, position, reinterpret_cast<LPARAM>(text)) ==
        CB_ERR)
        return "<none>";
    return text;
}

int combo_count(HWND page) {
    return static_cast<int>(SendDlgItemMessageA(page, 133, CB_GETCOUNT, 0, 0));
}

bool checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }

int digits(const char* s, int position, int length) {
    int v = 0;
    for (int i = 0; i < length; ++i) v = v * 10 + (s[position + i] - '0');
    return v;
}

struct Preset {
    const char* multi1;
    const char* multi2;
    const char* limiter;
};
const Preset builtins[9] = {
    {"m---f00300f04000f00000------------l020s020",
     "----m044u051d088t046m045u051d085t051m045u047d085t020m022u058d085t009----------------",
     "l-s---th240re040ce300kn055ra201at025ho000"},
    {"m---f00300f04000f00000------------l020s020",
     "----m045u037d088t046m045u037d085t051m045u037d085t017m022u058d085t009----------------",
     "l-----th270re080ce300kn030ra201at025ho000"},
    {"m---f00250f02000f05000------------l020s020",
     "----m056u055d090t049m056u055d085t051m045u051d085t026m033u049d085t020----------------",
     "l-s---th255re040ce300kn040ra201at025ho000"},
    {"ma--f00250f02200f05000------------l014s025",
     "----m045u063d090t046m045u059d085t053m045u050d085t042m044u045d085t030----------------",
     "l-h---th260re046ce300kn040ra201at025ho000"},
    {"ma--f00250f01600f05000------------l014s025",
     "----m017u071d087t056m017u084d081t050m017u076d077t038m017u065d074t031----------------",
     "l-h---th280re050ce300kn020ra201at016ho000"},
    {"m---f00120f00500f04500------------l016s020",
     "----m056u060d088t051m056u054d088t053m055u046d088t043m044u041d088t016----------------",
     "l-s---th255re046ce300kn050ra201at020ho000"},
    {"m---f00400f00000f00000------------l020s020",
     "----m045u058d088t061m055u058d088t047m067u058d090t039m067u057d088t020----------------",
     "l-----th260re060ce300kn050ra201at030ho000"},
    {"m---f03000f05000f00000------------l020s020",
     "----m033u033d090t020m044u033d090t051m055u033d090t072m078u054d090t073----------------",
     "------th255re024ce300kn035ra201at030ho000"},
    {"m---f00250f04500f00000------------l020s020",
     "----m045u053d090t061m045u053d090t017m045u053d090t030m045u051d090t026----------------",
     "--s---th255re024ce300kn035ra201at030ho000"},
};

// What the page's controls show, to compare with a preset or a snapshot.
struct PageView {
    unsigned crossovers[3];
    int bands[16];
    int drive, stereo;
    bool multiband, agc, softClip1, softClip2, limiter;
};

PageView read_page(HWND page) {
    PageView view{};
    for (int k = 0; k < 3; ++k) view.crossovers[k] = GetDlgItemInt(page, 161 + k, nullptr, FALSE);
    for (int i = 0; i < 16; ++i) view.bands[i] = trackbar_position(page, 201 + i);
    view.drive = trackbar_position(page, 221);
    view.stereo = trackbar_position(page, 222);
    view.multiband = checked(page, 188);
    view.agc = checked(page, 190);
    view.softClip1 = checked(page, 189);
    view.softClip2 = checked(page, 187);
    view.limiter = checked(page, 191);
    return view;
}

PageView expected_view(const Preset& p) {
    PageView view{};
    for (int k = 0; k < 3; ++k) view.crossovers[k] = digits(p.multi1, 5 + 6 * k, 5);
    for (int b = 0; b < 4; ++b)
        for (int c = 0; c < 4; ++c) view.bands[4 * b + c] = digits(p.multi2, 5 + 16 * b + 4 * c, 3);
    view.drive = digits(p.multi1, 35, 3);
    view.stereo = digits(p.multi1, 39, 3);
    view.multiband = p.multi1[0] == 'm';
    view.agc = p.multi1[1] == 'a';
    view.softClip1 = p.limiter[2] == 's';
    view.softClip2 = p.limiter[2] == 'h';
    view.limiter = p.limiter[0] == 'l';
    return view;
}

bool same_view(const PageView& a, const PageView& b) {
    return memcmp(a.crossovers, b.crossovers, sizeof a.crossovers) == 0 &&
           memcmp(a.bands, b.bands, sizeof a.bands) == 0 && a.drive == b.drive &&
           a.stereo == b.stereo && a.multiband == b.multiband && a.agc == b.agc &&
           a.softClip1 == b.softClip1 && a.softClip2 == b.softClip2 && a.limiter == b.limiter;
}

// ---- Templates ----------------------------------------------------------------

// A control of a template: class, type (the low style bits, compared exactly),
// further style bits that must be set, position and size in dialog units.
struct TemplateControl {
    int id;
    const char* windowClass;
    DWORD type;
    DWORD style;
    int x, y, width, height;  // height 0: not compared (a combo box sizes itself)
    const char* text;         // null: not compared
};

constexpr DWORD trackbarStyle = TBS_HORZ | TBS_NOTICKS | TBS_BOTH;

void check_control(HWND window, const TemplateControl& c, const char* what) {
    HWND control = GetDlgItem(window, c.id);
    const std::string where = std::string(what) + " control " + std::to_string(c.id);
    check(control != nullptr, "template control present", where);
    if (control == nullptr) return;
    char name[64] = {};
    GetClassNameA(control, name, sizeof name);
    check(_stricmp(name, c.windowClass) == 0, "template control class", where + " is " + name);
    const DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
    const std::string styleText = where + " style " + std::to_string(style);
    check((style & WS_VISIBLE) != 0 && (style & c.style) == c.style, "template control style",
          styleText);
    if (_stricmp(c.windowClass, "Button") == 0)
        check((style & BS_TYPEMASK) == c.type, "button type", styleText);
    if (_stricmp(c.windowClass, "Static") == 0)
        check((style & SS_TYPEMASK) == c.type, "static alignment", styleText);
    RECT expected{c.x, c.y, c.width, c.height};
    MapDialogRect(window, &expected);
    RECT actual{};
    GetWindowRect(control, &actual);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
    const long width = actual.right - actual.left;
    const long height = actual.bottom - actual.top;
    check(actual.left == expected.left && actual.top == expected.top && width == expected.right &&
              (c.height == 0 || height == expected.bottom),
          "template control position and size",
          where + " at " + std::to_string(actual.left) + "," + std::to_string(actual.top) + " " +
              std::to_string(width) + "x" + std::to_string(height));
    if (c.text != nullptr) {
        const std::string text = text_of(control);
        check(text == c.text, "template control text", where + " reads \"" + text + "\"");
    }
}

void check_client_size(HWND window, int width, int height, const char* what) {
    RECT expected{0, 0, width, height};
    MapDialogRect(window, &expected);
    RECT client{};
    GetClientRect(window, &client);
    check(client.right == expected.right && client.bottom == expected.bottom, "template size",
          std::string(what) + " " + std::to_string(client.right) + "x" +
              std::to_string(client.bottom));
}

void check_page_template(HWND page) {
    check_client_size(page, 364, 220, "page");
    const DWORD pageStyle = static_cast<DWORD>(GetWindowLongA(page, GWL_STYLE));
    check((pageStyle & (WS_CHILD | WS_VISIBLE | DS_CONTROL)) == (WS_CHILD | WS_VISIBLE | DS_CONTROL),
          "page style");
    const TemplateControl fixed[] = {
        {144, "Static", SS_LEFT, 0, 6, 6, 282, 12, "4 band dynamics and limiter"},
        {181, "Button", BS_AUTOCHECKBOX, 0, 16, 26, 70, 10, "Enable"},
        {190, "Button", BS_AUTOCHECKBOX, 0, 175, 26, 91, 10, "AGC"},
        {188, "Button", BS_AUTOCHECKBOX, 0, 270, 26, 80, 10, "Multiband"},
        {161, "Edit", 0, ES_NUMBER | ES_AUTOHSCROLL, 16, 82, 30, 11, nullptr},
        {162, "Edit", 0, ES_NUMBER | ES_AUTOHSCROLL, 16, 106, 30, 11, nullptr},
        {163, "Edit", 0, ES_NUMBER | ES_AUTOHSCROLL, 16, 130, 30, 11, nullptr},
        {132, "Static", SS_LEFT, 0, 314, 48, 40, 130, ""},
        {221, "msctls_trackbar32", 0, trackbarStyle, 56, 172, 50, 12, nullptr},
        {222, "msctls_trackbar32", 0, trackbarStyle, 56, 188, 50, 12, nullptr},
        {321, "Static", SS_RIGHT, 0, 106, 172, 30, 10, nullptr},
        {322, "Static", SS_RIGHT, 0, 106, 188, 30, 10, nullptr},
        {189, "Button", BS_AUTOCHECKBOX, 0, 160, 172, 56, 10, "Soft clip 1"},
        {187, "Button", BS_AUTOCHECKBOX, 0, 220, 172, 56, 10, "Soft clip 2"},
        {191, "Button", BS_AUTOCHECKBOX, 0, 160, 186, 80, 10, "Limiter"},
        {151, "Button", BS_PUSHBUTTON, 0, 160, 200, 80, 14, "Limiter config"},
        {133, "ComboBox", 0, CBS_DROPDOWN, 270, 184, 90, 0, nullptr},
        {152, "Button", BS_PUSHBUTTON, 0, 270, 200, 30, 14, "Add"},
        {153, "Button", BS_PUSHBUTTON, 0, 304, 200, 30, 14, "Del"},
    };
    for (const TemplateControl& c : fixed) check_control(page, c, "page");
    for (int b = 0; b < 4; ++b) {
        for (int c = 0; c < 4; ++c) {
            check_control(page, {201 + 4 * b + c, "msctls_trackbar32", 0, trackbarStyle,
                                 56 + 52 * c, 72 + 24 * b, 50, 12, nullptr},
                          "page");
            check_control(page, {301 + 4 * b + c, "Static", SS_RIGHT, 0, 72 + 52 * c,
                                 62 + 24 * b, 30, 10, nullptr},
                          "page");
        }
        check_control(page, {183 + b, "Button", BS_AUTOCHECKBOX, 0, 270, 72 + 24 * b, 40, 10, "Solo"},
                      "page");
    }
    const DWORD comboStyle = static_cast<DWORD>(GetWindowLongA(GetDlgItem(page, 133), GWL_STYLE));
    check((comboStyle & 3) == CBS_DROPDOWN, "preset combo box is a drop-down with an edit field");
}

void check_limiter_template(HWND limiter) {
    check_client_size(limiter, 344, 128, "limiter dialog");
    const DWORD style = static_cast<DWORD>(GetWindowLongA(limiter, GWL_STYLE));
    const DWORD wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    check((style & wanted) == wanted, "limiter dialog style");
    const int rows[6] = {10, 24, 38, 60, 74, 88};
    for (int i = 0; i < 6; ++i) {
        check_control(limiter, {201 + i, "msctls_trackbar32", 0, trackbarStyle, 78, rows[i], 80, 12,
                                nullptr},
                      "limiter");
        check_control(limiter, {301 + i, "Static", SS_LEFT, 0, 166, rows[i], 40, 12, nullptr},
                      "limiter");
    }
    check_control(limiter, {141, "Button", BS_DEFPUSHBUTTON, 0, 82, 108, 48, 14, "Close"},
                  "limiter");
    check_control(limiter, {131, "Static", SS_LEFT, 0, 208, 6, 130, 116, ""}, "limiter");
}

// ---- The scenario -------------------------------------------------------------

void check_default_labels(HWND page) {
    check_text(page, 301, "7.0 x ", "band 1 max amp label");
    check_text(page, 302, "730 ms ", "band 1 release label");
    check_text(page, 303, "4.0 ms ", "band 1 attack label");
    check_text(page, 304, "-4.5 dB ", "band 1 threshold label");
    check(trackbar_position(page, 201) == 67, "band 1 max amp trackbar");
    check(item_text(page, 190) == "AGC", "AGC caption before the AGC is on");

    const int drive[] = {0, 20, 21, 40};
    const char* driveText[] = {"-6.0 dB", "0.0 dB", "+0.2 dB", "+3.5 dB"};
    const int stereo[] = {0, 20, 25, 40};
    const char* stereoText[] = {"-40 %", "0 %", "+10 %", "+40 %"};
    for (int i = 0; i < 4; ++i) {
        move_trackbar(page, 221, drive[i]);
        check_text(page, 321, driveText[i], "drive label");
        move_trackbar(page, 222, stereo[i]);
        check_text(page, 322, stereoText[i], "stereo label");
    }
    move_trackbar(page, 221, 20);
    move_trackbar(page, 222, 25);
}

// ---- The band graph's pixels ------------------------------------------------

struct GraphPicture {
    int width = 0;
    int height = 0;
    std::string pixels;  // 0xRRGGBB per pixel as four bytes, row by row from the top
    COLORREF at(int x, int y) const {
        uint32_t v;
        memcpy(&v, pixels.data() + 4 * (static_cast<size_t>(y) * width + x), 4);
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
};

GraphPicture capture_control(HWND control) {
    GraphPicture picture;
    RECT r;
    GetClientRect(control, &r);
    picture.width = r.right;
    picture.height = r.bottom;
    if (picture.width <= 0 || picture.height <= 0) return picture;
    HDC dc = GetDC(control);
    HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, picture.width, picture.height, dc, 0, 0, SRCCOPY);
        GdiFlush();
        picture.pixels.assign(static_cast<const char*>(bits),
                              4 * static_cast<size_t>(picture.width) * picture.height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(control, dc);
    return picture;
}

// One band graph frame over the response curve: the curve's points never sit
// in row 0 nor in columns 0 and 1, the unity axis is grey, and only the rows
// of the first `bands` bands carry a bar.
void check_band_graph(HWND page, int bands) {
    // A repaint of the page shows the control's plain background until the
    // next 200 ms frame; wait for a frame (its grey axis) if need be.
    GraphPicture p;
    for (int attempt = 0; attempt < 10; ++attempt) {
        p = capture_control(GetDlgItem(page, 132));
        if (!p.pixels.empty() && p.at(p.width / 4, 14 * p.height / 100 + 5) == RGB(128, 128, 128))
            break;
        Sleep(100);
    }
    check(p.width > 4 && p.height > 20 && !p.pixels.empty(), "band graph captured");
    if (p.pixels.empty()) return;
    const COLORREF curve = RGB(0, 128, 224);
    const COLORREF blue = RGB(0, 64, 160);
    const COLORREF orange = RGB(160, 64, 0);
    int curvePoints = 0;
    int curveInRowZero = 0;
    int curveAtLeft = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.at(x, y) == curve) {
                ++curvePoints;
                curveInRowZero += y == 0;
                curveAtLeft += x < 2;
            }
    check(curvePoints > p.height / 2, "response curve drawn", std::to_string(curvePoints));
    check(curveInRowZero == 0, "row 0 of the response curve stays empty");
    check(curveAtLeft == 0, "curve points of column 0 or 1 are not drawn");

    const int a = 74 * p.height / 100;
    const int b = 14 * p.height / 100;
    const int x0 = p.width / 4;
    check(p.at(x0, b + 5) == RGB(128, 128, 128), "unity axis is grey");
    check(p.at(x0, b + a - 6) == RGB(128, 128, 128), "unity axis reaches its lower end");
    for (int band = bands; band < 4; ++band) {
        int barPixels = 0;
        for (int y = b + band * (a / 4) + a / 12; y < b + band * (a / 4) + a / 7; ++y)
            for (int x = 0; x < p.width; ++x) barPixels += p.at(x, y) == blue || p.at(x, y) == orange;
        check(barPixels == 0, "no bar for an inactive band", std::to_string(band + 1));
    }
}

void check_crossovers(HWND page) {
    enter_crossover(page, 161, "0");
    for (int row = 1; row < 4; ++row) {
        for (int c = 0; c < 4; ++c) {
            check(!IsWindowEnabled(GetDlgItem(page, 201 + 4 * row + c)), "trackbar disabled");
            check(!IsWindowEnabled(GetDlgItem(page, 301 + 4 * row + c)), "label disabled");
        }
        check(!IsWindowEnabled(GetDlgItem(page, 183 + row)), "solo disabled");
    }
    check(IsWindowEnabled(GetDlgItem(page, 201)) && IsWindowEnabled(GetDlgItem(page, 183)),
          "band 1 stays enabled");
    check(IsWindowEnabled(GetDlgItem(page, 162)), "crossover fields stay enabled");
    Sleep(800);  // the response curve of a single band
    save_screenshot(config_dialog, "multiband_one_band.bmp");
    check_band_graph(page, 1);

    enter_crossover(page, 161, "300");
    check(IsWindowEnabled(GetDlgItem(page, 212)) && IsWindowEnabled(GetDlgItem(page, 185)),
          "band 3 enabled again");
    check(!IsWindowEnabled(GetDlgItem(page, 216)), "band 4 stays off while crossover 3 is 0");
}

HWND check_long_crossover(HWND page) {
    enter_crossover(page, 163, "123456");
    // The edit keeps what was typed; the string holds five characters, which
    // the page shows when it is created again.
    select_tab(0);
    page = select_tab(1);
    check(page != nullptr, "page created again");
    if (page == nullptr) return nullptr;
    check(GetDlgItemInt(page, 163, nullptr, FALSE) == 12345, "crossover 123456 stored as 12345",
          item_text(page, 163));
    check(IsWindowEnabled(GetDlgItem(page, 216)), "band 4 enabled with three crossovers");
    return page;
}

void check_solo(HWND page) {
    SendDlgItemMessageA(page, 185, BM_CLICK, 0, 0);
    check(checked(page, 185), "solo band 3 checked");
    SendDlgItemMessageA(page, 184, BM_CLICK, 0, 0);
    check(checked(page, 184) && !checked(page, 185) && !checked(page, 183) && !checked(page, 186),
          "solo band 2 alone");
    SendDlgItemMessageA(page, 184, BM_CLICK, 0, 0);
    check(!checked(page, 184), "solo off");
}

void check_presets(HWND page, const PageView& atCreation) {
    check(combo_entry(page, 0) == "Presets:", "list heading");
    check(combo_entry(page, 1) == "   Restore previous", "restore entry");
    check(combo_entry(page, 2) == "   3 band enhance", "first built-in", combo_entry(page, 2));
    check(combo_entry(page, 10) == "   Bass + Treble", "last built-in", combo_entry(page, 10));
    for (int p = 2; p <= 10; ++p) {
        choose_preset(page, p);
        check(same_view(read_page(page), expected_view(builtins[p - 2])), "built-in preset",
              combo_entry(page, p));
        check(!IsWindowEnabled(GetDlgItem(page, 153)), "Del stays off for built-ins");
    }
    choose_preset(page, 1);
    check(same_view(read_page(page), atCreation), "Restore previous");
}

void check_user_presets(HWND page) {
    HWND combo = GetDlgItem(page, 133);
    auto type = [&](const char* text) {
        SendMessageA(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(133, CBN_EDITCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    };
    type("   3 BAND SOFT");
    check(!IsWindowEnabled(GetDlgItem(page, 152)), "Add off for an existing name");
    type("My sound");
    check(IsWindowEnabled(GetDlgItem(page, 152)), "Add on for a new name");
    SendDlgItemMessageA(page, 152, BM_CLICK, 0, 0);
    check(combo_count(page) == 13, "list grew by heading and preset");
    check(combo_entry(page, 11) == "User settings:", "user heading appears");
    check(combo_entry(page, 12) == "   My sound", "user entry", combo_entry(page, 12));
    check(!IsWindowEnabled(GetDlgItem(page, 152)), "Add off after adding");
    check(!IsWindowEnabled(GetDlgItem(page, 153)), "Del off until chosen");

    choose_preset(page, 12);
    check(IsWindowEnabled(GetDlgItem(page, 153)), "Del on for a user preset");
    SendDlgItemMessageA(page, 153, BM_CLICK, 0, 0);
    check(combo_count(page) == 11, "heading and preset gone", std::to_string(combo_count(page)));
    check(combo_entry(page, 11) == "<none>", "no user heading");
    check(!IsWindowEnabled(GetDlgItem(page, 153)), "Del off after deleting");
}

void check_agc(HWND page) {
    if (!checked(page, 190)) SendDlgItemMessageA(page, 190, BM_CLICK, 0, 0);
    check(checked(page, 190), "AGC on");
    std::string caption;
    for (int waited = 0; waited < 3000; waited += 50) {
        caption = item_text(page, 190);
        if (caption != "AGC") break;
        Sleep(50);
    }
    double left = -1, right = -1;
    const bool parsed = sscanf(caption.c_str(), "AGC %lf / %lf dB", &left, &right) == 2;
    check(parsed && left >= 0.0 && left <= 12.05 && right >= 0.0 && right <= 12.05,
          "AGC read-out in the caption", caption);
}

const char* const limiterDefaults[6] = {"-6.0 dB", "40 ms", "0.0 dB", "5.5 dB", "inf : 1",
                                        "2.5 ms"};

int count_colour(const GraphPicture& p, COLORREF colour, int x0 = 0, int y0 = 0, int x1 = -1,
                 int y1 = -1) {
    if (x1 < 0) x1 = p.width;
    if (y1 < 0) y1 = p.height;
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += p.at(x, y) == colour;
    return n;
}

// Switches the page's limiter while the dialog is open, as a click would.
void set_page_limiter(HWND page, bool on) {
    SendDlgItemMessageA(page, 191, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(191, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, 191)));
}

// The live graph: input trace, envelope only while the limiter is on, and the
// transfer curve rising from the bottom left corner.
void check_limiter_graph(HWND page, HWND limiter) {
    const COLORREF input = RGB(192, 128, 64);
    const COLORREF envelope = RGB(208, 64, 176);
    const COLORREF transfer = RGB(48, 48, 48);
    GraphPicture g = capture_control(GetDlgItem(limiter, 131));
    check(g.width > 8 && g.height > 8 && !g.pixels.empty(), "limiter graph captured");
    if (g.pixels.empty()) return;
    check(count_colour(g, GetSysColor(COLOR_BTNFACE)) > g.width * g.height / 4,
          "graph background in the button face colour");
    check(count_colour(g, input) > 0, "input trace drawn");
    check(count_colour(g, envelope) > 0, "envelope drawn while the limiter is on");
    check(count_colour(g, transfer, 0, 3 * g.height / 4, g.width / 8, g.height) > 0,
          "transfer curve starts at the bottom left");
    check(count_colour(g, transfer, 0, 0, g.width / 8, g.height / 4) == 0,
          "transfer curve is low for small inputs");

    // The captured envelope keeps its last values once the engine stops
    // writing it; the graph must still leave it out.
    set_page_limiter(page, false);
    Sleep(1300);
    g = capture_control(GetDlgItem(limiter, 131));
    check(count_colour(g, envelope) == 0, "no envelope while the limiter is off");
    check(count_colour(g, input) > 0, "input trace still drawn with the limiter off");
    set_page_limiter(page, true);
    Sleep(1300);
    g = capture_control(GetDlgItem(limiter, 131));
    check(count_colour(g, envelope) > 0, "envelope back with the limiter on");
}

HWND open_limiter(HWND page) {
    PostMessageA(page, WM_COMMAND, MAKEWPARAM(151, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, 151)));
    return wait_for_window("Limiter settings", 5000);
}

void check_limiter(HWND page) {
    HWND limiter = open_limiter(page);
    check(limiter != nullptr, "limiter dialog opens");
    if (limiter == nullptr) return;
    check_limiter_template(limiter);
    for (int i = 0; i < 6; ++i) check_text(limiter, 301 + i, limiterDefaults[i], "limiter label");
    check(trackbar_position(limiter, 205) == 201, "ratio trackbar at 201");

    const int positions[6] = {270, 100, 290, 20, 200, 50};
    const char* labels[6] = {"-3.0 dB", "100 ms", "-1.0 dB", "2.0 dB", "20.0 : 1", "5.0 ms"};
    for (int i = 0; i < 6; ++i) {
        move_trackbar(limiter, 201 + i, positions[i]);
        check_text(limiter, 301 + i, labels[i], "limiter label after a move");
        for (int j = i + 1; j < 6; ++j)
            check_text(limiter, 301 + j, limiterDefaults[j], "other labels unchanged");
    }
    move_trackbar(limiter, 205, 11);
    check_text(limiter, 305, "1.1 : 1", "lowest ratio");
    move_trackbar(limiter, 205, 200);
    Sleep(1500);  // a graph frame with live traces
    save_screenshot(limiter, "limiter_dialog.bmp");
    check_limiter_graph(page, limiter);

    PostMessageA(limiter, WM_KEYDOWN, VK_ESCAPE, 0);
    check(wait_until_gone(limiter, 3000), "Escape closes the limiter dialog");
    // The page keeps its switches: the limiter and soft clip letters are untouched.
    check(checked(page, 191) && checked(page, 189), "limiter and soft clip switches unchanged");
}

// Each round withdraws and releases the trace buffer at a different moment of
// the audio thread's blocks. (Under Xvfb without a window manager, hiding a
// dialog waits about two seconds for the X server, so rounds are not cheap.)
constexpr int handOverRounds = 30;

void check_limiter_hand_over(HWND page) {
    int closed = 0;
    for (int round = 0; round < handOverRounds; ++round) {
        HWND limiter = open_limiter(page);
        if (limiter == nullptr) break;
        const LONG before = blocks_processed;
        for (int waited = 0; waited < 500 && blocks_processed < before + 2; waited += 5) Sleep(5);
        Sleep(round % 7);
        // Mostly Escape; now and then the "Close" button, which must act alike.
        if (round % 5 == 4)
            PostMessageA(GetDlgItem(limiter, 141), BM_CLICK, 0, 0);
        else
            PostMessageA(limiter, WM_KEYDOWN, VK_ESCAPE, 0);
        if (!wait_until_gone(limiter, 3000)) break;
        ++closed;
    }
    check(closed == handOverRounds, "limiter dialog opened and closed with audio flowing",
          std::to_string(closed));
}

DWORD WINAPI driver_thread(void*) {
    config_dialog = wait_for_window("yarq's Enhancers 2.1", 10000);
    check(config_dialog != nullptr, "configuration dialog opens");
    if (config_dialog == nullptr) return 0;

    HWND page = select_tab(1);
    check(page != nullptr, "Enhancer 2 page");
    if (page != nullptr) {
        check_page_template(page);
        if (!checked(page, 181)) SendDlgItemMessageA(page, 181, BM_CLICK, 0, 0);
        check(checked(page, 181), "engine enabled");
        check_default_labels(page);
        check_crossovers(page);
        page = check_long_crossover(page);
    }
    if (page != nullptr) {
        const PageView atCreation = read_page(page);
        enter_crossover(page, 163, "0");
        check_solo(page);
        check_presets(page, atCreation);
        enter_crossover(page, 163, "0");
        check_user_presets(page);
        check_agc(page);
        Sleep(1000);
        save_screenshot(config_dialog, "multiband_page.bmp");
        check_limiter(page);
        check_limiter_hand_over(page);
    }
    PostMessageA(config_dialog, WM_CLOSE, 0, 0);
    return 0;
}

DWORD WINAPI watchdog_thread(void*) {
    Sleep(240000);
    printf("FAIL: timed out\n");
    fflush(stdout);
    ExitProcess(3);
}

std::string read_text_file(const std::string& path) {
    std::string text;
    FILE* in = fopen(path.c_str(), "rb");
    if (in == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
    fclose(in);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        printf("usage: ui_test_multiband LIBRARY WORK_FOLDER\n");
        return 2;
    }
    work_folder = argv[2];
    CreateDirectoryA(work_folder.c_str(), nullptr);
    const std::string library = work_folder + "\\dsp_redozer.dll";
    const std::string ini = work_folder + "\\dsp_redozer.ini";
    DeleteFileA(ini.c_str());
    if (!CopyFileA(argv[1], library.c_str(), FALSE)) {
        printf("FAIL: cannot copy %s\n", argv[1]);
        return 2;
    }
    // The tag file keeps the settings file beside this private copy.
    FILE* tag = fopen((work_folder + "\\zb_local.ini").c_str(), "wb");
    if (tag != nullptr) fclose(tag);

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    HMODULE dll = LoadLibraryA(library.c_str());
    if (dll == nullptr) {
        printf("FAIL: cannot load %s\n", library.c_str());
        return 2;
    }
    auto get_header =
        reinterpret_cast<DspGetHeaderFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "winampDSPGetHeader2")));
    module = get_header()->getModule(0);
    module->hwndParent = nullptr;
    module->hDllInstance = dll;
    module->Init(module);

    CreateThread(nullptr, 0, watchdog_thread, nullptr, 0, nullptr);
    HANDLE audio = CreateThread(nullptr, 0, audio_thread, nullptr, 0, nullptr);
    while (blocks_processed < 5) Sleep(5);
    HANDLE driver = CreateThread(nullptr, 0, driver_thread, nullptr, 0, nullptr);
    module->Config(module);
    WaitForSingleObject(driver, INFINITE);
    InterlockedExchange(&audio_running, 0);
    WaitForSingleObject(audio, INFINITE);

    // The settings written at close carry the limiter edits in their fields only.
    const std::string saved = read_text_file(ini);
    const size_t at = saved.find("enh_limiter=");
    check(at != std::string::npos, "settings file written with enh_limiter");
    if (at != std::string::npos) {
        const std::string value = saved.substr(at + 12, 41);
        check(value == "l-s---th270re100ce290kn020ra200at050ho000",
              "enh_limiter after the trackbar moves", value);
    }
    module->Quit(module);

    printf("%d checks, %d failures\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
