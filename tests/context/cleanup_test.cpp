// Process clean-up: pipes, registered threads, layers, screen and the main
// interface, in that order.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "context_test_util.h"
#include "kvn_test_support.h"

namespace {

std::mutex g_log_mutex;
std::vector<std::string> g_log;

void note(const std::string &what) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log.push_back(what);
}

template <typename Interface>
struct Released {
    ctx_test::Spy<Interface> spy;
    const char *name;  // keeps the record standard-layout: the spy is its first member
    Released(Interface *real, const char *n) : spy(real, nullptr), name(n) {
        spy.iface.Release = [](Interface *thiz) -> DirectResult {
            auto *self = reinterpret_cast<Released *>(thiz);
            note(std::string(self->name) + " released");
            return self->spy.real->Release(self->spy.real);
        };
    }
    Interface *get() { return &spy.iface; }
};

// An application thread: its own event buffer and loop, stopped by an
// event posted from the stop routine.
struct AppThread {
    int number = 0;
    IDirectFBEventBuffer *events = nullptr;
    pthread_t thread{};
    kvn_thread record{};
    bool layer_usable_at_stop = false;

    static void *loop(void *arg) {
        auto *self = static_cast<AppThread *>(arg);
        for (;;) {
            if (self->events->WaitForEvent(self->events) != DFB_OK) continue;
            DFBEvent event;
            if (self->events->GetEvent(self->events, &event) != DFB_OK) continue;
            if (event.clazz == DFEC_USER && event.user.type == 1) break;
        }
        self->events->Release(self->events);
        return nullptr;
    }

    void start(int n) {
        number = n;
        IDirectFB *dfb = kvn_dfb_global_context.kvn_dfb;
        ASSERT_EQ(dfb->CreateEventBuffer(dfb, &events), DFB_OK);
        ASSERT_EQ(pthread_create(&thread, nullptr, loop, this), 0);
        record.thread = static_cast<uint32_t>(n);
    }

    void stop() {
        // The layers must still be there for a thread that draws to its end.
        IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
        DFBDisplayLayerConfig config;
        layer_usable_at_stop = layer->GetConfiguration(layer, &config) == DFB_OK;
        DFBUserEvent quit{};
        quit.clazz = DFEC_USER;
        quit.type = 1;
        events->PostEvent(events, DFB_EVENT(&quit));
        pthread_join(thread, nullptr);
        note("thread " + std::to_string(number) + " stopped");
    }
};

AppThread g_threads[2];

bool is_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

}  // namespace

TEST(CleanUp, StopsThreadsBeforeReleasingLayersScreenAndMainInterfaceInReverseOrder) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display({"--dfb:mode=640x480"});
    ctx_test::init_osd_layer();
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFB *real_dfb = c.kvn_dfb;

    IDirectFBSurface *osd_surface = nullptr, *bg_surface = nullptr;
    DFBSurfaceDescription desc;
    desc.flags = static_cast<DFBSurfaceDescriptionFlags>(DSDESC_WIDTH | DSDESC_HEIGHT);
    desc.width = 16;
    desc.height = 16;
    ASSERT_EQ(real_dfb->CreateSurface(real_dfb, &desc, &osd_surface), DFB_OK);
    ASSERT_EQ(real_dfb->CreateSurface(real_dfb, &desc, &bg_surface), DFB_OK);
    IDirectFBDisplayLayer *bg_layer = nullptr;
    ASSERT_EQ(real_dfb->GetDisplayLayer(real_dfb, VENDOR_LAYER_BKGND, &bg_layer), DFB_OK);

    auto *osd_layer_spy =
        ctx_test::keep<Released<IDirectFBDisplayLayer>>(c.kvn_layer_osd, "osd layer");
    auto *osd_surface_spy = ctx_test::keep<Released<IDirectFBSurface>>(osd_surface, "osd surface");
    auto *bg_layer_spy =
        ctx_test::keep<Released<IDirectFBDisplayLayer>>(bg_layer, "background layer");
    auto *bg_surface_spy =
        ctx_test::keep<Released<IDirectFBSurface>>(bg_surface, "background surface");
    auto *screen_spy = ctx_test::keep<Released<IDirectFBScreen>>(c.kvn_screen, "screen");
    auto *dfb_spy = ctx_test::keep<Released<IDirectFB>>(c.kvn_dfb, "main interface");
    c.kvn_layer_osd = osd_layer_spy->get();
    c.kvn_surface_osd = osd_surface_spy->get();
    c.kvn_layer_background = bg_layer_spy->get();
    c.kvn_surface_background_of_layer_background = bg_surface_spy->get();
    c.kvn_screen = screen_spy->get();
    c.kvn_dfb = dfb_spy->get();

    g_threads[0].start(1);
    g_threads[1].start(2);
    g_threads[0].record.stop = [] { g_threads[0].stop(); };
    g_threads[1].record.stop = [] { g_threads[1].stop(); };
    ASSERT_EQ(register_thread(&g_threads[0].record), 0);
    ASSERT_EQ(register_thread(&g_threads[1].record), 0);

    const int outport = outport_pipe, command = kvn_command_pipe, key = kvnupnp_key_pipe;
    ASSERT_FALSE(is_closed(command));
    ASSERT_FALSE(is_closed(key));

    EXPECT_EQ(kvn_clean_up(), 0);

    std::vector<std::string> expected = {"thread 1 stopped",
                                         "thread 2 stopped",
                                         "osd surface released",
                                         "osd layer released",
                                         "background surface released",
                                         "background layer released",
                                         "screen released",
                                         "main interface released"};
    EXPECT_EQ(g_log, expected);
    EXPECT_TRUE(g_threads[0].layer_usable_at_stop);
    EXPECT_TRUE(g_threads[1].layer_usable_at_stop);
    EXPECT_EQ(kvn_threads_head, nullptr);
    EXPECT_EQ(kvn_threads_end, nullptr);

    EXPECT_EQ(c.kvn_dfb, nullptr);
    EXPECT_EQ(c.kvn_screen, nullptr);
    EXPECT_EQ(c.kvn_layer_osd, osd_layer_spy->get());  // released, not cleared

    EXPECT_TRUE(is_closed(command));
    EXPECT_TRUE(is_closed(key));
    EXPECT_FALSE(is_closed(outport));
}

TEST(CleanUp, WithoutLayersItStillReleasesScreenAndMainInterface) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display();
    kvn_dfb_context &c = kvn_dfb_global_context;
    auto *screen_spy = ctx_test::keep<Released<IDirectFBScreen>>(c.kvn_screen, "screen");
    auto *dfb_spy = ctx_test::keep<Released<IDirectFB>>(c.kvn_dfb, "main interface");
    c.kvn_screen = screen_spy->get();
    c.kvn_dfb = dfb_spy->get();
    const int outport = outport_pipe;

    EXPECT_EQ(kvn_clean_up(), 0);
    std::vector<std::string> expected = {"screen released", "main interface released"};
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(c.kvn_dfb, nullptr);
    EXPECT_EQ(c.kvn_screen, nullptr);
    EXPECT_EQ(c.kvn_layer_osd, nullptr);
    EXPECT_FALSE(is_closed(outport));
}
