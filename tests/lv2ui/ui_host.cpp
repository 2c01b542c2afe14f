// A small LV2 host for the plug-in UI: the plug-ins run through lilv on an
// audio thread of their own (a signal whose level jumps, paced in real time),
// and the UI binary named by the bundle is loaded into X11 windows of this
// process, as jalv or Ardour embed it. Input reaches the UI as X events sent
// to its window.
//
//   ui_host scenario OUTDIR [--scale S]   both plug-ins, every behaviour, pictures
//   ui_host cycles N [--ui-binary PATH]   open and close the UI N times while audio runs
//   ui_host measure SECONDS               first frame and the UI thread's CPU
//   ui_host traces SECONDS                the limiter's traces to the UI (run under ThreadSanitizer)
//
// Prints "ok ..." or "FAIL ..." per check and exits non-zero on a failure or
// any X error.
// The project's headers first: Xlib's macros (None, Status) must not reach them.
#include "lv2ui/ui_model.h"
#include "ports/builtin_presets.h"
#include "ports/port_table.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo/cairo.h>
#include <dlfcn.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>


using namespace ports;

namespace {

int failures = 0;
int xErrors = 0;

void check(bool ok, const std::string& what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++failures;
    fflush(stdout);
}

int countXError(Display* d, XErrorEvent* e) {
    char text[128];
    XGetErrorText(d, e->error_code, text, sizeof text);
    fprintf(stderr, "X error: %s (request %d)\n", text, e->request_code);
    ++xErrors;
    return 0;
}

std::vector<std::string> uris;
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
    for (size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.push_back(uri);
    return static_cast<LV2_URID>(uris.size());
}
LV2_URID_Map uridMap = {nullptr, mapUri};
LV2_URID urid(const char* uri) { return mapUri(nullptr, uri); }

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double nowMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// ---- One plug-in instance on its audio thread ---------------------------------

struct Plugin {
    int channels = 0;
    LilvInstance* instance = nullptr;
    std::atomic<float> controls[controlCount];
    std::atomic<float> readouts[readoutCount];
    std::atomic<bool> running{false};
    std::atomic<long> blocks{0};
    std::atomic<float> level{-1.0f};  // a steady level instead of the jumps, when >= 0
    // The latest limiter traces from the notification port, for the UI
    // thread: a sequence count, odd while the audio thread writes.
    std::atomic<uint32_t> traceSequence{0};
    std::atomic<float> trace[3 * notifyTracePoints];
    LV2_URID chunk = 0, vector = 0;  // mapped before the audio thread starts
    std::thread audio;
    // The host's worker, as LV2 hosts lend one: the audio thread counts
    // requests up, the worker thread runs the plug-in's work for them. The
    // plug-in's requests carry nothing it needs back, so none is passed on.
    LV2_Worker_Schedule schedule = {this, nullptr};
    const LV2_Worker_Interface* work = nullptr;
    std::atomic<uint32_t> requests{0};
    std::atomic<long> works{0};
    std::thread worker;
};

LV2_Worker_Status scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t, const void*) {
    auto* p = static_cast<Plugin*>(handle);
    p->requests.fetch_add(1, std::memory_order_release);
    p->requests.notify_one();
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status noResponse(LV2_Worker_Respond_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; }

void workerLoop(Plugin* p) {
    uint32_t seen = 0;
    while (p->running.load()) {
        p->requests.wait(seen, std::memory_order_acquire);
        seen = p->requests.load(std::memory_order_acquire);
        p->work->work(lilv_instance_get_handle(p->instance), noResponse, nullptr, 0, nullptr);
        p->works.fetch_add(1);
    }
}

// The notification sequence after a run: its vectors of traces go to the
// UI thread.
void takeTraces(Plugin* p, const LV2_Atom_Sequence* seq) {
    LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
        if (ev->body.type != p->vector || ev->body.size != sizeof(LV2_Atom_Vector_Body) + sizeof p->trace) continue;
        const auto* values = reinterpret_cast<const float*>(
            reinterpret_cast<const uint8_t*>(&ev->body) + sizeof(LV2_Atom_Vector));
        p->traceSequence.fetch_add(1, std::memory_order_acq_rel);
        for (int i = 0; i < 3 * notifyTracePoints; ++i) p->trace[i].store(values[i], std::memory_order_release);
        p->traceSequence.fetch_add(1, std::memory_order_release);
    }
}

void audioLoop(Plugin* p) {
    constexpr int n = 256;
    std::vector<uint64_t> notify(notifyBufferSize / sizeof(uint64_t));
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(notify.data());
    lilv_instance_connect_port(p->instance, static_cast<uint32_t>(notifyPortIndex(p->channels)), seq);
    std::vector<float> in(2 * n), out(2 * n);
    float controls[controlCount], readouts[readoutCount] = {};
    for (int c = 0; c < p->channels; ++c) {
        lilv_instance_connect_port(p->instance, static_cast<uint32_t>(c), &in[c * n]);
        lilv_instance_connect_port(p->instance, static_cast<uint32_t>(p->channels + c), &out[c * n]);
    }
    for (int k = 0; k < controlCount; ++k)
        lilv_instance_connect_port(p->instance, static_cast<uint32_t>(controlPortIndex(p->channels, k)),
                                   &controls[k]);
    for (int r = 0; r < readoutCount; ++r)
        lilv_instance_connect_port(p->instance, static_cast<uint32_t>(readoutPortIndex(p->channels, r)),
                                   &readouts[r]);
    lilv_instance_activate(p->instance);
    long frame = 0;
    double next = nowMs();
    while (p->running.load()) {
        // 440 Hz whose level jumps between loud and quiet every 0.3 s.
        const float steady = p->level.load();
        for (int i = 0; i < n; ++i, ++frame) {
            const double level = steady >= 0.0f ? steady : (frame / 13230) % 2 == 0 ? 0.6 : 0.02;
            const float v = static_cast<float>(level * std::sin(2 * M_PI * 440.0 * frame / 44100.0));
            for (int c = 0; c < p->channels; ++c) in[c * n + i] = v;
        }
        for (int k = 0; k < controlCount; ++k) controls[k] = p->controls[k].load();
        seq->atom.type = p->chunk;
        seq->atom.size = notifyBufferSize - sizeof(LV2_Atom);
        lilv_instance_run(p->instance, n);
        takeTraces(p, seq);
        for (int r = 0; r < readoutCount; ++r) p->readouts[r].store(readouts[r]);
        p->blocks.fetch_add(1);
        next += 1000.0 * n / 44100.0;
        const double wait = next - nowMs();
        if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(wait * 1000)));
    }
    lilv_instance_deactivate(p->instance);
}

bool startPlugin(Plugin& p, const LilvPlugin* plugin, int channels) {
    p.channels = channels;
    // URIDs the audio thread uses are mapped here, before it starts.
    p.chunk = urid(LV2_ATOM__Chunk);
    p.vector = urid(LV2_ATOM__Vector);
    const LV2_Feature mapFeature = {LV2_URID__map, &uridMap};
    p.schedule.schedule_work = scheduleWork;
    const LV2_Feature workFeature = {LV2_WORKER__schedule, &p.schedule};
    const LV2_Feature* features[] = {&mapFeature, &workFeature, nullptr};
    p.instance = lilv_plugin_instantiate(plugin, 44100.0, features);
    if (p.instance == nullptr) return false;
    p.work = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(p.instance, LV2_WORKER__interface));
    for (int k = 0; k < controlCount; ++k) p.controls[k] = static_cast<float>(defaultValue(controls[k]));
    for (int r = 0; r < readoutCount; ++r) p.readouts[r] = readouts[r].defaultValue;
    p.running = true;
    p.audio = std::thread(audioLoop, &p);
    if (p.work != nullptr) p.worker = std::thread(workerLoop, &p);
    return true;
}

void stopPlugin(Plugin& p) {
    p.running = false;
    if (p.audio.joinable()) p.audio.join();
    if (p.worker.joinable()) {
        p.requests.fetch_add(1);  // wakes the worker to see that it is over
        p.requests.notify_one();
        p.worker.join();
    }
    if (p.instance != nullptr) lilv_instance_free(p.instance);
    p.instance = nullptr;
}

// ---- The UI of one instance ------------------------------------------------------

struct UiBinary {
    void* library = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    std::string bundle;
};

struct OpenUi {
    Plugin* plugin = nullptr;
    Display* display = nullptr;
    Window frame = 0;   // the host's window the UI is embedded in
    Window widget = 0;  // the UI's window
    LV2UI_Handle handle = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    int requestedWidth = 0, requestedHeight = 0;
    float lastReadouts[readoutCount];
    // What the UI wrote, per control: count and last value.
    int writes[controlCount] = {};
    float written[controlCount] = {};
    unsigned long fakeTime = 100000;  // X time of the events sent
    uint32_t traceSequence = 0;       // the last traces forwarded
    int tracesSent = 0;
    double scale = 1.0;
};

int hostResize(LV2UI_Feature_Handle handle, int w, int h) {
    auto* ui = static_cast<OpenUi*>(handle);
    ui->requestedWidth = w;
    ui->requestedHeight = h;
    XResizeWindow(ui->display, ui->frame, static_cast<unsigned>(w), static_cast<unsigned>(h));
    return 0;
}

void uiWrite(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format,
             const void* buffer) {
    auto* ui = static_cast<OpenUi*>(const_cast<void*>(controller));
    const int k = static_cast<int>(port) - controlPortIndex(ui->plugin->channels, 0);
    if (format != 0 || size != sizeof(float) || k < 0 || k >= controlCount) {
        check(false, "the UI writes only control ports as floats (port " + std::to_string(port) + ")");
        return;
    }
    const float v = *static_cast<const float*>(buffer);
    ui->plugin->controls[k] = v;
    ui->writes[k]++;
    ui->written[k] = v;
}

bool loadUiBinary(LilvWorld* world, const LilvPlugin* plugin, const char* override, UiBinary& out) {
    LilvUIs* uis = lilv_plugin_get_uis(plugin);
    LilvNode* x11 = lilv_new_uri(world, LV2_UI__X11UI);
    std::string path, uri;
    LILV_FOREACH(uis, i, uis) {
        const LilvUI* ui = lilv_uis_get(uis, i);
        if (!lilv_ui_is_a(ui, x11)) continue;
        char* file = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
        char* bundle = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_bundle_uri(ui)), nullptr);
        path = file;
        out.bundle = bundle;
        uri = lilv_node_as_uri(lilv_ui_get_uri(ui));
        lilv_free(file);
        lilv_free(bundle);
    }
    lilv_node_free(x11);
    lilv_uis_free(uis);
    if (path.empty()) return false;
    if (override != nullptr) path = override;
    out.library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (out.library == nullptr) {
        fprintf(stderr, "%s\n", dlerror());
        return false;
    }
    auto get = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(out.library, "lv2ui_descriptor"));
    for (uint32_t i = 0; get != nullptr && get(i) != nullptr; ++i)
        if (uri == get(i)->URI) out.descriptor = get(i);
    return out.descriptor != nullptr;
}

void sendValue(OpenUi& ui, int port, float v) {
    ui.descriptor->port_event(ui.handle, static_cast<uint32_t>(port), sizeof v, 0, &v);
}

// New traces go to the UI as the atom vector the plug-in wrote, in the
// event transfer format.
void forwardTraces(OpenUi& ui) {
    Plugin* p = ui.plugin;
    const uint32_t before = p->traceSequence.load(std::memory_order_acquire);
    if (before == ui.traceSequence || before % 2 != 0) return;
    struct {
        LV2_Atom_Vector head;
        float values[3 * notifyTracePoints];
    } message;
    // A value of a later write synchronises with that write, which came after
    // its sequence count went odd: the check below then sees the change.
    for (int i = 0; i < 3 * notifyTracePoints; ++i) message.values[i] = p->trace[i].load(std::memory_order_acquire);
    if (p->traceSequence.load(std::memory_order_relaxed) != before) return;  // written meanwhile
    ui.traceSequence = before;
    message.head.atom.type = urid(LV2_ATOM__Vector);
    message.head.atom.size = sizeof(LV2_Atom_Vector_Body) + sizeof message.values;
    message.head.body.child_size = sizeof(float);
    message.head.body.child_type = urid(LV2_ATOM__Float);
    ui.descriptor->port_event(ui.handle, static_cast<uint32_t>(notifyPortIndex(p->channels)),
                              sizeof message, urid(LV2_ATOM__eventTransfer), &message);
    ++ui.tracesSent;
}

// Idle calls, read-outs and traces forwarded when they change, as a host's
// UI timer does.
void pump(OpenUi& ui, int ms) {
    const double end = nowMs() + ms;
    do {
        forwardTraces(ui);
        for (int r = 0; r < readoutCount; ++r) {
            const float v = ui.plugin->readouts[r].load();
            if (v != ui.lastReadouts[r]) {
                ui.lastReadouts[r] = v;
                sendValue(ui, readoutPortIndex(ui.plugin->channels, r), v);
            }
        }
        ui.idle->idle(ui.handle);
        while (XPending(ui.display) > 0) {
            XEvent e;
            XNextEvent(ui.display, &e);
        }
        sleepMs(5);
    } while (nowMs() < end);
}

bool openUi(OpenUi& ui, Display* display, const UiBinary& binary, Plugin* plugin, const char* pluginUri,
            double scale, int left = 0) {
    ui.plugin = plugin;
    ui.display = display;
    ui.descriptor = binary.descriptor;
    ui.scale = scale;
    const int screen = DefaultScreen(display);
    // Magenta: what shows before the UI has drawn its first frame.
    ui.frame = XCreateSimpleWindow(display, RootWindow(display, screen), left, 0, 100, 100, 0, 0,
                                   0xff00ff);
    XMapWindow(display, ui.frame);
    XSync(display, False);

    static float sampleRate = 44100.0f;
    float scaleFactor = static_cast<float>(scale);
    const LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, mapUri(nullptr, LV2_UI__scaleFactor), sizeof(float),
         mapUri(nullptr, LV2_ATOM__Float), &scaleFactor},
        {LV2_OPTIONS_INSTANCE, 0, mapUri(nullptr, LV2_PARAMETERS__sampleRate), sizeof(float),
         mapUri(nullptr, LV2_ATOM__Float), &sampleRate},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    LV2UI_Resize resize = {&ui, hostResize};
    const LV2_Feature parentFeature = {LV2_UI__parent, reinterpret_cast<void*>(ui.frame)};
    const LV2_Feature resizeFeature = {LV2_UI__resize, &resize};
    const LV2_Feature mapFeature = {LV2_URID__map, &uridMap};
    const LV2_Feature optionsFeature = {LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
    const LV2_Feature idleFeature = {LV2_UI__idleInterface, nullptr};
    const LV2_Feature* features[] = {&parentFeature, &resizeFeature, &mapFeature, &optionsFeature,
                                     &idleFeature, nullptr};
    LV2UI_Widget widget = nullptr;
    ui.handle = ui.descriptor->instantiate(ui.descriptor, pluginUri, binary.bundle.c_str(), uiWrite,
                                           &ui, &widget, features);
    if (ui.handle == nullptr) return false;
    ui.widget = static_cast<Window>(reinterpret_cast<uintptr_t>(widget));
    ui.idle = static_cast<const LV2UI_Idle_Interface*>(
        ui.descriptor->extension_data(LV2_UI__idleInterface));
    if (ui.idle == nullptr) return false;
    // The host tells a new UI every control's value.
    for (int k = 0; k < controlCount; ++k)
        sendValue(ui, controlPortIndex(plugin->channels, k), plugin->controls[k].load());
    for (int r = 0; r < readoutCount; ++r) ui.lastReadouts[r] = -1.0f;
    return true;
}

void closeUi(OpenUi& ui) {
    if (ui.handle != nullptr) ui.descriptor->cleanup(ui.handle);
    ui.handle = nullptr;
    if (ui.frame != 0) XDestroyWindow(ui.display, ui.frame);
    ui.frame = 0;
    XSync(ui.display, False);
}

// ---- Pictures -------------------------------------------------------------------

struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Picture grab(OpenUi& ui) {
    XSync(ui.display, False);
    XWindowAttributes a;
    XGetWindowAttributes(ui.display, ui.widget, &a);
    Picture p;
    XImage* image = XGetImage(ui.display, ui.widget, 0, 0, static_cast<unsigned>(a.width),
                              static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (image == nullptr) return p;
    p.width = a.width;
    p.height = a.height;
    p.pixels.resize(static_cast<size_t>(p.width) * p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.pixels[static_cast<size_t>(y) * p.width + x] =
                static_cast<uint32_t>(XGetPixel(image, x, y)) | 0xff000000u;
    XDestroyImage(image);
    return p;
}

void save(const Picture& p, const std::string& path) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, p.width, p.height);
    cairo_surface_flush(s);
    auto* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < p.height; ++y)
        memcpy(data + static_cast<size_t>(y) * stride, &p.pixels[static_cast<size_t>(y) * p.width],
               static_cast<size_t>(p.width) * 4);
    cairo_surface_mark_dirty(s);
    cairo_surface_write_to_png(s, path.c_str());
    cairo_surface_destroy(s);
}

// Whether a logical rectangle differs between two pictures.
bool regionChanged(const Picture& a, const Picture& b, lv2ui::Rect r, double scale) {
    if (a.width != b.width || a.height != b.height || a.width == 0) return false;
    for (int y = static_cast<int>(r.y * scale); y < static_cast<int>((r.y + r.h) * scale) && y < a.height; ++y)
        for (int x = static_cast<int>(r.x * scale); x < static_cast<int>((r.x + r.w) * scale) && x < a.width; ++x)
            if (a.at(x, y) != b.at(x, y)) return true;
    return false;
}

int distinctColours(const Picture& p) {
    std::vector<uint32_t> seen;
    for (size_t i = 0; i < p.pixels.size() && seen.size() < 64; i += 7) {
        bool known = false;
        for (uint32_t c : seen) known = known || c == p.pixels[i];
        if (!known) seen.push_back(p.pixels[i]);
    }
    return static_cast<int>(seen.size());
}

// ---- Input as X events -------------------------------------------------------

void sendButton(OpenUi& ui, int type, unsigned button, double lx, double ly) {
    XEvent e{};
    e.xbutton.type = type;
    e.xbutton.display = ui.display;
    e.xbutton.window = ui.widget;
    e.xbutton.root = DefaultRootWindow(ui.display);
    e.xbutton.x = static_cast<int>(std::lround(lx * ui.scale));
    e.xbutton.y = static_cast<int>(std::lround(ly * ui.scale));
    e.xbutton.button = button;
    e.xbutton.same_screen = True;
    e.xbutton.time = ui.fakeTime;
    if (type == ButtonRelease) e.xbutton.state = Button1Mask;
    const long mask = type == ButtonPress ? ButtonPressMask : ButtonReleaseMask;
    XSendEvent(ui.display, ui.widget, False, mask, &e);
    XFlush(ui.display);
}

void sendMotion(OpenUi& ui, double lx, double ly) {
    XEvent e{};
    e.xmotion.type = MotionNotify;
    e.xmotion.display = ui.display;
    e.xmotion.window = ui.widget;
    e.xmotion.root = DefaultRootWindow(ui.display);
    e.xmotion.x = static_cast<int>(std::lround(lx * ui.scale));
    e.xmotion.y = static_cast<int>(std::lround(ly * ui.scale));
    e.xmotion.state = Button1Mask;
    e.xmotion.same_screen = True;
    e.xmotion.time = ui.fakeTime;
    XSendEvent(ui.display, ui.widget, False, Button1MotionMask, &e);
    XFlush(ui.display);
}

void sendKey(OpenUi& ui, KeySym sym) {
    XEvent e{};
    e.xkey.type = KeyPress;
    e.xkey.display = ui.display;
    e.xkey.window = ui.widget;
    e.xkey.root = DefaultRootWindow(ui.display);
    e.xkey.keycode = XKeysymToKeycode(ui.display, sym);
    e.xkey.same_screen = True;
    e.xkey.time = ui.fakeTime;
    XSendEvent(ui.display, ui.widget, False, KeyPressMask, &e);
    XFlush(ui.display);
}

void click(OpenUi& ui, double x, double y) {
    ui.fakeTime += 1000;  // far from the last click: never a double click
    sendButton(ui, ButtonPress, Button1, x, y);
    sendButton(ui, ButtonRelease, Button1, x, y);
    pump(ui, 60);
}

void showPage(OpenUi& ui, int page) {
    const lv2ui::Layout& l = lv2ui::uiLayout();
    for (int i = 0; i < l.count; ++i)
        if (l.widgets[i].kind == lv2ui::Kind::Tab && l.widgets[i].onCode == page)
            click(ui, l.widgets[i].rect.x + 10, l.widgets[i].rect.y + 10);
    pump(ui, 60);
}

const lv2ui::Widget* findWidget(int page, int control, lv2ui::Kind kind = lv2ui::Kind::Slider) {
    const lv2ui::Layout& l = lv2ui::uiLayout();
    for (int i = 0; i < l.count; ++i)
        if (l.widgets[i].page == page && l.widgets[i].control == control && l.widgets[i].kind == kind)
            return &l.widgets[i];
    return nullptr;
}

// Sets a control as a host does: the plug-in's port and the UI's port event.
void hostSets(OpenUi& ui, int control, int code) {
    const float v = static_cast<float>(valueOfCode(controls[control], code));
    ui.plugin->controls[control] = v;
    sendValue(ui, controlPortIndex(ui.plugin->channels, control), v);
}

int codeWritten(const OpenUi& ui, int control) { return codeOfValue(controls[control], ui.written[control]); }

#include "ui_host_scenarios.inc"

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: ui_host scenario OUTDIR [--scale S] | cycles N [--ui-binary PATH] | "
                        "measure SECONDS | traces SECONDS\n");
        return 2;
    }
    const std::string mode = argv[1];
    double scale = 1.0;
    const char* override = nullptr;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--scale") == 0) scale = atof(argv[i + 1]);
        if (strcmp(argv[i], "--ui-binary") == 0) override = argv[i + 1];
    }
    XInitThreads();
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        fprintf(stderr, "ui_host: no X display\n");
        return 1;
    }
    XSetErrorHandler(countXError);
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    const LilvPlugins* all = lilv_world_get_all_plugins(world);
    LilvNode* stereoNode = lilv_new_uri(world, stereoUri);
    LilvNode* monoNode = lilv_new_uri(world, monoUri);
    const LilvPlugin* stereo = lilv_plugins_get_by_uri(all, stereoNode);
    const LilvPlugin* mono = lilv_plugins_get_by_uri(all, monoNode);
    UiBinary binary;
    check(stereo != nullptr && mono != nullptr, "lilv finds both plug-ins");
    if (stereo == nullptr || mono == nullptr || !loadUiBinary(world, stereo, override, binary)) {
        check(false, "the stereo plug-in names an X11 UI whose binary loads");
        return 1;
    }
    UiBinary monoBinary;
    check(loadUiBinary(world, mono, override, monoBinary) && monoBinary.descriptor == binary.descriptor,
          "the mono plug-in names the same X11 UI");

    if (mode == "scenario")
        scenario(display, world, stereo, mono, binary, argv[2], scale);
    else if (mode == "cycles")
        cycles(display, stereo, binary, atoi(argv[2]));
    else if (mode == "measure")
        measure(display, stereo, binary, atoi(argv[2]));
    else if (mode == "traces")
        traces(display, stereo, binary, atoi(argv[2]));

    lilv_node_free(stereoNode);
    lilv_node_free(monoNode);
    lilv_world_free(world);
    XCloseDisplay(display);
    check(xErrors == 0, "no X errors (" + std::to_string(xErrors) + ")");
    printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
