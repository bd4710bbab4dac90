#include "kvn_dfb_kit.h"

#include <dlfcn.h>
#include <string.h>

#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

namespace kvn_test {

std::vector<std::string> dfb_calls;
bool spy_main_interface = false;

namespace {

std::string g_fail;
int g_fail_at = 0;

// Counted from outside the library, which no leak checker's suppression of DirectFB's own
// allocations can hide: AddRef and Release of every interface, by the real object's address.
std::recursive_mutex g_mutex;
std::unordered_map<const void *, std::pair<const char *, int>> g_alive;  // kind, references
std::unordered_map<const void *, const void *> g_real_of_spy;
// Each interface's own table as DirectFB made it; kept after the release, since an address may
// be reused only by a new interface, which replaces it.
std::unordered_map<const void *, std::vector<char>> g_original;

template <typename I>
I *resolve(I *thiz) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    auto it = g_real_of_spy.find(thiz);
    return it == g_real_of_spy.end() ? thiz : static_cast<I *>(const_cast<void *>(it->second));
}

template <typename I>
I original(I *thiz) {
    I table;
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    memcpy(&table, g_original.at(thiz).data(), sizeof table);
    return table;
}

// DirectFB's own references (a window's to its surface) are not the caller's to give back.
bool from_directfb(void *caller) {
    Dl_info info;
    return dladdr(caller, &info) != 0 && info.dli_fname != nullptr &&
           (strstr(info.dli_fname, "libdirect") != nullptr ||
            strstr(info.dli_fname, "libfusion") != nullptr);
}

// A reference taken (+1) or given back (-1) by a caller outside DirectFB.
void count_reference(void *object, int change, void *caller) {
    if (from_directfb(caller)) return;
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    auto it = g_alive.find(object);
    if (it != g_alive.end() && (it->second.second += change) <= 0) g_alive.erase(it);
}

template <typename I>
DirectResult add_ref(I *thiz) {
    thiz = resolve(thiz);
    count_reference(thiz, +1, __builtin_return_address(0));
    return original(thiz).AddRef(thiz);
}

template <typename I>
DirectResult release(I *thiz) {
    thiz = resolve(thiz);
    count_reference(thiz, -1, __builtin_return_address(0));
    return original(thiz).Release(thiz);
}

template <typename I>
void wrap_makers(I *) {}
void wrap_makers(IDirectFB *i);
void wrap_makers(IDirectFBDisplayLayer *i);
void wrap_makers(IDirectFBWindow *i);

// Counts a new interface, or one more reference to one handed out again.
template <typename I>
void track(I *i, const char *kind) {
    {
        std::lock_guard<std::recursive_mutex> lock(g_mutex);
        auto it = g_alive.find(i);
        if (it != g_alive.end()) {
            ++it->second.second;
            return;
        }
        g_alive[i] = {kind, 1};
        g_original[i].assign(reinterpret_cast<const char *>(i),
                             reinterpret_cast<const char *>(i) + sizeof(I));
    }
    i->AddRef = add_ref<I>;
    i->Release = release<I>;
    wrap_makers(i);
}

// clang-format off
#define KIND(I) void track(I *i) { track(i, #I); }
KIND(IDirectFB)
KIND(IDirectFBScreen)
KIND(IDirectFBDisplayLayer)
KIND(IDirectFBWindow)
KIND(IDirectFBSurface)
KIND(IDirectFBEventBuffer)
KIND(IDirectFBFont)
KIND(IDirectFBImageProvider)
// clang-format on

template <typename I>
DFBResult made(DFBResult result, I **made_one) {
    if (result == DFB_OK && made_one != nullptr && *made_one != nullptr) track(*made_one);
    return result;
}

// Every maker the library calls, passed on (from a spy to its real interface) and its product
// counted.
#define WRAP(METHOD, PARAMS, ARGS)               \
    i->METHOD = [] PARAMS {                      \
        t = resolve(t);                          \
        return made(original(t).METHOD ARGS, r); \
    }

void wrap_makers(IDirectFB *i) {
    WRAP(GetScreen, (IDirectFB * t, DFBScreenID id, IDirectFBScreen * *r), (t, id, r));
    WRAP(GetDisplayLayer, (IDirectFB * t, DFBDisplayLayerID id, IDirectFBDisplayLayer * *r),
         (t, id, r));
    WRAP(CreateSurface, (IDirectFB * t, const DFBSurfaceDescription *d, IDirectFBSurface **r),
         (t, d, r));
    WRAP(CreateEventBuffer, (IDirectFB * t, IDirectFBEventBuffer * *r), (t, r));
    WRAP(CreateInputEventBuffer,
         (IDirectFB * t, DFBInputDeviceCapabilities c, DFBBoolean g, IDirectFBEventBuffer * *r),
         (t, c, g, r));
    WRAP(CreateImageProvider, (IDirectFB * t, const char *f, IDirectFBImageProvider **r),
         (t, f, r));
    WRAP(CreateFont, (IDirectFB * t, const char *f, const DFBFontDescription *d, IDirectFBFont **r),
         (t, f, d, r));
}

void wrap_makers(IDirectFBDisplayLayer *i) {
    WRAP(GetSurface, (IDirectFBDisplayLayer * t, IDirectFBSurface * *r), (t, r));
    WRAP(CreateWindow,
         (IDirectFBDisplayLayer * t, const DFBWindowDescription *d, IDirectFBWindow **r),
         (t, d, r));
}

void wrap_makers(IDirectFBWindow *i) {
    WRAP(GetSurface, (IDirectFBWindow * t, IDirectFBSurface * *r), (t, r));
    WRAP(CreateEventBuffer, (IDirectFBWindow * t, IDirectFBEventBuffer * *r), (t, r));
}

using SurfaceSpy = Spy<IDirectFBSurface>;
using WindowSpy = Spy<IDirectFBWindow>;
using LayerSpy = Spy<IDirectFBDisplayLayer>;
using DfbSpy = Spy<IDirectFB>;

bool is_spy(const void *thiz) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    return g_real_of_spy.count(thiz) != 0;
}

IDirectFBSurface *spy_surface(IDirectFBSurface *real, const char *name) {
    SurfaceSpy *s = spy(real, name);
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

}  // namespace

unsigned window_id(IDirectFBWindow *window) {
    DFBWindowID id = 0;
    window = resolve(window);
    return window->GetID(window, &id), id;
}

namespace {

IDirectFBWindow *spy_window(IDirectFBWindow *real) {
    WindowSpy *s = spy(real, "window");
    s->iface.GetSurface = [](IDirectFBWindow *thiz, IDirectFBSurface **ret) {
        DFBResult r =
            note("window GetSurface") ? DFB_FAILURE : KVN_PASS(WindowSpy, thiz, GetSurface, ret);
        return r == DFB_OK ? (*ret = spy_surface(*ret, "surface"), r) : r;
    };
    s->iface.CreateEventBuffer = [](IDirectFBWindow *thiz, IDirectFBEventBuffer **ret) {
        DFBResult r = note("window CreateEventBuffer")
                          ? DFB_FAILURE
                          : KVN_PASS(WindowSpy, thiz, CreateEventBuffer, ret);
        return r == DFB_OK ? (*ret = named(*ret, "events"), r) : r;
    };
    KVN_SPIED(SetOpacity, (IDirectFBWindow * thiz, u8 opacity), (R, opacity), "w%u SetOpacity %u",
              window_id(R), opacity);
    KVN_SPIED(RequestFocus, (IDirectFBWindow * thiz), (R), "w%u RequestFocus", window_id(R));
    KVN_SPIED(RaiseToTop, (IDirectFBWindow * thiz), (R), "w%u RaiseToTop", window_id(R));
    return &s->iface;
}

const char *level_name(DFBDisplayLayerCooperativeLevel level) {
    return level == DLSCL_ADMINISTRATIVE ? "ADMINISTRATIVE"
           : level == DLSCL_EXCLUSIVE    ? "EXCLUSIVE"
                                         : "SHARED";
}

}  // namespace

void fail_dfb_call(const std::string &line_start, int occurrence) {
    g_fail = line_start, g_fail_at = occurrence;
}

bool note_dfb_call(const std::string &line) {
    dfb_calls.push_back(line);
    return !g_fail.empty() && line.rfind(g_fail, 0) == 0 && --g_fail_at == 0;
}

void remember_spy(const void *spy, const void *real) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    g_real_of_spy[spy] = resolve(real);
}

std::string dfb_leftovers() {
    const kvn_dfb_context &c = kvn_dfb_global_context;
    std::set<const void *> held;
    for (const void *p :
         {static_cast<const void *>(c.kvn_dfb), static_cast<const void *>(c.kvn_screen),
          static_cast<const void *>(c.kvn_layer_osd), static_cast<const void *>(c.kvn_surface_osd),
          static_cast<const void *>(c.kvn_layer_background),
          static_cast<const void *>(c.kvn_surface_background_of_layer_background)})
        held.insert(resolve(p));
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    std::map<std::string, int> kinds;
    for (const auto &a : g_alive)
        if (held.count(a.first) == 0) kinds[a.second.first] += 1;
    std::string which;
    for (const auto &k : kinds) which += k.first + " x" + std::to_string(k.second) + " ";
    return which;
}

IDirectFBDisplayLayer *spy_layer(IDirectFBDisplayLayer *real) {
    LayerSpy *s = spy(real);
    KVN_SPIED(SetCooperativeLevel,
              (IDirectFBDisplayLayer * thiz, DFBDisplayLayerCooperativeLevel level), (R, level),
              "SetCooperativeLevel %s", level_name(level));
    KVN_SPIED(SetBackgroundMode, (IDirectFBDisplayLayer * thiz, DFBDisplayLayerBackgroundMode mode),
              (R, mode), "SetBackgroundMode %s",
              mode == DLBM_COLOR      ? "COLOR"
              : mode == DLBM_DONTCARE ? "DONTCARE"
                                      : "other");
    KVN_SPIED(SetBackgroundColor, (IDirectFBDisplayLayer * thiz, u8 r, u8 g, u8 b, u8 a),
              (R, r, g, b, a), "SetBackgroundColor %u %u %u %u", r, g, b, a);
    KVN_SPIED(GetConfiguration, (IDirectFBDisplayLayer * thiz, DFBDisplayLayerConfig * config),
              (R, config), "GetConfiguration");
    KVN_SPIED(SetConfiguration, (IDirectFBDisplayLayer * thiz, const DFBDisplayLayerConfig *config),
              (R, config), "SetConfiguration %dx%d", config->width, config->height);
    s->iface.GetSurface = [](IDirectFBDisplayLayer *thiz, IDirectFBSurface **ret) {
        DFBResult r = note("GetSurface") ? DFB_FAILURE : KVN_PASS(LayerSpy, thiz, GetSurface, ret);
        return r == DFB_OK ? (*ret = spy_surface(*ret, nullptr), r) : r;
    };
    s->iface.CreateWindow = [](IDirectFBDisplayLayer *thiz, const DFBWindowDescription *desc,
                               IDirectFBWindow **ret) {
        DFBResult r =
            note("CreateWindow %d,%d %dx%d", desc->posx, desc->posy, desc->width, desc->height)
                ? DFB_FAILURE
                : KVN_PASS(LayerSpy, thiz, CreateWindow, desc, ret);
        return r == DFB_OK ? (*ret = spy_window(*ret), r) : r;
    };
    return &s->iface;
}

IDirectFB *spy_dfb(IDirectFB *real) {
    if (is_spy(real)) return real;
    DfbSpy *s = spy(real);
    s->iface.GetScreen = [](IDirectFB *thiz, DFBScreenID id, IDirectFBScreen **ret) {
        DFBResult r =
            note("GetScreen %u", id) ? DFB_FAILURE : KVN_PASS(DfbSpy, thiz, GetScreen, id, ret);
        if (r != DFB_OK) return r;
        auto *s = spy(*ret);
        KVN_SPIED(GetSize, (IDirectFBScreen * thiz, int *w, int *h), (R, w, h), "GetSize");
        return *ret = &s->iface, r;
    };
    s->iface.GetDisplayLayer = [](IDirectFB *thiz, DFBDisplayLayerID id,
                                  IDirectFBDisplayLayer **ret) {
        DFBResult r = note("GetDisplayLayer %u", id)
                          ? DFB_FAILURE
                          : KVN_PASS(DfbSpy, thiz, GetDisplayLayer, id, ret);
        return r == DFB_OK ? (*ret = spy_layer(*ret), r) : r;
    };
    s->iface.CreateFont = [](IDirectFB *thiz, const char *path, const DFBFontDescription *desc,
                             IDirectFBFont **ret) {
        DFBResult r = note("CreateFont %s flags %d height %d", path, static_cast<int>(desc->flags),
                           desc->height)
                          ? DFB_FAILURE
                          : KVN_PASS(DfbSpy, thiz, CreateFont, path, desc, ret);
        if (r != DFB_OK) return r;
        auto *s = spy(*ret, "font");
        KVN_SPIED(GetHeight, (IDirectFBFont * thiz, int *height), (R, height), "font GetHeight");
        return *ret = &s->iface, r;
    };
    s->iface.CreateImageProvider = [](IDirectFB *thiz, const char *path,
                                      IDirectFBImageProvider **ret) {
        DFBResult r = KVN_PASS(DfbSpy, thiz, CreateImageProvider, path, ret);
        note("CreateImageProvider %s %s", path, r == DFB_OK ? "ok" : "failed");
        if (r != DFB_OK) return r;
        auto *s = spy(*ret, "provider");
        KVN_SPIED(
            RenderTo,
            (IDirectFBImageProvider * thiz, IDirectFBSurface * to, const DFBRectangle_C *rect),
            (R, resolve(to), rect), "RenderTo %s",
            rect == nullptr ? "whole surface" : "a rectangle");
        return *ret = &s->iface, r;
    };
    return &s->iface;
}

}  // namespace kvn_test

// Taken over from libdirectfb: the library's call lands here first.
extern "C" DFBResult DirectFBCreate(IDirectFB **ret) {
    using Create = DFBResult (*)(IDirectFB **);
    static Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "DirectFBCreate"));
    if (kvn_test::spy_main_interface && kvn_test::note("DirectFBCreate")) return DFB_FAILURE;
    DFBResult r = kvn_test::made(real(ret), ret);
    if (r == DFB_OK && kvn_test::spy_main_interface) *ret = kvn_test::spy_dfb(*ret);
    return r;
}
