// close-window TITLE [SECONDS]
//
// Waits up to SECONDS (default 30) for a window titled TITLE on the X display
// and asks it to close with WM_DELETE_WINDOW, as a window manager's close
// button does (xdotool's windowclose destroys the window instead, which SDL
// does not take as a quit). Exit status 0 when the request was sent, 1 when
// no such window appeared, 2 on a usage or display error.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

Window find_window(Display* display, Window window, const char* title) {
    XTextProperty name{};
    if (XGetWMName(display, window, &name) && name.value) {
        bool same = std::strcmp(reinterpret_cast<const char*>(name.value), title) == 0;
        XFree(name.value);
        if (same) return window;
    }
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = find_window(display, children[i], title);
    if (children) XFree(children);
    return found;
}

} // namespace

int main(int argc, char** argv) {
    Display* display = argc > 1 ? XOpenDisplay(nullptr) : nullptr;
    if (!display) {
        std::fprintf(stderr, "usage: close-window TITLE [SECONDS], with a display to open\n");
        return 2;
    }
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 30);
    Window window = 0;
    while (!(window = find_window(display, DefaultRootWindow(display), argv[1]))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "close-window: no window titled \"%s\"\n", argv[1]);
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
    XCloseDisplay(display);
    return 0;
}
