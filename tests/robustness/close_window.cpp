// close-window TITLE [SECONDS]
//
// Waits up to SECONDS (default 30) for a top-level window titled TITLE on the
// X display and asks it to close with WM_DELETE_WINDOW, as a window manager's
// close button does (xdotool's windowclose destroys the window instead,
// which SDL does not take as a quit). Exit status 0 when the request was
// sent, 1 when no such window appeared, 2 on a usage or display error.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

bool has_title(Display* display, Window window, const char* title) {
    XTextProperty name{};
    if (!XGetWMName(display, window, &name) || !name.value) return false;
    bool same = std::strcmp(reinterpret_cast<const char*>(name.value), title) == 0;
    XFree(name.value);
    return same;
}

Window find_window(Display* display, Window parent, const char* title) {
    if (has_title(display, parent, title)) return parent;
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = find_window(display, children[i], title);
    if (children) XFree(children);
    return found;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: close-window TITLE [SECONDS]\n");
        return 2;
    }
    const char* title = argv[1];
    int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "close-window: cannot open the display\n");
        return 2;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    Window window = 0;
    while (!(window = find_window(display, DefaultRootWindow(display), title))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "close-window: no window titled \"%s\"\n", title);
            XCloseDisplay(display);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return 0;
}
