#include "kvn_dfb_kit.h"

#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>

#include <map>
#include <mutex>
#include <type_traits>

// Replaces the method of the spy `s` by one that logs its line (the format after ARGS), fails when
// asked to, else calls the real method with ARGS (R is the real interface) and, when that
// succeeds, runs THEN (a maker wraps its product: `ret`).
#define KVN_SPIED_THEN(Method, PARAMS, ARGS, THEN, ...)                                      \
    s->iface.Method = [] PARAMS {                                                            \
        auto *R = std::remove_pointer_t<decltype(s)>::of(thiz)->real;                        \
        auto result = note(__VA_ARGS__) ? static_cast<decltype(R->Method ARGS)>(DFB_FAILURE) \
                                        : R->Method ARGS;                                    \
        if (result == DFB_OK) THEN;                                                          \
        return result;                                                                       \
    }
#define KVN_SPIED(Method, PARAMS, ARGS, ...) \
    KVN_SPIED_THEN(Method, PARAMS, ARGS, (void)0, __VA_ARGS__)

namespace kvn_test {

std::vector<std::string> dfb_calls;
bool spy_main_interface = false;

namespace {

std::string g_fail;
int g_fail_at = 0;
std::mutex g_mutex;  // spies are made on one thread while windows log on others
std::map<const void *, const void *> g_real_of_spy;

template <typename I>
I *resolve(I *thiz) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_real_of_spy.find(thiz);
    return it == g_real_of_spy.end() ? thiz : static_cast<I *>(const_cast<void *>(it->second));
}

IDirectFBSurface *spy_surface(IDirectFBSurface *real, const char *name) {
    auto *s = spy(real, name);
    KVN_SPIED(SetFont, (IDirectFBSurface * thiz, IDirectFBFont * font), (R, font), "SetFont");
    KVN_SPIED(SetColor, (IDirectFBSurface * thiz, u8 r, u8 g, u8 b, u8 a), (R, r, g, b, a),
              "SetColor %02X %02X %02X %02X", r, g, b, a);
    KVN_SPIED(DrawString,
              (IDirectFBSurface * thiz, const char *text, int bytes, int x, int y,
               DFBSurfaceTextFlags flags),
              (R, text, bytes, x, y, flags), "DrawString \"%s\" %d %d,%d flags %d", text, bytes, x,
              y, static_cast<int>(flags));
    KVN_SPIED(SetDrawingFlags, (IDirectFBSurface * thiz, DFBSurfaceDrawingFlags flags), (R, flags),
              "SetDrawingFlags %d", static_cast<int>(flags));
    KVN_SPIED(FillRectangle, (IDirectFBSurface * thiz, int x, int y, int w, int h), (R, x, y, w, h),
              "FillRectangle %d,%d %dx%d", x, y, w, h);
    KVN_SPIED(Flip, (IDirectFBSurface * thiz, const DFBRegion_C *region, DFBSurfaceFlipFlags flags),
              (R, region, flags), "Flip %s %d", region ? "region" : "whole",
              static_cast<int>(flags));
    return &s->iface;
}

IDirectFBWindow *spy_window(IDirectFBWindow *real) {
    auto *s = spy(real, "window");
    KVN_SPIED_THEN(GetSurface, (IDirectFBWindow * thiz, IDirectFBSurface * *ret), (R, ret),
                   *ret = spy_surface(*ret, "surface"), "window GetSurface");
    KVN_SPIED_THEN(CreateEventBuffer, (IDirectFBWindow * thiz, IDirectFBEventBuffer * *ret),
                   (R, ret), *ret = &spy(*ret, "events")->iface, "window CreateEventBuffer");
    KVN_SPIED(SetOpacity, (IDirectFBWindow * thiz, u8 opacity), (R, opacity), "w%u SetOpacity %u",
              window_id(R), opacity);
    KVN_SPIED(RequestFocus, (IDirectFBWindow * thiz), (R), "w%u RequestFocus", window_id(R));
    KVN_SPIED(RaiseToTop, (IDirectFBWindow * thiz), (R), "w%u RaiseToTop", window_id(R));
    return &s->iface;
}

IDirectFBScreen *spy_screen(IDirectFBScreen *real) {
    auto *s = spy(real);
    KVN_SPIED(GetSize, (IDirectFBScreen * thiz, int *w, int *h), (R, w, h), "GetSize");
    return &s->iface;
}

IDirectFBFont *spy_font(IDirectFBFont *real) {
    auto *s = spy(real, "font");
    KVN_SPIED(GetHeight, (IDirectFBFont * thiz, int *height), (R, height), "font GetHeight");
    return &s->iface;
}

IDirectFBImageProvider *spy_provider(IDirectFBImageProvider *real) {
    auto *s = spy(real, "provider");
    KVN_SPIED(RenderTo,
              (IDirectFBImageProvider * thiz, IDirectFBSurface * to, const DFBRectangle_C *rect),
              (R, resolve(to), rect), "RenderTo %s", rect ? "a rectangle" : "whole surface");
    return &s->iface;
}

}  // namespace

unsigned window_id(IDirectFBWindow *window) {
    DFBWindowID id = 0;
    window = resolve(window);
    return window->GetID(window, &id), id;
}

void fail_dfb_call(const std::string &line_start, int occurrence) {
    g_fail = line_start, g_fail_at = occurrence;
}

bool note(const char *format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    dfb_calls.push_back(line);
    return !g_fail.empty() && dfb_calls.back().rfind(g_fail, 0) == 0 && --g_fail_at == 0;
}

void remember_spy(const void *spy, const void *real) {
    real = resolve(real);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_real_of_spy[spy] = real;
}

IDirectFBDisplayLayer *spy_layer(IDirectFBDisplayLayer *real) {
    auto *s = spy(real);
    KVN_SPIED(SetCooperativeLevel,
              (IDirectFBDisplayLayer * thiz, DFBDisplayLayerCooperativeLevel level), (R, level),
              "SetCooperativeLevel %s",
              level == DLSCL_ADMINISTRATIVE ? "ADMINISTRATIVE"
              : level == DLSCL_EXCLUSIVE    ? "EXCLUSIVE"
                                            : "SHARED");
    KVN_SPIED(SetBackgroundMode, (IDirectFBDisplayLayer * thiz, DFBDisplayLayerBackgroundMode mode),
              (R, mode), "SetBackgroundMode %s",
              mode == DLBM_COLOR      ? "COLOR"
              : mode == DLBM_DONTCARE ? "DONTCARE"
                                      : "other");
    KVN_SPIED(SetBackgroundColor, (IDirectFBDisplayLayer * thiz, u8 r, u8 g, u8 b, u8 a),
              (R, r, g, b, a), "SetBackgroundColor %u %u %u %u", r, g, b, a);
    KVN_SPIED(GetConfiguration, (IDirectFBDisplayLayer * thiz, DFBDisplayLayerConfig * config),
              (R, config), "GetConfiguration");
    KVN_SPIED_THEN(GetSurface, (IDirectFBDisplayLayer * thiz, IDirectFBSurface * *ret), (R, ret),
                   *ret = spy_surface(*ret, nullptr), "GetSurface");
    KVN_SPIED_THEN(
        CreateWindow,
        (IDirectFBDisplayLayer * thiz, const DFBWindowDescription *d, IDirectFBWindow **ret),
        (R, d, ret), *ret = spy_window(*ret), "CreateWindow %d,%d %dx%d", d->posx, d->posy,
        d->width, d->height);
    return &s->iface;
}

IDirectFB *spy_dfb(IDirectFB *real) {
    auto *s = spy(real);
    KVN_SPIED_THEN(GetScreen, (IDirectFB * thiz, DFBScreenID id, IDirectFBScreen * *ret),
                   (R, id, ret), *ret = spy_screen(*ret), "GetScreen %u", id);
    KVN_SPIED_THEN(GetDisplayLayer,
                   (IDirectFB * thiz, DFBDisplayLayerID id, IDirectFBDisplayLayer * *ret),
                   (R, id, ret), *ret = spy_layer(*ret), "GetDisplayLayer %u", id);
    KVN_SPIED_THEN(
        CreateFont,
        (IDirectFB * thiz, const char *path, const DFBFontDescription *desc, IDirectFBFont **ret),
        (R, path, desc, ret), *ret = spy_font(*ret), "CreateFont %s flags %d height %d", path,
        static_cast<int>(desc->flags), desc->height);
    KVN_SPIED_THEN(CreateImageProvider,
                   (IDirectFB * thiz, const char *path, IDirectFBImageProvider **ret),
                   (R, path, ret), *ret = spy_provider(*ret), "CreateImageProvider %s", path);
    return &s->iface;
}

}  // namespace kvn_test

// Taken over from libdirectfb: the library's call lands here first.
extern "C" DFBResult DirectFBCreate(IDirectFB **ret) {
    using Create = DFBResult (*)(IDirectFB **);
    static Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "DirectFBCreate"));
    if (!kvn_test::spy_main_interface) return real(ret);
    if (kvn_test::note("DirectFBCreate")) return DFB_FAILURE;
    DFBResult r = real(ret);
    return r == DFB_OK ? (*ret = kvn_test::spy_dfb(*ret), r) : r;
}
