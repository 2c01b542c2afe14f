// The LV2 UI urn:dsp-redozer:ui for both plug-ins: an X11 child window of the
// host's parent, drawn with cairo. Controls go to the plug-in through the
// host's write function only; control and read-out values come back through
// port_event. Each instance has its own display connection, window and
// state, so any number can be open at once and opened and closed at will.
// The project's headers first: Xlib's macros (None, Status) must not reach them.
#include "lv2ui/ui_draw.h"
#include "lv2ui/ui_model.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo/cairo.h>
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

namespace {

using namespace lv2ui;

constexpr const char* uiUri = "urn:dsp-redozer:ui";
constexpr long readoutFramePeriodMs = 40;  // meters and gains at most 25 times a second
constexpr unsigned long doubleClickMs = 400;

struct X11Ui {
    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const LV2UI_Resize* hostResize;
    Display* display;
    Window window;
    GC gc;
    cairo_surface_t* surface;  // client-side picture, copied to the window per frame
    int width, height;  // window pixels
    UiState state;
    CurveCache cache;
    bool exposed;      // something must be drawn at the next idle
    bool readoutsDirty; // read-outs changed since the last frame
    bool windowGone;   // the server destroyed the window with its parent
    bool userActed;    // the snapshot stays as found once the user acts
    long lastFrameMs;
    long lastTraceMs;      // when the last limiter trace came
    long lastScanMs;       // when the user presets were last listed
    LV2_URID eventTransfer, atomVector, atomFloat;  // 0 without the host's URID map
    unsigned long lastPressTime;
    int lastPressWidget;
};

long nowMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

double drawScale(const X11Ui* ui) {
    const double sx = static_cast<double>(ui->width) / uiWidth;
    const double sy = static_cast<double>(ui->height) / uiHeight;
    return sx < sy ? sx : sy;
}

void send(X11Ui* ui, const Writes& w) {
    for (int i = 0; i < w.count; ++i) {
        const ports::ControlInfo& c = ports::controls[w.control[i]];
        const float value = static_cast<float>(ports::valueOfCode(c, w.code[i]));
        const int port = ports::controlPortIndex(ui->state.channels, w.control[i]);
        ui->write(ui->controller, static_cast<uint32_t>(port), sizeof value, 0, &value);
    }
    applyWrites(ui->state, w);
    if (w.count > 0) ui->userActed = true;
}

// The picture is drawn in memory and copied whole: no glyphs or pictures live
// on the server, so several instances (each with its own connection) never
// share server-side caches.
bool ensureSurface(X11Ui* ui) {
    if (ui->surface != nullptr && cairo_image_surface_get_width(ui->surface) == ui->width &&
        cairo_image_surface_get_height(ui->surface) == ui->height)
        return true;
    if (ui->surface != nullptr) cairo_surface_destroy(ui->surface);
    ui->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, ui->width, ui->height);
    return cairo_surface_status(ui->surface) == CAIRO_STATUS_SUCCESS;
}

// Copies a rectangle of the picture (window pixels) to the window.
void putPicture(X11Ui* ui, int x, int y, int w, int h) {
    cairo_surface_flush(ui->surface);
    XImage* image = XCreateImage(ui->display, DefaultVisual(ui->display, DefaultScreen(ui->display)),
                                 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(cairo_image_surface_get_data(ui->surface)),
                                 static_cast<unsigned>(ui->width), static_cast<unsigned>(ui->height),
                                 32, cairo_image_surface_get_stride(ui->surface));
    if (image == nullptr) return;
    XPutImage(ui->display, ui->window, ui->gc, image, x, y, x, y, static_cast<unsigned>(w),
              static_cast<unsigned>(h));
    image->data = nullptr;  // cairo's memory
    XDestroyImage(image);
    XFlush(ui->display);
}

void drawFrame(X11Ui* ui) {
    if (!ensureSurface(ui)) return;
    cairo_t* cr = cairo_create(ui->surface);
    drawUi(cr, ui->state, drawScale(ui), ui->cache);
    cairo_destroy(cr);
    putPicture(ui, 0, 0, ui->width, ui->height);
    ui->exposed = false;
    ui->readoutsDirty = false;
    ui->lastFrameMs = nowMs();
}

// Moving read-outs: only the widgets that show them are drawn and copied.
void drawReadouts(X11Ui* ui) {
    if (!ensureSurface(ui)) return;
    const double scale = drawScale(ui);
    const Layout& l = uiLayout();
    cairo_t* cr = cairo_create(ui->surface);
    for (int i = 0; i < l.count; ++i) {
        const Widget& w = l.widgets[i];
        if (w.page != ui->state.page || !showsReadouts(w)) continue;
        drawWidget(cr, ui->state, scale, ui->cache, i);
        const int x = std::max(0, static_cast<int>(std::floor((w.rect.x - 2) * scale)));
        const int y = std::max(0, static_cast<int>(std::floor((w.rect.y - 2) * scale)));
        const int right = std::min(ui->width, static_cast<int>(std::ceil((w.rect.x + w.rect.w + 2) * scale)));
        const int bottom = std::min(ui->height, static_cast<int>(std::ceil((w.rect.y + w.rect.h + 2) * scale)));
        if (right > x && bottom > y) putPicture(ui, x, y, right - x, bottom - y);
    }
    cairo_destroy(cr);
    ui->exposed = false;
    ui->readoutsDirty = false;
    ui->lastFrameMs = nowMs();
}

bool keyOf(const XKeyEvent& e, Key& key) {
    const KeySym sym = XLookupKeysym(const_cast<XKeyEvent*>(&e), 0);
    const bool control = (e.state & ControlMask) != 0;
    switch (sym) {
    case XK_Left: key = Key::Left; return true;
    case XK_Right: key = Key::Right; return true;
    case XK_Up: key = Key::Up; return true;
    case XK_Down: key = Key::Down; return true;
    case XK_Page_Up: key = control ? Key::PreviousPage : Key::PageUp; return true;
    case XK_Page_Down: key = control ? Key::NextPage : Key::PageDown; return true;
    case XK_Home: key = Key::Home; return true;
    case XK_End: key = Key::End; return true;
    case XK_space:
    case XK_Return: key = Key::Space; return true;
    case XK_Delete:
    case XK_BackSpace: key = Key::Delete; return true;
    case XK_Tab: key = (e.state & ShiftMask) != 0 ? Key::BackTab : Key::Tab; return true;
    case XK_ISO_Left_Tab: key = Key::BackTab; return true;
    default: return false;
    }
}

void onButton(X11Ui* ui, const XButtonEvent& e) {
    const double scale = drawScale(ui);
    const double x = e.x / scale, y = e.y / scale;
    Writes w{};
    bool changed = false;
    if (e.button == Button1) {
        XSetInputFocus(ui->display, ui->window, RevertToParent, CurrentTime);
        const int at = widgetAt(ui->state, x, y);
        const bool doubleClick = at >= 0 && at == ui->lastPressWidget &&
                                 e.time - ui->lastPressTime < doubleClickMs;
        // A double click is a press of its own, not a third one.
        ui->lastPressWidget = doubleClick ? -1 : at;
        ui->lastPressTime = e.time;
        changed = pointerPress(ui->state, x, y, doubleClick, w);
    } else if (e.button == Button4 || e.button == Button5) {
        changed = wheel(ui->state, x, y, e.button == Button4 ? 1 : -1, w);
    }
    send(ui, w);
    if (changed) ui->exposed = true;
}

void onEvent(X11Ui* ui, XEvent& e) {
    Writes w{};
    switch (e.type) {
    case Expose:
        if (e.xexpose.count == 0) ui->exposed = true;
        break;
    case ConfigureNotify:
        if (e.xconfigure.width != ui->width || e.xconfigure.height != ui->height) {
            ui->width = e.xconfigure.width;
            ui->height = e.xconfigure.height;
            ui->exposed = true;
        }
        break;
    case DestroyNotify:
        if (e.xdestroywindow.window == ui->window) ui->windowGone = true;
        break;
    case ButtonPress:
        onButton(ui, e.xbutton);
        break;
    case ButtonRelease:
        if (e.xbutton.button == Button1 && pointerRelease(ui->state)) ui->exposed = true;
        break;
    case MotionNotify: {
        // Only the latest position of a burst matters.
        while (XCheckTypedWindowEvent(ui->display, ui->window, MotionNotify, &e)) {
        }
        const double scale = drawScale(ui);
        if (pointerDrag(ui->state, e.xmotion.x / scale, e.xmotion.y / scale, w)) ui->exposed = true;
        send(ui, w);
        break;
    }
    case KeyPress: {
        Key key;
        char typed[8] = {};
        // The name field takes what the key types; the other keys act as elsewhere.
        if (nameFieldFocused(ui->state) &&
            XLookupString(&e.xkey, typed, sizeof typed - 1, nullptr, nullptr) == 1 &&
            typed[0] >= ' ' && typed[0] < 127) {
            if (typeText(ui->state, typed)) ui->exposed = true;
        } else if (keyOf(e.xkey, key) && keyPress(ui->state, key, w)) {
            ui->exposed = true;
        }
        send(ui, w);
        break;
    }
    default: break;
    }
}

int idle(LV2UI_Handle handle) {
    auto* ui = static_cast<X11Ui*>(handle);
    while (!ui->windowGone && XPending(ui->display) > 0) {
        XEvent e;
        XNextEvent(ui->display, &e);
        onEvent(ui, e);
    }
    if (ui->windowGone) return 0;
    // The history gathers on every page, so that it shows the last minute
    // whenever the Output page is opened.
    if (recordHistory(ui->state, nowMs()) && ui->state.page == pageOutput) ui->readoutsDirty = true;
    // Traces stop coming when the multiband limiter stops: let them go.
    if (ui->state.traced && nowMs() - ui->lastTraceMs > 500) {
        ui->state.traced = false;
        if (ui->state.page == pageLimiter) ui->readoutsDirty = true;
    }
    // Presets saved or deleted elsewhere show up within a second.
    if (ui->state.page == pageOutput && nowMs() - ui->lastScanMs >= 1000) {
        ui->lastScanMs = nowMs();
        if (rescanUserPresets(ui->state)) ui->exposed = true;
    }
    if (ui->exposed)
        drawFrame(ui);
    else if (ui->readoutsDirty && nowMs() - ui->lastFrameMs >= readoutFramePeriodMs)
        drawReadouts(ui);
    return 0;
}

int hostResized(LV2UI_Feature_Handle handle, int width, int height) {
    auto* ui = static_cast<X11Ui*>(handle);
    if (width <= 0 || height <= 0) return 1;
    XResizeWindow(ui->display, ui->window, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    XFlush(ui->display);
    return 0;
}

const LV2UI_Idle_Interface idleInterface = {idle};

// The options a host may pass: the scale factor and the sample rate; and the
// URIDs of the limiter's trace notifications.
void readOptions(X11Ui* ui, const LV2_Feature* const* features, double& scale, int& rate) {
    LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>(features[i]->data);
        else if (strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>(features[i]->data);
    }
    if (map != nullptr) {
        ui->eventTransfer = map->map(map->handle, LV2_ATOM__eventTransfer);
        ui->atomVector = map->map(map->handle, LV2_ATOM__Vector);
        ui->atomFloat = map->map(map->handle, LV2_ATOM__Float);
    }
    if (map == nullptr || options == nullptr) return;
    const LV2_URID scaleKey = map->map(map->handle, LV2_UI__scaleFactor);
    const LV2_URID rateKey = map->map(map->handle, LV2_PARAMETERS__sampleRate);
    const LV2_URID floatType = map->map(map->handle, "http://lv2plug.in/ns/ext/atom#Float");
    for (const LV2_Options_Option* o = options; o->key != 0; ++o) {
        if (o->type != floatType || o->size != sizeof(float) || o->value == nullptr) continue;
        const float v = *static_cast<const float*>(o->value);
        if (o->key == scaleKey && v >= 0.5f && v <= 8.0f) scale = v;
        if (o->key == rateKey && v > 0.0f && v < 1e7f) rate = static_cast<int>(std::lround(v));
    }
}

bool createWindow(X11Ui* ui, Window parent) {
    XSetWindowAttributes a{};
    a.background_pixmap = None;
    a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | Button1MotionMask |
                   KeyPressMask | StructureNotifyMask;
    const int screen = DefaultScreen(ui->display);
    ui->window = XCreateWindow(ui->display, parent, 0, 0, static_cast<unsigned>(ui->width),
                               static_cast<unsigned>(ui->height), 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWBackPixmap | CWEventMask, &a);
    if (ui->window == 0) return false;
    XStoreName(ui->display, ui->window, "Audio Enhancer");
    ui->gc = XCreateGC(ui->display, ui->window, 0, nullptr);
    XMapWindow(ui->display, ui->window);
    // The host uses the window on its own connection as soon as instantiate
    // returns: the server must have made it by then.
    XSync(ui->display, False);
    // The picture goes to the server as 32-bit pixels of a 24-bit TrueColor visual.
    const Visual* visual = DefaultVisual(ui->display, screen);
    return DefaultDepth(ui->display, screen) == 24 && visual->red_mask == 0xff0000 &&
           visual->blue_mask == 0xff && ensureSurface(ui);
}

void destroyUi(X11Ui* ui) {
    if (ui->surface != nullptr) cairo_surface_destroy(ui->surface);
    if (ui->display != nullptr) {
        if (ui->gc != nullptr) XFreeGC(ui->display, ui->gc);
        if (ui->window != 0) {
            // The host may have destroyed the parent, and our window with it.
            XSync(ui->display, False);
            XEvent e;
            while (XCheckTypedWindowEvent(ui->display, ui->window, DestroyNotify, &e))
                ui->windowGone = true;
            if (!ui->windowGone) XDestroyWindow(ui->display, ui->window);
        }
        XCloseDisplay(ui->display);
    }
    delete ui;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
    int channels = 0;
    if (strcmp(pluginUri, ports::stereoUri) == 0) channels = 2;
    if (strcmp(pluginUri, ports::monoUri) == 0) channels = 1;
    if (channels == 0 || write == nullptr) return nullptr;

    Window parent = 0;
    const LV2UI_Resize* resize = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (strcmp(features[i]->URI, LV2_UI__parent) == 0)
            parent = static_cast<Window>(reinterpret_cast<uintptr_t>(features[i]->data));
        else if (strcmp(features[i]->URI, LV2_UI__resize) == 0)
            resize = static_cast<const LV2UI_Resize*>(features[i]->data);
    }
    auto* ui = new (std::nothrow) X11Ui{};
    if (ui == nullptr) return nullptr;
    ui->write = write;
    ui->controller = controller;
    ui->hostResize = resize;
    ui->lastPressWidget = -1;
    initialState(ui->state, channels);
    loadUserPresets(ui->state, getenv("HOME"));
    double scale = 1.0;
    readOptions(ui, features, scale, ui->state.rate);
    ui->width = static_cast<int>(std::lround(uiWidth * scale));
    ui->height = static_cast<int>(std::lround(uiHeight * scale));
    ui->display = XOpenDisplay(nullptr);
    if (ui->display == nullptr) {
        destroyUi(ui);
        return nullptr;
    }
    if (parent == 0) parent = DefaultRootWindow(ui->display);
    if (!createWindow(ui, parent)) {
        destroyUi(ui);
        return nullptr;
    }
    memcpy(ui->state.snapshot, ui->state.codes, sizeof ui->state.snapshot);
    if (resize != nullptr) resize->ui_resize(resize->handle, ui->width, ui->height);
    *widget = reinterpret_cast<LV2UI_Widget>(static_cast<uintptr_t>(ui->window));
    return ui;
}

void cleanup(LV2UI_Handle handle) { destroyUi(static_cast<X11Ui*>(handle)); }

// A vector of the limiter's three traces from the notification port.
void traceEvent(X11Ui* ui, uint32_t size, const void* buffer) {
    constexpr uint32_t values = 3 * ports::notifyTracePoints;
    if (size < sizeof(LV2_Atom_Vector) + values * sizeof(float)) return;
    const auto* v = static_cast<const LV2_Atom_Vector*>(buffer);
    if (v->atom.type != ui->atomVector || v->body.child_type != ui->atomFloat ||
        v->body.child_size != sizeof(float) ||
        v->atom.size != sizeof(LV2_Atom_Vector_Body) + values * sizeof(float))
        return;
    memcpy(ui->state.limiterTrace, v + 1, sizeof ui->state.limiterTrace);
    ui->state.traced = true;
    ui->lastTraceMs = nowMs();
    if (ui->state.page == pageLimiter) ui->readoutsDirty = true;
}

// Control values move their widgets at once; read-outs and traces wait for
// the next frame of the meters.
void portEvent(LV2UI_Handle handle, uint32_t index, uint32_t size, uint32_t format,
               const void* buffer) {
    auto* ui = static_cast<X11Ui*>(handle);
    if (buffer == nullptr) return;
    if (format != 0 && format == ui->eventTransfer &&
        static_cast<int>(index) == ports::notifyPortIndex(ui->state.channels)) {
        traceEvent(ui, size, buffer);
        return;
    }
    if (format != 0 || size != sizeof(float)) return;
    const float value = *static_cast<const float*>(buffer);
    const int control = static_cast<int>(index) - ports::controlPortIndex(ui->state.channels, 0);
    const int readout = static_cast<int>(index) - ports::readoutPortIndex(ui->state.channels, 0);
    if (control >= 0 && control < ports::controlCount) {
        const int code = ports::codeOfValue(ports::controls[control], value);
        if (code == ui->state.codes[control]) return;
        ui->state.codes[control] = code;
        if (!ui->userActed) ui->state.snapshot[control] = code;
        ui->exposed = true;
    } else if (readout >= 0 && readout < ports::readoutCount) {
        if (readout == ports::rInLoudness || readout == ports::rOutLoudness) ui->state.loudnessSeen = true;
        if (ui->state.readouts[readout] == value) return;
        ui->state.readouts[readout] = value;
        if (readoutShown(ui->state.page, readout)) ui->readoutsDirty = true;
    }
}

const void* extensionData(const char* uri) {
    static const LV2UI_Resize resize = {nullptr, hostResized};
    if (strcmp(uri, LV2_UI__idleInterface) == 0) return &idleInterface;
    if (strcmp(uri, LV2_UI__resize) == 0) return &resize;
    return nullptr;
}

const LV2UI_Descriptor descriptor = {uiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
