// Asks the X11 window whose title starts with a given text to close, as a
// window manager's close button does (WM_DELETE_WINDOW): Xvfb has no window
// manager. Waits up to SECONDS for such a window to appear.
//   close_window TITLE_PREFIX [SECONDS]   exit 0 once asked, 1 if none appeared
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The first window below `w` (itself included) whose title starts with `prefix`.
Window findWindow(Display* d, Window w, const char* prefix) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name != nullptr) {
        const bool match = strncmp(name, prefix, strlen(prefix)) == 0;
        XFree(name);
        if (match) return w;
    }
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) found = findWindow(d, children[i], prefix);
    if (children != nullptr) XFree(children);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: close_window TITLE_PREFIX [SECONDS]\n");
        return 2;
    }
    const int seconds = argc > 2 ? atoi(argv[2]) : 60;
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        fprintf(stderr, "close_window: no X display\n");
        return 1;
    }
    for (int tenth = 0; tenth < 10 * seconds; ++tenth) {
        const Window w = findWindow(d, DefaultRootWindow(d), argv[1]);
        if (w != 0) {
            XEvent e = {};
            e.xclient.type = ClientMessage;
            e.xclient.window = w;
            e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
            e.xclient.format = 32;
            e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
            e.xclient.data.l[1] = CurrentTime;
            XSendEvent(d, w, False, NoEventMask, &e);
            XSync(d, False);
            XCloseDisplay(d);
            return 0;
        }
        usleep(100000);
    }
    XCloseDisplay(d);
    fprintf(stderr, "close_window: no window titled \"%s...\"\n", argv[1]);
    return 1;
}
