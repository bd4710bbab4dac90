// Start-up: DirectFB, the screen and the three framework FIFOs, and the report that ends the
// process when a DirectFB call fails.
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
bool descriptor_is(int fd, const char *path) {
    struct stat a, b;
    return fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}
// The three read ends start-up keeps are the three paths.
void expect_fifo_descriptors() {
    EXPECT_TRUE(descriptor_is(outport_pipe, "/tmp/display"));
    EXPECT_TRUE(descriptor_is(kvn_command_pipe, "/tmp/kvn_framework_pipe"));
    EXPECT_TRUE(descriptor_is(kvnupnp_key_pipe, "/tmp/kvnupnp_key_pipe"));
}

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
        EXPECT_EXIT(
            {
                g_watch_dfb = true;
                g_fail = row[0];
                ctx_test::init_display();
                exit(0);
            },
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
