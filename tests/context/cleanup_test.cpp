// Process clean-up: pipes, registered threads, layers, screen and the main interface, in that order.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "context_test_util.h"
#include "kvn_test_support.h"

namespace {

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

TEST(CleanUp, StopsThreadsBeforeReleasingLayersScreenAndMainInterfaceInReverseOrder) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display({"--dfb:mode=640x480"});
    ctx_test::init_osd_layer();
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFB *dfb = c.kvn_dfb;
    IDirectFBSurface *osd_surface = nullptr, *bg_surface = nullptr;
    DFBSurfaceDescription desc;
    desc.flags = static_cast<DFBSurfaceDescriptionFlags>(DSDESC_WIDTH | DSDESC_HEIGHT);
    desc.width = desc.height = 16;
    ASSERT_EQ(dfb->CreateSurface(dfb, &desc, &osd_surface), DFB_OK);
    ASSERT_EQ(dfb->CreateSurface(dfb, &desc, &bg_surface), DFB_OK);
    IDirectFBDisplayLayer *bg_layer = nullptr;
    ASSERT_EQ(dfb->GetDisplayLayer(dfb, VENDOR_LAYER_BKGND, &bg_layer), DFB_OK);
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
    EXPECT_TRUE(kvn_threads_head == nullptr && kvn_threads_end == nullptr);
    EXPECT_TRUE(c.kvn_dfb == nullptr && c.kvn_screen == nullptr);
    EXPECT_EQ(c.kvn_layer_osd, osd_layer) << "released, not cleared";
    EXPECT_TRUE(is_closed(command) && is_closed(key));
    EXPECT_FALSE(is_closed(outport));
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
