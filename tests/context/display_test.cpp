// The display context on real DirectFB (dummy system), seen through spies over the real interfaces
// (every call with its arguments, in order) and read back: start-up, the layers, the guarded-call
// report, clean-up.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include "context_test_util.h"
#include "kvn_test_support.h"
#include "platform/platform.h"

namespace {

bool g_refuse_mknod = false;
std::vector<std::string> g_calls;  // what the spies saw, in order
std::string g_fail;  // a call to fail: the start of its logged line, and which occurrence
int g_fail_at = 1;
bool g_watch_dfb = false;  // DirectFB's entry points as start-up reaches them are spied on too
template <typename Fn>
Fn real(const char *name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

mode_t permissions(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? st.st_mode & 07777 : static_cast<mode_t>(-1);
}
void expect_fifo_descriptors() {
    for (auto [fd, path] : {std::pair{outport_pipe, "/tmp/display"},
                            {kvn_command_pipe, "/tmp/kvn_framework_pipe"},
                            {kvnupnp_key_pipe, "/tmp/kvnupnp_key_pipe"}}) {
        struct stat a, b;
        EXPECT_TRUE(fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_ino == b.st_ino &&
                    a.st_dev == b.st_dev)
            << path;
    }
}

// A spy whose Release notes the interface's name.
std::map<const void *, std::string> g_names;
template <typename Interface>
Interface *released(Interface *real, const char *name) {
    auto *s = ctx_test::keep<ctx_test::Spy<Interface>>(real);
    s->iface.Release = [](Interface *thiz) -> DirectResult {
        g_calls.push_back(g_names[thiz] + " released");
        return ctx_test::Spy<Interface>::of(thiz)->real->Release(
            ctx_test::Spy<Interface>::of(thiz)->real);
    };
    return g_names[s] = name, &s->iface;
}

// A thread's stop routine: notes when it ran, and whether a drawing thread's layer was gone by
// then.
template <int N>
void stop_thread() {
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    DFBDisplayLayerConfig config;
    g_calls.push_back("thread " + std::to_string(N) +
                      (layer->GetConfiguration(layer, &config) == DFB_OK
                           ? " stopped"
                           : " stopped without its layer"));
}

bool is_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

using ctx_test::Spy;
using LayerSpy = Spy<IDirectFBDisplayLayer>;
using DfbSpy = Spy<IDirectFB>;
using SurfaceSpy = Spy<IDirectFBSurface>;

int g_font_height = 0;  // what the real font reports
IDirectFBSurface *g_real_background = nullptr;

// Logs a call; true when it is the one to fail.
template <typename... Args>
bool note(const char *format, Args... args) {
    char line[256];
    snprintf(line, sizeof line, format, args...);
    g_calls.push_back(line);
    return !g_fail.empty() && g_calls.back().rfind(g_fail, 0) == 0 && --g_fail_at == 0;
}

#define PASS(SpyType, thiz, Method, ...) \
    SpyType::of(thiz)->real->Method(SpyType::of(thiz)->real, __VA_ARGS__)
// A method of the spy `s`: logs its line (the format after ARGS), fails when asked to, else calls R
// with ARGS.
#define SPIED(Method, PARAMS, ARGS, ...)                                              \
    s->iface.Method = [] PARAMS {                                                     \
        auto *R = std::remove_pointer_t<decltype(s)>::of(thiz)->real;                 \
        return note(__VA_ARGS__) ? static_cast<decltype(R->Method ARGS)>(DFB_FAILURE) \
                                 : R->Method ARGS;                                    \
    }

SurfaceSpy *surface_spy(IDirectFBSurface *real) {
    SurfaceSpy *s = ctx_test::keep<SurfaceSpy>(real);
    SPIED(SetFont, (IDirectFBSurface * thiz, IDirectFBFont * font), (R, font), "SetFont");
    SPIED(SetColor, (IDirectFBSurface * thiz, u8 r, u8 g, u8 b, u8 a), (R, r, g, b, a),
          "SetColor %02X %02X %02X %02X", r, g, b, a);
    SPIED(DrawString,
          (IDirectFBSurface * thiz, const char *text, int bytes, int x, int y,
           DFBSurfaceTextFlags flags),
          (R, text, bytes, x, y, flags), "DrawString \"%s\" %d %d,%d flags %d", text, bytes, x, y,
          static_cast<int>(flags));
    s->iface.Flip = [](IDirectFBSurface *, const DFBRegion_C *, DFBSurfaceFlipFlags) {
        return note("Flip"), DFB_OK;
    };
    return s;
}

LayerSpy *layer_spy(IDirectFBDisplayLayer *real) {
    LayerSpy *s = ctx_test::keep<LayerSpy>(real);
    SPIED(SetCooperativeLevel,
          (IDirectFBDisplayLayer * thiz, DFBDisplayLayerCooperativeLevel level), (R, level),
          "SetCooperativeLevel %s",
          level == DLSCL_ADMINISTRATIVE ? "ADMINISTRATIVE"
          : level == DLSCL_EXCLUSIVE    ? "EXCLUSIVE"
                                        : "SHARED");
    SPIED(SetBackgroundMode, (IDirectFBDisplayLayer * thiz, DFBDisplayLayerBackgroundMode mode),
          (R, mode), "SetBackgroundMode %s",
          mode == DLBM_COLOR      ? "COLOR"
          : mode == DLBM_DONTCARE ? "DONTCARE"
                                  : "other");
    SPIED(SetBackgroundColor, (IDirectFBDisplayLayer * thiz, u8 r, u8 g, u8 b, u8 a),
          (R, r, g, b, a), "SetBackgroundColor %u %u %u %u", r, g, b, a);
    SPIED(GetConfiguration, (IDirectFBDisplayLayer * thiz, DFBDisplayLayerConfig * config),
          (R, config), "GetConfiguration");
    SPIED(SetConfiguration, (IDirectFBDisplayLayer * thiz, const DFBDisplayLayerConfig *config),
          (R, config), "SetConfiguration %dx%d", config->width, config->height);
    s->iface.GetSurface = [](IDirectFBDisplayLayer *thiz, IDirectFBSurface **ret) {
        DFBResult r =
            note("GetSurface") ? DFB_FAILURE : PASS(LayerSpy, thiz, GetSurface, &g_real_background);
        return r == DFB_OK ? (*ret = &surface_spy(g_real_background)->iface, r) : r;
    };
    return s;
}

IDirectFB *make_dfb_spy() {
    DfbSpy *s = ctx_test::keep<DfbSpy>(kvn_dfb_global_context.kvn_dfb);
    s->iface.GetDisplayLayer = [](IDirectFB *thiz, DFBDisplayLayerID id,
                                  IDirectFBDisplayLayer **ret) {
        IDirectFBDisplayLayer *real = nullptr;
        DFBResult r = note("GetDisplayLayer %u", id)
                          ? DFB_FAILURE
                          : PASS(DfbSpy, thiz, GetDisplayLayer, id, &real);
        return r == DFB_OK ? (*ret = &layer_spy(real)->iface, r) : r;
    };
    s->iface.CreateFont = [](IDirectFB *thiz, const char *path, const DFBFontDescription *desc,
                             IDirectFBFont **ret) {
        IDirectFBFont *real = nullptr;
        DFBResult r = note("CreateFont %s flags %d height %d", path, static_cast<int>(desc->flags),
                           desc->height)
                          ? DFB_FAILURE
                          : PASS(DfbSpy, thiz, CreateFont, path, desc, &real);
        if (r != DFB_OK) return r;
        real->GetHeight(real, &g_font_height);
        auto *s = ctx_test::keep<Spy<IDirectFBFont>>(real);
        SPIED(GetHeight, (IDirectFBFont * thiz, int *height), (R, height), "Font GetHeight");
        SPIED(Release, (IDirectFBFont * thiz), (R), "Font Release");
        return *ret = &s->iface, r;
    };
    s->iface.CreateImageProvider = [](IDirectFB *thiz, const char *path,
                                      IDirectFBImageProvider **ret) {
        IDirectFBImageProvider *real = nullptr;
        DFBResult r = PASS(DfbSpy, thiz, CreateImageProvider, path, &real);
        note("CreateImageProvider %s %s", path, r == DFB_OK ? "ok" : "failed");
        if (r != DFB_OK) return r;
        auto *s = ctx_test::keep<Spy<IDirectFBImageProvider>>(real);
        SPIED(RenderTo,
              (IDirectFBImageProvider * thiz, IDirectFBSurface * to, const DFBRectangle_C *rect),
              (R, SurfaceSpy::of(to)->real, rect), "RenderTo %s",
              rect == nullptr ? "whole surface" : "a rectangle");
        SPIED(Release, (IDirectFBImageProvider * thiz), (R), "Provider Release");
        return *ret = &s->iface, r;
    };
    return &s->iface;
}

// A screen whose mixer 0 works (the dummy system has none).
DFBDisplayLayerIDs g_mixer_layers = 0;
void give_screen_a_mixer(DFBDisplayLayerIDs initial_layers) {
    g_mixer_layers = initial_layers;
    auto *s = ctx_test::keep<Spy<IDirectFBScreen>>(kvn_dfb_global_context.kvn_screen);
    s->iface.GetMixerConfiguration = [](IDirectFBScreen *, int mixer,
                                        DFBScreenMixerConfig *config) {
        config->flags = static_cast<DFBScreenMixerConfigFlags>(DSMCONF_TREE | DSMCONF_LAYERS |
                                                               DSMCONF_BACKGROUND),
        config->layers = g_mixer_layers;
        return note("GetMixerConfiguration %d", mixer) ? DFB_FAILURE : DFB_OK;
    };
    s->iface.SetMixerConfiguration = [](IDirectFBScreen *, int mixer,
                                        const DFBScreenMixerConfig *config) {
        return note("SetMixerConfiguration %d flags %d layers 0x%X", mixer,
                    static_cast<int>(config->flags), static_cast<unsigned>(config->layers))
                   ? DFB_FAILURE
                   : DFB_OK;
    };
    kvn_dfb_global_context.kvn_screen = &s->iface;
}

int background_init(IDirectFB *dfb) {
    kvn_dfb_context &c = kvn_dfb_global_context;
    return kvn_layer_background_init(dfb, &c.kvn_layer_background, &c.kvn_layer_background_config,
                                     &c.kvn_surface_background_of_layer_background);
}

// The whole background set-up at a layer height, with or without a backdrop: the calls in order.
void check_background(int layer_height, int font_height, bool backdrop) {
    KVN_REQUIRE_SANDBOX();
    const unsigned colour = 0x2040a0;
    if (backdrop) kvn_test::write_png("/desktop.png", 64, 48, colour);
    ctx_test::init_display({"--dfb:mode=" + std::to_string(layer_height * 16 / 9) + "x" +
                            std::to_string(layer_height)}),
        ctx_test::init_osd_layer();
    give_screen_a_mixer(0x6);
    ASSERT_EQ(0, background_init(make_dfb_spy()));
    const int fh = g_font_height;
    ASSERT_GT(fh, 0);
    auto draw = [&](const char *text, int y) {
        return "DrawString \"" + std::string(text) + "\" -1 150," + std::to_string(y) + " flags " +
               std::to_string(DSTF_TOPLEFT);
    };
    std::vector<std::string> expected = {
        "GetMixerConfiguration 0",
        "SetMixerConfiguration 0 flags " + std::to_string(DSMCONF_LAYERS) +
            " layers 0x7",  // primary added
        "GetDisplayLayer 0",
        "SetCooperativeLevel ADMINISTRATIVE",
        "SetCooperativeLevel EXCLUSIVE",
        "GetSurface",
        "GetConfiguration",
        "CreateFont /opt/kvn/share/fonts/decker.ttf flags " + std::to_string(DFDESC_HEIGHT) +
            " height " + std::to_string(font_height),
        "Font GetHeight",
        std::string("CreateImageProvider /desktop.png ") + (backdrop ? "ok" : "failed")};
    if (backdrop) expected.insert(expected.end(), {"RenderTo whole surface", "Provider Release"});
    expected.insert(
        expected.end(),
        {"SetFont", "SetColor CF CF FF FF",
         draw("Press the s/S/BLUE key to switch focus between window.", 20), "SetColor CF DF CF FF",
         draw("Press LEFT/RIGHT/UP/DOWN cursor key to move the window.", fh + 20),
         "SetColor CF FF 6F FF", draw("Press ESC/STOP/POWER key to exit.", 2 * fh + 20),
         "Font Release"});
    EXPECT_EQ(expected, g_calls) << "and never a Flip";
    EXPECT_EQ(layer_height, kvn_dfb_global_context.kvn_layer_background_config.height);
    if (!backdrop) return;
    // The backdrop (64x48) reached the whole surface.
    IDirectFBSurface *bg = g_real_background;
    void *data = nullptr;
    int pitch = 0;
    ASSERT_EQ(DFB_OK, bg->Lock(bg, DSLF_READ, &data, &pitch));
    EXPECT_EQ(colour & 0xf0f0f0, *reinterpret_cast<const uint32_t *>(static_cast<char *>(data) +
                                                                     (layer_height - 1) * pitch) &
                                     0xf0f0f0);
    bg->Unlock(bg);
}

// The background hook's calls: how many, and the last one's arguments.
struct {
    int count;
    IDirectFB *dfb;
    IDirectFBDisplayLayer *layer;
    DFBDisplayLayerConfig *config;
    void *data;
} g_hook{};
int recording_hook(IDirectFB *dfb, IDirectFBDisplayLayer *layer, DFBDisplayLayerConfig *config,
                   void *data) {
    g_hook = {g_hook.count + 1, dfb, layer, config, data};
    return 12345;  // ignored
}

}  // namespace

// A file system on which FIFOs cannot be made (the executable's mknod comes before the C
// library's).
extern "C" int mknod(const char *path, mode_t mode, dev_t dev) {
    if (g_refuse_mknod) return errno = EPERM, -1;
    return static_cast<int>(syscall(SYS_mknodat, AT_FDCWD, path, mode, dev));
}

extern "C" DFBResult DirectFBInit(int *argc, char *(*argv[])) {
    if (g_watch_dfb && note("DirectFBInit %d %s", *argc, (*argv)[0])) return DFB_FAILURE;
    return real<DFBResult (*)(int *, char *(*[]))>("DirectFBInit")(argc, argv);
}

extern "C" DFBResult DirectFBCreate(IDirectFB **ret) {
    DFBResult r = g_watch_dfb && note("DirectFBCreate")
                      ? DFB_FAILURE
                      : real<DFBResult (*)(IDirectFB **)>("DirectFBCreate")(ret);
    if (r != DFB_OK || !g_watch_dfb) return r;
    DfbSpy *s = ctx_test::keep<DfbSpy>(*ret);
    s->iface.GetScreen = [](IDirectFB *thiz, DFBScreenID id, IDirectFBScreen **screen) {
        DFBResult r =
            note("GetScreen %u", id) ? DFB_FAILURE : PASS(DfbSpy, thiz, GetScreen, id, screen);
        if (r != DFB_OK) return r;
        auto *s = ctx_test::keep<Spy<IDirectFBScreen>>(*screen);
        SPIED(GetSize, (IDirectFBScreen * thiz, int *w, int *h), (R, w, h), "GetSize");
        return *screen = &s->iface, r;
    };
    return *ret = &s->iface, r;
}

TEST(Startup, CreatesTheThreeFifosAndOpensThemForReading) {
    KVN_REQUIRE_SANDBOX();
    EXPECT_EQ((std::vector<int>{0, 0, 0}),
              (std::vector<int>{kvn_global_state, thread_qty, kvn_get_standby_mode()}))
        << "as loaded";
    // The two counters are reset under kvn_mutex_state, and only there.
    kvn_global_state = 7, thread_qty = 3, pthread_mutex_lock(&kvn_mutex_state);
    g_watch_dfb = true,
    umask(0);  // under a zero umask the permission bits are the ones start-up asks for
    std::thread start([] { ctx_test::init_display(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(kvn_global_state, 7) << "reset without the lock";
    pthread_mutex_unlock(&kvn_mutex_state), start.join(), umask(022);
    EXPECT_EQ(0, pthread_mutex_trylock(&kvn_mutex_state)) << "left locked";
    pthread_mutex_unlock(&kvn_mutex_state);
    ASSERT_TRUE(kvn_dfb_global_context.kvn_dfb != nullptr &&
                kvn_dfb_global_context.kvn_screen != nullptr);
    EXPECT_EQ((std::vector<std::string>{"DirectFBInit 1 kvn-context-test", "DirectFBCreate",
                                        "GetScreen 0", "GetSize"}),
              g_calls);
    EXPECT_EQ((std::vector<int>{0, 0}), (std::vector<int>{kvn_global_state, thread_qty}));
    expect_fifo_descriptors();
    const struct {
        const char *path;
        int fd;
        mode_t permissions;
    } fifos[] = {{"/tmp/display", outport_pipe, 0666},
                 {"/tmp/kvn_framework_pipe", kvn_command_pipe, 0644},
                 {"/tmp/kvnupnp_key_pipe", kvnupnp_key_pipe, 0644}};
    for (const auto &f : fifos) {
        struct stat st;
        EXPECT_TRUE(stat(f.path, &st) == 0 && S_ISFIFO(st.st_mode)) << f.path;
        EXPECT_EQ(permissions(f.path), f.permissions) << f.path;
        EXPECT_EQ(O_RDONLY | O_NONBLOCK, fcntl(f.fd, F_GETFL) & (O_ACCMODE | O_NONBLOCK)) << f.path;
    }
}

TEST(Startup, ExistingFifosAreReusedAndWithoutFifoSupportTheDisplayPathBecomesAPlainFile) {
    KVN_REQUIRE_SANDBOX();
    for (const char *path : {"/tmp/kvn_framework_pipe", "/tmp/kvnupnp_key_pipe"})
        ASSERT_EQ(mkfifo(path, 0600), 0);
    struct stat before, after, st;
    ASSERT_EQ(stat("/tmp/kvn_framework_pipe", &before), 0);
    g_refuse_mknod = true, umask(0);
    EXPECT_EQ(0, ctx_test::init_display());
    g_refuse_mknod = false, umask(022);
    ASSERT_EQ(stat("/tmp/kvn_framework_pipe", &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "not replaced";
    EXPECT_EQ(
        (std::vector<mode_t>{0600, 0600, 0700}),
        (std::vector<mode_t>{permissions("/tmp/kvn_framework_pipe"),
                             permissions("/tmp/kvnupnp_key_pipe"), permissions("/tmp/display")}));
    EXPECT_TRUE(stat("/tmp/display", &st) == 0 && S_ISREG(st.st_mode));
    expect_fifo_descriptors();
}

TEST(VirtualScreen, OnlyTheAutomaticModeWithANamedOutputForces1280x720) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/tvmode",
                         "0\n");  // present, so the OSD set-up does not write the key
    ctx_test::init_display({"--dfb:mode=800x600"}), ctx_test::init_osd_layer();
    ASSERT_EQ("<null>", kvn_test::stored("video_output"));
    DFBDisplayLayerConfig &config = kvn_dfb_global_context.kvn_layer_osd_config;
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    const DFBSurfacePixelFormat format = config.pixelformat;
    const int before_fds =
        (write_var("tv_system", "PAL", 0),
         ctx_test::open_descriptor_count());  // the store's files open from here on
    // Automatic (text without digits reads as 0) with any name forces the size; nothing named yet
    // does not.
    const struct {
        const char *video_output, *tvname;
        int width, height;
    } cases[] = {{nullptr, "720p60\n", 800, 600}, {"5", "720p60\n", 800, 600},
                 {"1", "720p60\n", 800, 600},     {"9", "720p60\n", 800, 600},
                 {"0", nullptr, 800, 600},        {"0", "1080i50\n", 1280, 720},
                 {"a", "720p60\n", 1280, 720}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.video_output ? c.video_output : "no mode") + ", " +
                     (c.tvname ? c.tvname : "no name"));
        if (c.video_output) write_var("video_output", c.video_output, 0);
        c.tvname ? kvn_test::write_file("/tmp/tvname", c.tvname)
                 : kvn_test::remove_file("/tmp/tvname");
        DFBDisplayLayerConfig real;
        config.width = 800, config.height = 600;
        ASSERT_EQ(DFB_OK, layer->SetConfiguration(layer, &config));
        kvn_confirm_virtual_screensize();
        ASSERT_EQ(layer->GetConfiguration(layer, &real), DFB_OK);
        EXPECT_EQ((std::vector<int>{c.width, c.height, c.width, c.height}),
                  (std::vector<int>{real.width, real.height, config.width, config.height}));
    }
    EXPECT_TRUE(config.flags == (DLCONF_WIDTH | DLCONF_HEIGHT) && config.pixelformat == format)
        << "the other members kept";
    EXPECT_EQ(ctx_test::open_descriptor_count(), before_fds);
    write_var("video_output", "5", 0),
        kvn_confirm_virtual_screensize();  // the stored value's copy is freed on every call
    size_t heap = kvn_test::heap_in_use();
    for (int i = 0; i < 300; ++i) kvn_confirm_virtual_screensize();
    EXPECT_LT(kvn_test::heap_in_use(), heap + 1000);
}

TEST(CleanUp, StopsThreadsBeforeReleasingLayersScreenAndMainInterfaceInReverseOrder) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display({"--dfb:mode=640x480"}), ctx_test::init_osd_layer();
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFB *dfb = c.kvn_dfb;
    IDirectFBSurface *osd_surface = nullptr, *bg_surface = nullptr;
    IDirectFBDisplayLayer *bg_layer = nullptr;
    DFBSurfaceDescription desc{};
    desc.flags = static_cast<DFBSurfaceDescriptionFlags>(DSDESC_WIDTH | DSDESC_HEIGHT),
    desc.width = desc.height = 16;
    ASSERT_TRUE(dfb->CreateSurface(dfb, &desc, &osd_surface) == DFB_OK &&
                dfb->CreateSurface(dfb, &desc, &bg_surface) == DFB_OK &&
                dfb->GetDisplayLayer(dfb, VENDOR_LAYER_BKGND, &bg_layer) == DFB_OK);
    IDirectFBDisplayLayer *osd_layer = c.kvn_layer_osd = released(c.kvn_layer_osd, "osd layer");
    c.kvn_surface_osd = released(osd_surface, "osd surface"),
    c.kvn_layer_background = released(bg_layer, "background layer");
    c.kvn_surface_background_of_layer_background = released(bg_surface, "background surface");
    c.kvn_screen = released(c.kvn_screen, "screen"),
    c.kvn_dfb = released(c.kvn_dfb, "main interface");
    kvn_thread threads[3] = {
        {1, stop_thread<1>, nullptr}, {2, nullptr, nullptr}, {3, stop_thread<2>, nullptr}};
    for (kvn_thread &t : threads) ASSERT_EQ(register_thread(&t), 0);
    const int outport = outport_pipe, command = kvn_command_pipe, key = kvnupnp_key_pipe;
    ASSERT_FALSE(is_closed(command) || is_closed(key));
    EXPECT_EQ(kvn_clean_up(), 0);
    EXPECT_EQ(g_calls,
              (std::vector<std::string>{"thread 1 stopped", "thread 2 stopped",
                                        "osd surface released", "osd layer released",
                                        "background surface released", "background layer released",
                                        "screen released", "main interface released"}));
    EXPECT_TRUE(kvn_threads_head == nullptr && kvn_threads_end == nullptr && c.kvn_dfb == nullptr &&
                c.kvn_screen == nullptr && c.kvn_layer_osd == osd_layer)
        << "the layers released, not cleared";
    EXPECT_TRUE(is_closed(command) && is_closed(key) && !is_closed(outport))
        << "the mode pipe stays open";
}

TEST(HostileStart, LayerCallsBeforeStartUpFailWithAMessageAndCleanUpWithoutLayersStillReleases) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "0", 0), kvn_test::write_file("/tmp/tvname", "1080i59\n");
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFBDisplayLayer *layer = nullptr;
    IDirectFBSurface *surface = nullptr;
    testing::internal::CaptureStderr();
    kvn_confirm_virtual_screensize();
    EXPECT_EQ(
        -1, kvn_layer_background_init(c.kvn_dfb, &layer, &c.kvn_layer_background_config, &surface));
    EXPECT_TRUE(ctx_test::has(testing::internal::GetCapturedStderr(),
                              {"kvn_confirm_virtual_screensize", "kvn_layer_background_init"}));
    ctx_test::init_display();
    c.kvn_screen = released(c.kvn_screen, "screen"),
    c.kvn_dfb = released(c.kvn_dfb, "main interface");
    const int outport = outport_pipe;
    EXPECT_EQ(kvn_clean_up(), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"screen released", "main interface released"}));
    EXPECT_TRUE(c.kvn_dfb == nullptr && c.kvn_screen == nullptr && c.kvn_layer_osd == nullptr &&
                !is_closed(outport));
}

TEST(HostileStart, PlantedPipePathsAreNotFollowedAndAreReportedOnce) {
    KVN_REQUIRE_SANDBOX();
    ASSERT_EQ(0, mkdir("/tmp/display", 0777) |
                     symlink("/opt/created-through-a-link", "/tmp/kvn_framework_pipe"));
    kvn_test::write_file("/tmp/kvnupnp_key_pipe", "");
    testing::internal::CaptureStderr();
    kvn_test::start_display();
    EXPECT_TRUE(
        ctx_test::has(testing::internal::GetCapturedStderr(),
                      {"kvn_dfb_init: cannot open /tmp/display: ", "/tmp/kvn_framework_pipe",
                       "/tmp/kvnupnp_key_pipe is not a FIFO; no keys will arrive"}));
    EXPECT_EQ(-1, outport_pipe);
    EXPECT_FALSE(kvn_test::exists("/opt/created-through-a-link"));
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) check_tvmode_fifo();
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "said once, at start-up";
    ASSERT_GE(kvnupnp_key_pipe,
              0);  // no program the application starts inherits the pipe it did open
    EXPECT_TRUE(fcntl(kvnupnp_key_pipe, F_GETFD) & FD_CLOEXEC);
    kvn_set_time_divisor(0);
    EXPECT_EQ(1u, kvn_get_time_divisor()) << "a divisor of 0 is taken as 1";
}

TEST(
    OsdLayer,
    FirstSetUpTakesThePrimaryLayerAndLaterOnesReuseItWithTheHookOrTheDefaultBackgroundAndTheBackgroundRefusesBadArguments) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "5", 0);
    ctx_test::init_display();
    IDirectFB *dfb = make_dfb_spy();
    IDirectFBDisplayLayer *layer = nullptr;
    DFBDisplayLayerConfig config{};
    EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, nullptr, nullptr), 0);
    EXPECT_EQ(g_calls,
              (std::vector<std::string>{"GetDisplayLayer 0", "SetCooperativeLevel ADMINISTRATIVE",
                                        "SetBackgroundMode DONTCARE", "GetConfiguration",
                                        "SetBackgroundColor 0 0 0 0", "SetBackgroundMode COLOR"}));
    ASSERT_NE(layer, nullptr);
    DFBDisplayLayerConfig real{};
    ASSERT_EQ(PASS(LayerSpy, layer, GetConfiguration, &real), DFB_OK);
    EXPECT_TRUE(config.width == real.width && config.height == real.height && real.height > 0);
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "5\n") << "the stored mode seeds the mode file";
    // Again: the layer is reused; only a hook with its data replaces the default background.
    IDirectFBDisplayLayer *given = layer;
    int payload = 42;
    void *data = &payload;
    g_calls.clear();
    EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, &data, recording_hook), 0);
    EXPECT_EQ(g_calls, std::vector<std::string>{"GetConfiguration"});
    EXPECT_TRUE(layer == given && g_hook.count == 1 && g_hook.dfb == dfb && g_hook.layer == given &&
                g_hook.config == &config && g_hook.data == &payload);
    for (int i = 0; i < 2; ++i) {
        g_calls.clear();
        EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, i == 0 ? nullptr : &data,
                                     i == 0 ? recording_hook : nullptr),
                  0);
        EXPECT_EQ(g_calls,
                  (std::vector<std::string>{"GetConfiguration", "SetBackgroundColor 0 0 0 0",
                                            "SetBackgroundMode COLOR"}));
    }
    EXPECT_EQ(g_hook.count, 1);
    // The background refuses a null surface address or a second set-up, without touching the mixer.
    g_calls.clear();
    give_screen_a_mixer(0);
    kvn_dfb_context &c = kvn_dfb_global_context;
    EXPECT_EQ(kvn_layer_background_init(c.kvn_dfb, &c.kvn_layer_background,
                                        &c.kvn_layer_background_config, nullptr),
              -1);
    EXPECT_EQ(c.kvn_layer_background, nullptr);
    IDirectFBSurface *surface = nullptr;
    EXPECT_EQ(
        kvn_layer_background_init(c.kvn_dfb, nullptr, &c.kvn_layer_background_config, &surface) +
            kvn_layer_background_init(c.kvn_dfb, &c.kvn_layer_background, nullptr, &surface),
        -2);
    IDirectFBDisplayLayer *already = nullptr;
    ASSERT_EQ(c.kvn_dfb->GetDisplayLayer(c.kvn_dfb, VENDOR_LAYER_BKGND, &already), DFB_OK);
    EXPECT_EQ(
        kvn_layer_background_init(c.kvn_dfb, &already, &c.kvn_layer_background_config, &surface),
        -1);
    EXPECT_EQ(surface, nullptr);
    EXPECT_TRUE(g_calls.empty());
}

// The font is a fiftieth of the layer height: 14 at 720 lines, 21 at 1080.
TEST(Background, At720LinesPaintsTheBackdropAndThreeHelpLinesAFontHeightApart) {
    check_background(720, 14, true);
}
TEST(Background, At1080LinesWithoutABackdropTheHelpLinesAreStillDrawn) {
    check_background(1080, 21, false);
}

// Both layers, the mixer and the virtual screen set up, with a backdrop.
void set_up_everything() {
    kvn_test::write_png("/desktop.png", 8, 8, 0);
    ctx_test::init_display({"--dfb:mode=1280x720"});
    give_screen_a_mixer(0);
    IDirectFB *dfb = make_dfb_spy();
    kvn_layer_osd_init(dfb, &kvn_dfb_global_context.kvn_layer_osd,
                       &kvn_dfb_global_context.kvn_layer_osd_config, nullptr, nullptr);
    background_init(dfb);
    write_var("video_output", "0", 0), kvn_test::write_file("/tmp/tvname", "720p60\n");
    kvn_confirm_virtual_screensize();
}

// Every guarded call ends the process with the report naming this module and quoting the call as
// written.
TEST(GuardDeathTest, EachFailingCallIsReportedWithItsOwnText) {
    KVN_REQUIRE_SANDBOX();
    GTEST_FLAG_SET(death_test_style, "fast");  // DirectFB starts in the child only
    const std::string osd = "(*kvn_layer_osd)->", bg = "(*kvn_layer_background)->",
                      s = "(*kvn_surface_background_of_layer_background)",
                      ctx = "(kvn_dfb_global_context.", draw = ", -1, 150, ",
                      flags = ", DSTF_LEFT | DSTF_TOP )";
    const struct {
        const char *call;
        int occurrence;
        std::string text;
    } rows[] = {
        {"DirectFBInit", 1, "DirectFBInit( argc, argv )"},
        {"DirectFBCreate", 1, "DirectFBCreate( dfb )"},
        {"GetScreen", 1, "(*dfb)->GetScreen((*dfb), 0, screen)"},
        {"GetSize", 1, "(*screen)->GetSize((*screen), &width, &height)"},
        {"CreateFont", 1, "kvn_dfb->CreateFont(kvn_dfb, FONT, &font_desc, &font)"},
        {"GetDisplayLayer", 1, "kvn_dfb->GetDisplayLayer(kvn_dfb, DLID_PRIMARY, kvn_layer_osd)"},
        {"SetCooperativeLevel ADMIN", 1,
         osd + "SetCooperativeLevel((*kvn_layer_osd), DLSCL_ADMINISTRATIVE)"},
        {"SetBackgroundMode DONTCARE", 1,
         osd + "SetBackgroundMode((*kvn_layer_osd), DLBM_DONTCARE)"},
        {"GetConfiguration", 1, osd + "GetConfiguration( *kvn_layer_osd, kvn_layer_osd_config )"},
        {"SetBackgroundColor", 1, osd + "SetBackgroundColor( (*kvn_layer_osd), 0, 0, 0, 0 )"},
        {"SetBackgroundMode COLOR", 1, osd + "SetBackgroundMode( (*kvn_layer_osd), DLBM_COLOR )"},
        {"GetMixerConfiguration", 1,
         ctx + "kvn_screen)->GetMixerConfiguration(" + ctx + "kvn_screen), 0, &mixcfg)"},
        {"SetMixerConfiguration", 1,
         ctx + "kvn_screen)->SetMixerConfiguration(" + ctx + "kvn_screen), 0, &mixcfg)"},
        {"GetDisplayLayer", 2,
         "kvn_dfb->GetDisplayLayer( kvn_dfb, VENDOR_LAYER_BKGND, kvn_layer_background )"},
        {"SetCooperativeLevel ADMIN", 2,
         bg + "SetCooperativeLevel( *kvn_layer_background, DLSCL_ADMINISTRATIVE )"},
        {"SetCooperativeLevel EXCL", 1,
         bg + "SetCooperativeLevel( *kvn_layer_background, DLSCL_EXCLUSIVE )"},
        {"GetSurface", 1,
         bg + "GetSurface((*kvn_layer_background), kvn_surface_background_of_layer_background)"},
        {"GetConfiguration", 2,
         bg + "GetConfiguration( *kvn_layer_background, kvn_layer_background_config )"},
        {"Font GetHeight", 1, "font->GetHeight(font, &font_height)"},
        {"Provider Release", 1, "provider->Release( provider )"},
        {"SetFont", 1, s + "->SetFont( " + s + ", font )"},
        {"SetColor", 1, s + "->SetColor( " + s + ", 0xCF, 0xCF, 0xFF, 0xFF )"},
        {"DrawString", 1,
         s + "->DrawString( " + s + ", \"Press the s/S/BLUE key to switch focus between window.\"" +
             draw + "20" + flags},
        {"SetColor", 2, s + "->SetColor( " + s + ", 0xCF, 0xDF, 0xCF, 0xFF )"},
        {"DrawString", 2,
         s + "->DrawString( " + s +
             ", \"Press LEFT/RIGHT/UP/DOWN cursor key to move the window.\"" + draw +
             "font_height+20" + flags},
        {"SetColor", 3, s + "->SetColor( " + s + ", 0xCF, 0xFF, 0x6F, 0xFF )"},
        {"DrawString", 3,
         s + "->DrawString( " + s + ", \"Press ESC/STOP/POWER key to exit.\"" + draw +
             "(font_height * 2) + 20" + flags},
        {"SetConfiguration", 1,
         ctx + "kvn_layer_osd)->SetConfiguration(" + ctx +
             "kvn_layer_osd), &(kvn_dfb_global_context.kvn_layer_osd_config))"},
    };
    for (const auto &row : rows) {
        EXPECT_EXIT(
            {
                g_watch_dfb = true;
                g_fail = row.call;
                g_fail_at = row.occurrence;
                set_up_everything();
                exit(0);
            },
            [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); },
            ctx_test::guard_report(row.text));
    }
}
