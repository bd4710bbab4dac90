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
#include <thread>

#include "kvn_dfb_kit.h"
#include "kvn_test_support.h"
#include "platform/imports.h"

namespace {

using kvn_test::dfb_calls;
using kvn_test::note;

// kvn_dfb_init on the global context, with extra DirectFB options such as "--dfb:mode=800x600".
int init_display(std::vector<std::string> options = {}) {
    static std::vector<std::string> args;
    static std::vector<char *> argv;
    args.assign(1, "kvn-context-test"), args.insert(args.end(), options.begin(), options.end());
    argv.clear();
    for (auto &s : args) argv.push_back(&s[0]);
    int argc = static_cast<int>(args.size());
    char **argv_p = (argv.push_back(nullptr), argv.data());
    return kvn_dfb_init(&argc, &argv_p, &kvn_dfb_global_context.kvn_dfb,
                        &kvn_dfb_global_context.kvn_screen);
}
void init_osd_layer() {
    kvn_dfb_context &c = kvn_dfb_global_context;
    kvn_layer_osd_init(c.kvn_dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr);
}

// The guarded-call report for a failing call: this module, the line, then DirectFB's report quoting
// the text.
std::string guard_report(const std::string &text) {
    std::string pattern = "korvan_framework_lib <[0-9]+>:\n\t.*DirectFBError \\[";
    for (char c : text)
        pattern += std::string(strchr("()*&|.[]{}+?^$\\", c) != nullptr ? "\\" : "") + c;
    return pattern + "\\]";
}

bool g_refuse_mknod = false;
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

// A thread's stop routine: notes when it ran, and whether a drawing thread's layer was gone by
// then.
template <int N>
void stop_thread() {
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    DFBDisplayLayerConfig config;
    dfb_calls.push_back("thread " + std::to_string(N) +
                        (layer->GetConfiguration(layer, &config) == DFB_OK
                             ? " stopped"
                             : " stopped without its layer"));
}

bool is_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

// A screen whose mixer 0 works (the dummy system has none).
DFBDisplayLayerIDs g_mixer_layers = 0;
void give_screen_a_mixer(DFBDisplayLayerIDs initial_layers) {
    g_mixer_layers = initial_layers;
    auto *s = kvn_test::spy(kvn_dfb_global_context.kvn_screen);
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
    init_display({"--dfb:mode=" + std::to_string(layer_height * 16 / 9) + "x" +
                  std::to_string(layer_height)}),
        init_osd_layer();
    give_screen_a_mixer(0x6);
    IDirectFB *dfb = kvn_dfb_global_context.kvn_dfb;
    ASSERT_EQ(0, background_init(kvn_test::spy_dfb(dfb)));
    int fh = 0;  // what the real font reports
    DFBFontDescription font{};
    font.flags = DFDESC_HEIGHT, font.height = font_height;
    IDirectFBFont *f = nullptr;
    ASSERT_EQ(DFB_OK, dfb->CreateFont(dfb, "/opt/kvn/share/fonts/decker.ttf", &font, &f));
    f->GetHeight(f, &fh), f->Release(f);
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
        "font GetHeight",
        std::string("CreateImageProvider /desktop.png ") + (backdrop ? "ok" : "failed")};
    if (backdrop) expected.insert(expected.end(), {"RenderTo whole surface", "provider released"});
    expected.insert(
        expected.end(),
        {"SetFont", "SetColor CF CF FF FF",
         draw("Press the s/S/BLUE key to switch focus between window.", 20), "SetColor CF DF CF FF",
         draw("Press LEFT/RIGHT/UP/DOWN cursor key to move the window.", fh + 20),
         "SetColor CF FF 6F FF", draw("Press ESC/STOP/POWER key to exit.", 2 * fh + 20),
         "font released"});
    EXPECT_EQ(expected, dfb_calls) << "and never a Flip";
    EXPECT_EQ(layer_height, kvn_dfb_global_context.kvn_layer_background_config.height);
    IDirectFBSurface *bg = kvn_test::Spy<IDirectFBSurface>::of(
                               kvn_dfb_global_context.kvn_surface_background_of_layer_background)
                               ->real;
    void *data = nullptr;
    int pitch = 0;
    ASSERT_EQ(DFB_OK, bg->Lock(bg, DSLF_READ, &data, &pitch));
    if (backdrop) {  // the backdrop (64x48) reached the whole surface
        EXPECT_EQ(colour & 0xf0f0f0, *reinterpret_cast<const uint32_t *>(
                                         static_cast<char *>(data) + (layer_height - 1) * pitch) &
                                         0xf0f0f0);
    }
    bg->Unlock(bg);
    kvn_clean_up();  // the surface holds the font it wrote with until then
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
    if (kvn_test::spy_main_interface && note("DirectFBInit %d %s", *argc, (*argv)[0]))
        return DFB_FAILURE;
    return real<DFBResult (*)(int *, char *(*[]))>("DirectFBInit")(argc, argv);
}

using Startup = kvn_test::DirectFBTest;
using VirtualScreen = kvn_test::DirectFBTest;
using CleanUp = kvn_test::DirectFBTest;
using OsdLayer = kvn_test::DirectFBTest;
using Background = kvn_test::DirectFBTest;

TEST_F(Startup, ResetsTheCountersOnlyUnderTheStateLock) {
    KVN_REQUIRE_SANDBOX();
    EXPECT_EQ((std::vector<int>{0, 0, 0}),
              (std::vector<int>{kvn_global_state, thread_qty, kvn_get_standby_mode()}))
        << "as loaded";
    kvn_global_state = 7, thread_qty = 3, pthread_mutex_lock(&kvn_mutex_state);
    std::thread start([] { init_display(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(kvn_global_state, 7) << "reset without the lock";
    pthread_mutex_unlock(&kvn_mutex_state), start.join();
    EXPECT_EQ(0, pthread_mutex_trylock(&kvn_mutex_state)) << "left locked";
    pthread_mutex_unlock(&kvn_mutex_state);
    EXPECT_EQ((std::vector<int>{0, 0}), (std::vector<int>{kvn_global_state, thread_qty}));
}

TEST_F(Startup, StartsDirectFBThenTakesTheScreenAndItsSize) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::spy_main_interface = true;
    EXPECT_EQ(0, init_display());
    ASSERT_TRUE(kvn_dfb_global_context.kvn_dfb != nullptr &&
                kvn_dfb_global_context.kvn_screen != nullptr);
    EXPECT_EQ((std::vector<std::string>{"DirectFBInit 1 kvn-context-test", "DirectFBCreate",
                                        "GetScreen 0", "GetSize"}),
              dfb_calls);
}

TEST_F(Startup, CreatesTheThreeFifosAndOpensThemForReading) {
    KVN_REQUIRE_SANDBOX();
    umask(0);  // under a zero umask the permission bits are the ones start-up asks for
    init_display();
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

TEST_F(Startup, ExistingFifosAreReusedAsTheyAre) {
    KVN_REQUIRE_SANDBOX();
    for (const char *path : {"/tmp/kvn_framework_pipe", "/tmp/kvnupnp_key_pipe"})
        ASSERT_EQ(mkfifo(path, 0600), 0);
    struct stat before, after;
    ASSERT_EQ(stat("/tmp/kvn_framework_pipe", &before), 0);
    umask(0);
    EXPECT_EQ(0, init_display());
    ASSERT_EQ(stat("/tmp/kvn_framework_pipe", &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "not replaced";
    EXPECT_EQ((std::vector<mode_t>{0600, 0600}),
              (std::vector<mode_t>{permissions("/tmp/kvn_framework_pipe"),
                                   permissions("/tmp/kvnupnp_key_pipe")}));
    expect_fifo_descriptors();
}

TEST_F(Startup, WithoutFifoSupportTheDisplayPathBecomesAPlainFile) {
    KVN_REQUIRE_SANDBOX();
    g_refuse_mknod = true, umask(0);
    EXPECT_EQ(0, init_display());
    struct stat st;
    EXPECT_TRUE(stat("/tmp/display", &st) == 0 && S_ISREG(st.st_mode));
    EXPECT_EQ(0700, permissions("/tmp/display"));
    expect_fifo_descriptors();
}

TEST_F(VirtualScreen, OnlyTheAutomaticModeWithANamedOutputForces1280x720) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/tvmode",
                         "0\n");  // present, so the OSD set-up does not write the key
    init_display({"--dfb:mode=800x600"}), init_osd_layer();
    ASSERT_EQ("<null>", kvn_test::stored("video_output"));
    DFBDisplayLayerConfig &config = kvn_dfb_global_context.kvn_layer_osd_config;
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    const DFBSurfacePixelFormat format = config.pixelformat;
    const int before_fds = (write_var("tv_system", "PAL", 0),
                            kvn_test::open_descriptors());  // the store's files open from here on
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
    EXPECT_EQ(kvn_test::open_descriptors(), before_fds);
    write_var("video_output", "5", 0),
        kvn_confirm_virtual_screensize();  // the stored value's copy is freed on every call
    size_t heap = kvn_test::heap_in_use();
    for (int i = 0; i < 300; ++i) kvn_confirm_virtual_screensize();
    EXPECT_LT(kvn_test::heap_in_use(), heap + 1000);
}

TEST_F(CleanUp, StopsThreadsBeforeReleasingLayersScreenAndMainInterfaceInReverseOrder) {
    KVN_REQUIRE_SANDBOX();
    init_display({"--dfb:mode=640x480"}), init_osd_layer();
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
    IDirectFBDisplayLayer *osd_layer = c.kvn_layer_osd =
        kvn_test::named(c.kvn_layer_osd, "osd layer");
    c.kvn_surface_osd = kvn_test::named(osd_surface, "osd surface"),
    c.kvn_layer_background = kvn_test::named(bg_layer, "background layer");
    c.kvn_surface_background_of_layer_background =
        kvn_test::named(bg_surface, "background surface");
    c.kvn_screen = kvn_test::named(c.kvn_screen, "screen"),
    c.kvn_dfb = kvn_test::named(c.kvn_dfb, "main interface");
    kvn_thread threads[3] = {
        {1, stop_thread<1>, nullptr}, {2, nullptr, nullptr}, {3, stop_thread<2>, nullptr}};
    for (kvn_thread &t : threads) ASSERT_EQ(register_thread(&t), 0);
    const int outport = outport_pipe, command = kvn_command_pipe, key = kvnupnp_key_pipe;
    ASSERT_FALSE(is_closed(command) || is_closed(key));
    EXPECT_EQ(kvn_clean_up(), 0);
    EXPECT_EQ(dfb_calls,
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

TEST_F(OsdLayer, SetUpBeforeStartUpFailsWithAMessage) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "0", 0), kvn_test::write_file("/tmp/tvname", "1080i59\n");
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFBDisplayLayer *layer = nullptr;
    IDirectFBSurface *surface = nullptr;
    const std::string said = kvn_test::captured_stderr([&] {
        kvn_confirm_virtual_screensize();
        EXPECT_EQ(-1, kvn_layer_background_init(c.kvn_dfb, &layer, &c.kvn_layer_background_config,
                                                &surface));
    });
    EXPECT_TRUE(
        kvn_test::has(said, {"kvn_confirm_virtual_screensize", "kvn_layer_background_init"}));
}

TEST_F(CleanUp, WithoutLayersReleasesTheScreenAndTheMainInterface) {
    KVN_REQUIRE_SANDBOX();
    init_display();
    kvn_dfb_context &c = kvn_dfb_global_context;
    c.kvn_screen = kvn_test::named(c.kvn_screen, "screen"),
    c.kvn_dfb = kvn_test::named(c.kvn_dfb, "main interface");
    const int outport = outport_pipe;
    EXPECT_EQ(kvn_clean_up(), 0);
    EXPECT_EQ(dfb_calls, (std::vector<std::string>{"screen released", "main interface released"}));
    EXPECT_TRUE(c.kvn_dfb == nullptr && c.kvn_screen == nullptr && c.kvn_layer_osd == nullptr &&
                !is_closed(outport));
}

TEST_F(Startup, PlantedPipePathsAreNotFollowedAndAreReportedOnce) {
    KVN_REQUIRE_SANDBOX();
    ASSERT_EQ(0, mkdir("/tmp/display", 0777) |
                     symlink("/opt/created-through-a-link", "/tmp/kvn_framework_pipe"));
    kvn_test::write_file("/tmp/kvnupnp_key_pipe", "");
    EXPECT_TRUE(
        kvn_test::has(kvn_test::captured_stderr(kvn_test::start_display),
                      {"kvn_dfb_init: cannot open /tmp/display: ", "/tmp/kvn_framework_pipe",
                       "/tmp/kvnupnp_key_pipe is not a FIFO; no keys will arrive"}));
    EXPECT_EQ(-1, outport_pipe);
    EXPECT_FALSE(kvn_test::exists("/opt/created-through-a-link"));
    EXPECT_EQ("", kvn_test::captured_stderr([] {
                  for (int i = 0; i < 3; ++i) check_tvmode_fifo();
              }))
        << "said once, at start-up";
}

TEST_F(Startup, NoStartedProgramInheritsTheKeyPipe) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::start_display();
    ASSERT_GE(kvnupnp_key_pipe, 0);
    EXPECT_TRUE(fcntl(kvnupnp_key_pipe, F_GETFD) & FD_CLOEXEC);
}

TEST(TimeDivisor, ZeroIsTakenAsOne) {
    kvn_set_time_divisor(0);
    EXPECT_EQ(1u, kvn_get_time_divisor());
}

TEST_F(OsdLayer, FirstSetUpTakesThePrimaryLayerAndSeedsTheModeFile) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "5", 0);
    init_display();
    kvn_dfb_context &c = kvn_dfb_global_context;
    DFBDisplayLayerConfig &config = c.kvn_layer_osd_config;
    EXPECT_EQ(kvn_layer_osd_init(kvn_test::spy_dfb(c.kvn_dfb), &c.kvn_layer_osd, &config, nullptr,
                                 nullptr),
              0);
    EXPECT_EQ(dfb_calls,
              (std::vector<std::string>{"GetDisplayLayer 0", "SetCooperativeLevel ADMINISTRATIVE",
                                        "SetBackgroundMode DONTCARE", "GetConfiguration",
                                        "SetBackgroundColor 0 0 0 0", "SetBackgroundMode COLOR"}));
    ASSERT_NE(c.kvn_layer_osd, nullptr);
    DFBDisplayLayerConfig real{};
    ASSERT_EQ(
        KVN_PASS(kvn_test::Spy<IDirectFBDisplayLayer>, c.kvn_layer_osd, GetConfiguration, &real),
        DFB_OK);
    EXPECT_TRUE(config.width == real.width && config.height == real.height && real.height > 0);
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "5\n");
}

// Again: the layer is reused; only a hook with its data replaces the default background.
TEST_F(OsdLayer, LaterSetUpsReuseTheLayerAndCallTheHookOnlyWithItsData) {
    KVN_REQUIRE_SANDBOX();
    init_display(), init_osd_layer();
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFB *dfb = kvn_test::spy_dfb(c.kvn_dfb);
    IDirectFBDisplayLayer *given = c.kvn_layer_osd = kvn_test::spy_layer(c.kvn_layer_osd);
    int payload = 42;
    void *data = &payload;
    EXPECT_EQ(
        kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, &data, recording_hook),
        0);
    EXPECT_EQ(dfb_calls, std::vector<std::string>{"GetConfiguration"});
    EXPECT_TRUE(c.kvn_layer_osd == given && g_hook.count == 1 && g_hook.dfb == dfb &&
                g_hook.layer == given && g_hook.config == &c.kvn_layer_osd_config &&
                g_hook.data == &payload);
    for (int i = 0; i < 2; ++i) {
        dfb_calls.clear();
        EXPECT_EQ(kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config,
                                     i == 0 ? nullptr : &data, i == 0 ? recording_hook : nullptr),
                  0);
        EXPECT_EQ(dfb_calls,
                  (std::vector<std::string>{"GetConfiguration", "SetBackgroundColor 0 0 0 0",
                                            "SetBackgroundMode COLOR"}));
    }
    EXPECT_EQ(g_hook.count, 1);
}

// The background refuses a null surface address or a second set-up, without touching the mixer.
TEST_F(Background, RefusesAMissingAddressOrASecondSetUp) {
    KVN_REQUIRE_SANDBOX();
    init_display(), init_osd_layer();
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
    EXPECT_TRUE(dfb_calls.empty());
    already->Release(already);
}

// The font is a fiftieth of the layer height: 14 at 720 lines, 21 at 1080.
TEST_F(Background, At720LinesPaintsTheBackdropAndThreeHelpLinesAFontHeightApart) {
    check_background(720, 14, true);
}
TEST_F(Background, At1080LinesWithoutABackdropTheHelpLinesAreStillDrawn) {
    check_background(1080, 21, false);
}

// Both layers, the mixer and the virtual screen set up, with a backdrop.
void set_up_everything() {
    kvn_test::write_png("/desktop.png", 8, 8, 0);
    init_display({"--dfb:mode=1280x720"});
    give_screen_a_mixer(0);
    IDirectFB *dfb = kvn_test::spy_dfb(kvn_dfb_global_context.kvn_dfb);
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
        {"font GetHeight", 1, "font->GetHeight(font, &font_height)"},
        {"provider released", 1, "provider->Release( provider )"},
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
                kvn_test::spy_main_interface = true;
                kvn_test::fail_dfb_call(row.call, row.occurrence);
                set_up_everything();
                exit(0);
            },
            [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); },
            guard_report(row.text));
    }
}
