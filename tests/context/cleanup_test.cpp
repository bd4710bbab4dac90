// Process clean-up: pipes, registered threads, layers, screen and the main
// interface, in that order.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "context_test_util.h"
#include "kvn_test_support.h"

namespace {

std::vector<std::string> g_log;

void note(const std::string &what) { g_log.push_back(what); }

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

// A registered thread's stop routine: it notes when it ran and whether the
// layers a drawing thread needs were still there.
bool g_layer_usable_at_stop[2] = {false, false};
template <int N>
void stop_thread() {
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    DFBDisplayLayerConfig config;
    g_layer_usable_at_stop[N - 1] = layer->GetConfiguration(layer, &config) == DFB_OK;
    note("thread " + std::to_string(N) + " stopped");
}

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

    kvn_thread threads[3] = {{1, stop_thread<1>, nullptr}, {2, nullptr, nullptr}, {3, stop_thread<2>, nullptr}};
    for (kvn_thread &t : threads) ASSERT_EQ(register_thread(&t), 0);

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
    EXPECT_TRUE(g_layer_usable_at_stop[0]);
    EXPECT_TRUE(g_layer_usable_at_stop[1]);
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
