/* Key to changed pixel in korvan-sim's live window: presses a digit through
 * XTest, which the focused demo application shows as its last key, and
 * looks at the window's pixels until they change.  Prints one latency a
 * line, in milliseconds, on the clock both steps are read from.
 *   desk_latency_window WINDOW-ID PRESSES      (DISPLAY: an X server, Xvfb)
 * XTest is taken from the library xdotool runs on (libXtst.so.6), whose
 * development files the project has no other use for. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef int (*fake_key_fn)(Display *, unsigned int, int, unsigned long);

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static void pause_ms(double ms) {
    struct timespec t = {(time_t)(ms / 1000), (long)((ms - (time_t)(ms / 1000) * 1000) * 1e6)};
    nanosleep(&t, NULL);
}

struct area {
    int x, y, w, h;
};

/* The area's pixels, row after row; NULL when the window is gone. */
static unsigned long *grab(Display *d, Window w, struct area a) {
    XImage *image = XGetImage(d, w, a.x, a.y, (unsigned)a.w, (unsigned)a.h, AllPlanes, ZPixmap);
    if (image == NULL) return NULL;
    unsigned long *pixels = malloc(sizeof *pixels * (size_t)a.w * (size_t)a.h);
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < a.w; ++x) pixels[y * a.w + x] = XGetPixel(image, x, y);
    XDestroyImage(image);
    return pixels;
}

static void press(Display *d, fake_key_fn fake_key, KeySym symbol) {
    KeyCode code = XKeysymToKeycode(d, symbol);
    fake_key(d, code, True, 0);
    fake_key(d, code, False, 0);
    XFlush(d);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: desk_latency_window WINDOW-ID PRESSES\n");
        return 2;
    }
    Window window = (Window)strtoul(argv[1], NULL, 0);
    int presses = atoi(argv[2]);
    void *xtst = dlopen("libXtst.so.6", RTLD_NOW);
    fake_key_fn fake_key = xtst ? (fake_key_fn)dlsym(xtst, "XTestFakeKeyEvent") : NULL;
    Display *d = XOpenDisplay(NULL);
    if (fake_key == NULL || d == NULL) {
        fprintf(stderr, "desk_latency_window: no %s\n", d == NULL ? "display" : "libXtst.so.6");
        return 1;
    }
    XWindowAttributes attributes;
    XGetWindowAttributes(d, window, &attributes);
    struct area whole = {0, 0, attributes.width, attributes.height};
    XSetInputFocus(d, window, RevertToParent, CurrentTime);

    /* The first press warms up and finds the area that a key changes (the
     * demo application's last key); only it is looked at afterwards, which
     * takes a fraction of a millisecond. */
    unsigned long *before = grab(d, window, whole);
    press(d, fake_key, XK_0);
    pause_ms(500);
    unsigned long *after = grab(d, window, whole);
    if (before == NULL || after == NULL) return 1;
    int left = whole.w, top = whole.h, right = -1, bottom = -1;
    for (int y = 0; y < whole.h; ++y)
        for (int x = 0; x < whole.w; ++x)
            if (before[y * whole.w + x] != after[y * whole.w + x]) {
                if (x < left) left = x;
                if (x > right) right = x;
                if (y < top) top = y;
                if (y > bottom) bottom = y;
            }
    free(before);
    free(after);
    if (right < 0) {
        fprintf(stderr, "desk_latency_window: the first key changed nothing in the window\n");
        return 1;
    }
    struct area changed = {left, top, right - left + 1, bottom - top + 1};
    srand(1);
    for (int i = 0; i < presses; ++i) {
        unsigned long *reference = grab(d, window, changed);
        if (reference == NULL) return 1;
        size_t bytes = sizeof *reference * (size_t)changed.w * (size_t)changed.h;
        double start = now_ms(), seen = 0;
        press(d, fake_key, XK_1 + i % 9);
        while (seen == 0 && now_ms() - start < 2000) {
            unsigned long *look = grab(d, window, changed);
            if (look == NULL) return 1;
            if (memcmp(look, reference, bytes) != 0) seen = now_ms();
            free(look);
            /* A breath between looks: the X server draws the window too. */
            if (seen == 0) pause_ms(0.5);
        }
        free(reference);
        if (seen == 0) {
            fprintf(stderr, "desk_latency_window: press %d changed nothing within 2 s\n", i + 1);
            return 1;
        }
        printf("%.3f\n", seen - start);
        fflush(stdout);
        pause_ms(150 + rand() % 150);
    }
    XCloseDisplay(d);
    return 0;
}
