// The display context's life: start-up (DirectFB, the screen, the three framework FIFOs and the report that
// ends the process when a DirectFB call fails), the 1280x720 virtual screen of the automatic TV mode, and the
// clean-up at exit (pipes, registered threads, layers, screen and the main interface, in that order).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "context_test_util.h"
#include "kvn_platform.h"
#include "kvn_test_support.h"

namespace {

bool g_refuse_mknod = false;
// DirectFB's entry points as start-up reaches them: the calls are logged, and the one named in g_fail fails.
bool g_watch_dfb = false;
std::string g_fail;
std::vector<std::string> g_dfb_calls;
bool watched(const std::string &call) {
    if (g_watch_dfb) g_dfb_calls.push_back(call);
    return g_watch_dfb && !g_fail.empty() && call.rfind(g_fail, 0) == 0;
}
template <typename Fn>
Fn real(const char *name) { return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name)); }

mode_t permissions(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? st.st_mode & 07777 : static_cast<mode_t>(-1);
}
// The three read ends start-up keeps are the three paths.
void expect_fifo_descriptors() {
    for (auto [fd, path] : {std::pair{outport_pipe, "/tmp/display"}, {kvn_command_pipe, "/tmp/kvn_framework_pipe"}, {kvnupnp_key_pipe, "/tmp/kvnupnp_key_pipe"}}) {
        struct stat a, b;
        EXPECT_TRUE(fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_ino == b.st_ino && a.st_dev == b.st_dev) << path;
    }
}


std::vector<std::string> g_log;

template <typename Interface>
struct Released {
    ctx_test::Spy<Interface> spy;  // first member: the record stands where the interface does
    const char *name;
    Released(Interface *real, const char *n) : spy(real, nullptr), name(n) {
        spy.iface.Release = [](Interface *thiz) -> DirectResult {
            auto *self = reinterpret_cast<Released *>(thiz);
            g_log.push_back(std::string(self->name) + " released");
            return self->spy.real->Release(self->spy.real);
        };
    }
};
// A spy whose Release notes the name before passing the call on.
template <typename Interface>
Interface *released(Interface *real, const char *name) { return &ctx_test::keep<Released<Interface>>(real, name)->spy.iface; }

// A registered thread's stop routine: it notes when it ran and whether the layers a drawing
// thread needs were still there.
bool g_layer_usable_at_stop[2] = {false, false};
template <int N>
void stop_thread() {
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    DFBDisplayLayerConfig config;
    g_layer_usable_at_stop[N - 1] = layer->GetConfiguration(layer, &config) == DFB_OK;
    g_log.push_back("thread " + std::to_string(N) + " stopped");
}

bool is_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

}  // namespace

// Stands in for a file system on which device nodes and FIFOs cannot be made; the library's
// call lands here because the executable comes first.
extern "C" int mknod(const char *path, mode_t mode, dev_t dev) {
    if (g_refuse_mknod) return errno = EPERM, -1;
    return static_cast<int>(syscall(SYS_mknodat, AT_FDCWD, path, mode, dev));
}

extern "C" DFBResult DirectFBInit(int *argc, char *(*argv[])) {
    if (watched("DirectFBInit " + std::to_string(*argc) + " " + (*argv)[0])) return DFB_FAILURE;
    return real<DFBResult (*)(int *, char *(*[]))>("DirectFBInit")(argc, argv);
}

extern "C" DFBResult DirectFBCreate(IDirectFB **ret) {
    if (watched("DirectFBCreate")) return DFB_FAILURE;
    DFBResult r = real<DFBResult (*)(IDirectFB **)>("DirectFBCreate")(ret);
    if (r != DFB_OK || !g_watch_dfb) return r;
    using DfbSpy = ctx_test::Spy<IDirectFB>;
    DfbSpy *dfb = ctx_test::keep<DfbSpy>(*ret, nullptr);
    dfb->iface.GetScreen = [](IDirectFB *thiz, DFBScreenID id, IDirectFBScreen **screen) {
        if (watched("GetScreen " + std::to_string(id))) return DFB_FAILURE;
        DFBResult r = DfbSpy::of(thiz)->real->GetScreen(DfbSpy::of(thiz)->real, id, screen);
        using ScreenSpy = ctx_test::Spy<IDirectFBScreen>;
        ScreenSpy *s = ctx_test::keep<ScreenSpy>(*screen, nullptr);
        s->iface.GetSize = [](IDirectFBScreen *thiz, int *w, int *h) {
            return watched("GetSize") ? DFB_FAILURE : ScreenSpy::of(thiz)->real->GetSize(ScreenSpy::of(thiz)->real, w, h);
        };
        *screen = &s->iface;
        return r;
    };
    *ret = &dfb->iface;
    return r;
}

TEST(StartupDeathTest, EachFailingDirectFBCallIsReportedWithItsOwnText) {
    KVN_REQUIRE_SANDBOX();
    GTEST_FLAG_SET(death_test_style, "fast");  // DirectFB starts in the child only
    const char *rows[][2] = {{"DirectFBInit", "DirectFBInit( argc, argv )"}, {"DirectFBCreate", "DirectFBCreate( dfb )"},
                             {"GetScreen", "(*dfb)->GetScreen((*dfb), 0, screen)"}, {"GetSize", "(*screen)->GetSize((*screen), &width, &height)"}};
    for (const auto &row : rows) {
        EXPECT_EXIT({ g_watch_dfb = true; g_fail = row[0]; ctx_test::init_display(); exit(0); },
                    [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, ctx_test::guard_report(row[1]));
    }
}

TEST(Startup, CreatesTheThreeFifosAndOpensThemForReading) {
    KVN_REQUIRE_SANDBOX();
    // As loaded, before start-up.
    EXPECT_EQ((std::vector<int>{0, 0, 0}), (std::vector<int>{kvn_global_state, thread_qty, kvn_get_standby_mode()}));
    EXPECT_TRUE(kvn_windows_head == nullptr && kvn_windows_end == nullptr && kvn_threads_head == nullptr && kvn_threads_end == nullptr);
    EXPECT_TRUE(kvn_dfb_global_context.kvn_dfb == nullptr && kvn_dfb_global_context.kvn_layer_osd == nullptr);
    kvn_global_state = 7, thread_qty = 3;
    // The two counters are reset under kvn_mutex_state, and only there.
    pthread_mutex_lock(&kvn_mutex_state);
    g_watch_dfb = true, umask(0);  // under a zero umask the permission bits are the ones start-up asks for
    std::thread start([] { ctx_test::init_display(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(kvn_global_state, 7) << "reset without the lock";
    pthread_mutex_unlock(&kvn_mutex_state);
    start.join(), umask(022);
    EXPECT_EQ(0, pthread_mutex_trylock(&kvn_mutex_state)) << "left locked";
    pthread_mutex_unlock(&kvn_mutex_state);
    ASSERT_TRUE(kvn_dfb_global_context.kvn_dfb != nullptr && kvn_dfb_global_context.kvn_screen != nullptr);
    EXPECT_EQ((std::vector<std::string>{"DirectFBInit 1 kvn-context-test", "DirectFBCreate", "GetScreen 0", "GetSize"}), g_dfb_calls);
    EXPECT_EQ((std::vector<int>{0, 0}), (std::vector<int>{kvn_global_state, thread_qty}));
    expect_fifo_descriptors();
    const struct { const char *path; int fd; mode_t permissions; } fifos[] = {
        {"/tmp/display", outport_pipe, 0666}, {"/tmp/kvn_framework_pipe", kvn_command_pipe, 0644}, {"/tmp/kvnupnp_key_pipe", kvnupnp_key_pipe, 0644}};
    for (const auto &f : fifos) {
        struct stat st;
        EXPECT_TRUE(stat(f.path, &st) == 0 && S_ISFIFO(st.st_mode)) << f.path;
        EXPECT_EQ(permissions(f.path), f.permissions) << f.path;
        EXPECT_EQ(O_RDONLY | O_NONBLOCK, fcntl(f.fd, F_GETFL) & (O_ACCMODE | O_NONBLOCK)) << f.path;
    }
}

TEST(Startup, ASecondStartReusesTheExistingFifos) {
    KVN_REQUIRE_SANDBOX();
    for (const char *path : {"/tmp/display", "/tmp/kvn_framework_pipe", "/tmp/kvnupnp_key_pipe"}) ASSERT_EQ(mkfifo(path, 0600), 0);
    struct stat before, after;
    ASSERT_EQ(stat("/tmp/kvn_framework_pipe", &before), 0);
    EXPECT_EQ(0, ctx_test::init_display());
    ASSERT_EQ(stat("/tmp/kvn_framework_pipe", &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "not replaced";
    EXPECT_EQ(permissions("/tmp/display"), 0600u);
    expect_fifo_descriptors();
}

TEST(Startup, WithoutFifoSupportTheDisplayPathBecomesAPlainFile) {
    KVN_REQUIRE_SANDBOX();
    g_refuse_mknod = true, umask(0), ctx_test::init_display();
    g_refuse_mknod = false, umask(022);
    struct stat st;
    EXPECT_TRUE(stat("/tmp/display", &st) == 0 && S_ISREG(st.st_mode));
    EXPECT_EQ(permissions("/tmp/display"), 0700u);
    expect_fifo_descriptors();  // the two mkfifo pipes do not depend on mknod
}

TEST(VirtualScreen, OnlyTheAutomaticModeWithANamedOutputForces1280x720) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/tvmode", "0\n");  // present, so the OSD set-up does not write the key
    ctx_test::init_display({"--dfb:mode=800x600"});
    ctx_test::init_osd_layer();
    ASSERT_EQ("<null>", kvn_test::stored("video_output"));
    DFBDisplayLayerConfig &config = kvn_dfb_global_context.kvn_layer_osd_config;
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    const DFBSurfacePixelFormat format = config.pixelformat;
    write_var("tv_system", "PAL", 0);  // the store keeps its files open from here on
    int before_fds = ctx_test::open_descriptor_count();
    // The stored mode (null: none) and /tmp/tvname (null: none): automatic, but the output side
    // has named nothing yet, is not enough; whatever the name says is; text without digits reads as 0.
    const struct { const char *video_output, *tvname; int width, height; } cases[] = {
        {nullptr, "720p60\n", 800, 600}, {"5", "720p60\n", 800, 600}, {"1", "720p60\n", 800, 600}, {"9", "720p60\n", 800, 600},
        {"0", nullptr, 800, 600}, {"0", "1080i50\n", 1280, 720}, {"a", "720p60\n", 1280, 720}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.video_output ? c.video_output : "no mode") + ", " + (c.tvname ? c.tvname : "no name"));
        if (c.video_output) write_var("video_output", c.video_output, 0);
        c.tvname ? kvn_test::write_file("/tmp/tvname", c.tvname) : kvn_test::remove_file("/tmp/tvname");
        config.width = 800, config.height = 600;
        ASSERT_EQ(DFB_OK, layer->SetConfiguration(layer, &config));
        kvn_confirm_virtual_screensize();
        DFBDisplayLayerConfig real;
        ASSERT_EQ(layer->GetConfiguration(layer, &real), DFB_OK);
        EXPECT_EQ((std::vector<int>{c.width, c.height, c.width, c.height}), (std::vector<int>{real.width, real.height, config.width, config.height}));
    }
    EXPECT_EQ(config.flags, DLCONF_WIDTH | DLCONF_HEIGHT);
    EXPECT_EQ(config.pixelformat, format) << "the other members kept";
    EXPECT_EQ(ctx_test::open_descriptor_count(), before_fds);
    write_var("video_output", "5", 0), kvn_confirm_virtual_screensize();  // the stored value's copy is freed on every call
    size_t heap = kvn_test::heap_in_use();
    for (int i = 0; i < 300; ++i) kvn_confirm_virtual_screensize();
    EXPECT_LT(kvn_test::heap_in_use(), heap + 1000);
}

TEST(CleanUp, StopsThreadsBeforeReleasingLayersScreenAndMainInterfaceInReverseOrder) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display({"--dfb:mode=640x480"});
    ctx_test::init_osd_layer();
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFB *dfb = c.kvn_dfb;
    IDirectFBSurface *osd_surface = nullptr, *bg_surface = nullptr;
    IDirectFBDisplayLayer *bg_layer = nullptr;
    DFBSurfaceDescription desc{};
    desc.flags = static_cast<DFBSurfaceDescriptionFlags>(DSDESC_WIDTH | DSDESC_HEIGHT), desc.width = desc.height = 16;
    ASSERT_TRUE(dfb->CreateSurface(dfb, &desc, &osd_surface) == DFB_OK && dfb->CreateSurface(dfb, &desc, &bg_surface) == DFB_OK &&
                dfb->GetDisplayLayer(dfb, VENDOR_LAYER_BKGND, &bg_layer) == DFB_OK);
    IDirectFBDisplayLayer *osd_layer = c.kvn_layer_osd = released(c.kvn_layer_osd, "osd layer");
    c.kvn_surface_osd = released(osd_surface, "osd surface");
    c.kvn_layer_background = released(bg_layer, "background layer");
    c.kvn_surface_background_of_layer_background = released(bg_surface, "background surface");
    c.kvn_screen = released(c.kvn_screen, "screen");
    c.kvn_dfb = released(c.kvn_dfb, "main interface");
    kvn_thread threads[3] = {{1, stop_thread<1>, nullptr}, {2, nullptr, nullptr}, {3, stop_thread<2>, nullptr}};
    for (kvn_thread &t : threads) ASSERT_EQ(register_thread(&t), 0);
    const int outport = outport_pipe, command = kvn_command_pipe, key = kvnupnp_key_pipe;
    ASSERT_FALSE(is_closed(command) || is_closed(key));
    EXPECT_EQ(kvn_clean_up(), 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"thread 1 stopped", "thread 2 stopped", "osd surface released", "osd layer released",
                                               "background surface released", "background layer released", "screen released", "main interface released"}));
    EXPECT_TRUE(g_layer_usable_at_stop[0] && g_layer_usable_at_stop[1]) << "threads stop while the layers stand";
    EXPECT_TRUE(kvn_threads_head == nullptr && kvn_threads_end == nullptr && c.kvn_dfb == nullptr && c.kvn_screen == nullptr);
    EXPECT_EQ(c.kvn_layer_osd, osd_layer) << "released, not cleared";
    EXPECT_TRUE(is_closed(command) && is_closed(key) && !is_closed(outport)) << "the mode pipe stays open";
}

TEST(CleanUp, WithoutLayersItStillReleasesScreenAndMainInterface) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display();
    kvn_dfb_context &c = kvn_dfb_global_context;
    c.kvn_screen = released(c.kvn_screen, "screen");
    c.kvn_dfb = released(c.kvn_dfb, "main interface");
    const int outport = outport_pipe;
    EXPECT_EQ(kvn_clean_up(), 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"screen released", "main interface released"}));
    EXPECT_TRUE(c.kvn_dfb == nullptr && c.kvn_screen == nullptr && c.kvn_layer_osd == nullptr);
    EXPECT_FALSE(is_closed(outport));
}

TEST(HostileStart, LayerCallsBeforeStartUpFailWithAMessage) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "0", 0), kvn_test::write_file("/tmp/tvname", "1080i59\n");
    IDirectFBDisplayLayer *layer = nullptr;
    DFBDisplayLayerConfig config;
    IDirectFBSurface *surface = nullptr;
    testing::internal::CaptureStderr();
    kvn_confirm_virtual_screensize();
    EXPECT_EQ(-1, kvn_layer_background_init(kvn_dfb_global_context.kvn_dfb, &layer, &config, &surface));
    EXPECT_TRUE(ctx_test::has(testing::internal::GetCapturedStderr(), {"kvn_confirm_virtual_screensize", "kvn_layer_background_init"}));
}

TEST(HostileStart, PlantedPipePathsAreNotFollowedAndAreReportedOnce) {
    KVN_REQUIRE_SANDBOX();
    ASSERT_EQ(0, mkdir("/tmp/display", 0777) | symlink("/opt/created-through-a-link", "/tmp/kvn_framework_pipe"));
    kvn_test::write_file("/tmp/kvnupnp_key_pipe", "");
    testing::internal::CaptureStderr();
    kvn_test::start_display();
    EXPECT_TRUE(ctx_test::has(testing::internal::GetCapturedStderr(), {"kvn_dfb_init: cannot open /tmp/display: ", "/tmp/kvn_framework_pipe",
                                                                      "/tmp/kvnupnp_key_pipe is not a FIFO; no keys will arrive"}));
    EXPECT_EQ(-1, outport_pipe);
    EXPECT_FALSE(kvn_test::exists("/opt/created-through-a-link"));
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) check_tvmode_fifo();
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "said once, at start-up";
    ASSERT_GE(kvnupnp_key_pipe, 0);  // no program the application starts inherits the pipe it did open
    EXPECT_TRUE(fcntl(kvnupnp_key_pipe, F_GETFD) & FD_CLOEXEC);
    kvn_set_time_divisor(0);
    EXPECT_EQ(1u, kvn_get_time_divisor()) << "a divisor of 0 is taken as 1";
}
