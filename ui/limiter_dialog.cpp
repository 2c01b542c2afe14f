// "Limiter settings": six trackbars over the limiter fields of enh_limiter and
// a live graph of the limiter's input, output and envelope with the static
// transfer curve of the current values.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "dsp/multiband.h"
#include "pages/multiband_page.h"
#include "settings/plugin_settings.h"
#include "settings/settings_engine.h"
#include "ui/pages.h"

namespace {

constexpr UINT_PTR graphTimer = 4032;
constexpr int graphControlId = 131;
constexpr int closeId = 141;
constexpr int refreshCommandId = 134;

// The capture the engine fills while the dialog is open.
TraceBuffer* limiter_trace = nullptr;

void draw_trace(HDC dc, const float* values, int width, int height, COLORREF colour) {
    GraphPoint points[tracePointsShown + 1];
    const int count = trace_points(values, width, height, points);
    if (count == 0) return;
    HPEN pen = CreatePen(PS_SOLID, 2, colour);
    HGDIOBJ previous = SelectObject(dc, pen);
    MoveToEx(dc, points[0].x, points[0].y, nullptr);
    for (int i = 1; i < count; ++i) LineTo(dc, points[i].x, points[i].y);
    SelectObject(dc, previous);
    DeleteObject(pen);
}

void draw_transfer_curve(HDC dc, int width, int height) {
    // calloc checks the size products, which could wrap for absurd widths.
    float* work = static_cast<float*>(calloc(static_cast<size_t>(width), sizeof(float)));
    GraphPoint* points =
        static_cast<GraphPoint*>(calloc(static_cast<size_t>(width) + 1, sizeof(GraphPoint)));
    if (work != nullptr && points != nullptr) {
        const int count =
            transfer_points(settings.engine.multibandParams.limiter, width, height, work, points);
        HPEN pen = CreatePen(PS_SOLID, 1, RGB(48, 48, 48));
        HGDIOBJ previous = SelectObject(dc, pen);
        if (count > 0) MoveToEx(dc, points[0].x, points[0].y, nullptr);
        for (int i = 1; i < count; ++i) LineTo(dc, points[i].x, points[i].y);
        SelectObject(dc, previous);
        DeleteObject(pen);
    }
    free(points);
    free(work);
}

}  // namespace

static void draw_limiter_graph(HWND graph) {
    RECT client{};
    GetClientRect(graph, &client);
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0) return;

    HDC screen = GetDC(graph);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ previousBitmap = SelectObject(memory, bitmap);
        HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
        FillRect(memory, &client, face);
        DeleteObject(face);

        if (limiter_trace != nullptr) {
            // Output, limiter input and envelope: the first values of each trace.
            float traces[3][tracePointsShown];
            for (int t = 0; t < 3; ++t)
                for (int i = 0; i < tracePointsShown; ++i)
                    traces[t][i] = load_relaxed(limiter_trace->values[t * traceLength + i]);
            draw_trace(memory, traces[0], width, height, RGB(0, 112, 176));
            draw_trace(memory, traces[1], width, height, RGB(192, 128, 64));
            if (settings.engine.multibandParams.limiterOn)
                draw_trace(memory, traces[2], width, height, RGB(208, 64, 176));
        }
        draw_transfer_curve(memory, width, height);

        BitBlt(screen, 0, 0, width, height, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previousBitmap);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
    ReleaseDC(graph, screen);
}

static void refresh_limiter_dialog(HWND dialog) {
    for (int i = 0; i < limiterTrackbarCount; ++i)
        SendDlgItemMessageA(dialog, limiterFirstTrackbarId + i, TBM_SETPOS, TRUE,
                            limiter_trackbar_value(i));
    parseMultibandStrings(0, 0, 0);
    char text[32];
    for (int i = 0; i < limiterTrackbarCount; ++i) {
        format_limiter_label(text, sizeof text, settings.engine.multibandParams.limiter, i);
        SetDlgItemTextA(dialog, limiterFirstLabelId + i, text);
    }
    draw_limiter_graph(GetDlgItem(dialog, graphControlId));
}

static void initialise_dialog(HWND dialog) {
    for (int i = 0; i < limiterTrackbarCount; ++i) {
        const int id = limiterFirstTrackbarId + i;
        SendDlgItemMessageA(dialog, id, TBM_SETLINESIZE, 0, 1);
        SendDlgItemMessageA(dialog, id, TBM_SETPAGESIZE, 0, 1);
        SendDlgItemMessageA(dialog, id, TBM_SETRANGE, TRUE,
                            MAKELPARAM(limiter_controls[i].minimum, limiter_controls[i].maximum));
    }
    // Without a capture the graph shows the transfer curve alone.
    limiter_trace = static_cast<TraceBuffer*>(calloc(1, sizeof(TraceBuffer)));
    if (limiter_trace != nullptr) attachTraceBuffer(settings.engine, limiter_trace);
    if (limiter_string_loadable()) SendMessageA(dialog, WM_COMMAND, refreshCommandId, 0);
    SetTimer(dialog, graphTimer, 20, nullptr);
}

INT_PTR CALLBACK limiter_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise_dialog(dialog);
        break;
    case WM_HSCROLL: {
        HWND sender = reinterpret_cast<HWND>(lparam);
        if (sender != nullptr && GetParent(sender) == dialog)
            limiter_trackbar_moved(GetDlgCtrlID(sender),
                                   static_cast<int>(SendMessageA(sender, TBM_GETPOS, 0, 0)));
        refresh_limiter_dialog(dialog);
        break;
    }
    case WM_TIMER:
        if (wparam == graphTimer) {
            KillTimer(dialog, graphTimer);
            SetTimer(dialog, graphTimer, 1000, nullptr);
            draw_limiter_graph(GetDlgItem(dialog, graphControlId));
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wparam) == refreshCommandId)
            refresh_limiter_dialog(dialog);
        else if (LOWORD(wparam) == closeId || LOWORD(wparam) == IDCANCEL)
            SendMessageA(dialog, WM_CLOSE, 0, 0);
        break;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_DESTROY:
        KillTimer(dialog, graphTimer);
        // Withdraw the capture first: once detached, no write of the audio
        // thread can still reach it.
        detachTraceBuffer(settings.engine);
        free(limiter_trace);
        limiter_trace = nullptr;
        break;
    default: break;
    }
    return FALSE;
}
