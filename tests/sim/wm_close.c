/* Closes a window the way a desktop's close button does: a WM_DELETE_WINDOW
 * message, which Xvfb without a window manager has no other way to send. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    Display *display = XOpenDisplay(NULL);
    if (argc != 2 || display == NULL) {
        fprintf(stderr, "usage: wm_close WINDOW-ID (with DISPLAY set)\n");
        return 2;
    }
    XEvent e = {0};
    e.xclient.type = ClientMessage;
    e.xclient.window = (Window)strtoul(argv[1], NULL, 0);
    e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, e.xclient.window, False, NoEventMask, &e);
    XCloseDisplay(display);
    return 0;
}
