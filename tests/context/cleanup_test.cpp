// Process exit on real DirectFB: pipes, threads, layers, screen, main interface, seen by spies.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include "kvn_dfb_kit.h"

namespace {

using kvn_test::dfb_calls;

template <int N>
void stop_thread() {
    dfb_calls.push_back("thread " + std::to_string(N) + " stopped");
}

bool is_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

}  // namespace

TEST(CleanUp, StopsThreadsBeforeReleasingLayersScreenAndMainInterfaceInReverseOrder) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::start_display();
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFB *dfb = c.kvn_dfb;
    DFBSurfaceDescription desc{};
    desc.flags = static_cast<DFBSurfaceDescriptionFlags>(DSDESC_WIDTH | DSDESC_HEIGHT);
    desc.width = desc.height = 16;
    IDirectFBSurface *bg_surface = nullptr;
    ASSERT_EQ(DFB_OK, dfb->CreateSurface(dfb, &desc, &bg_surface));
    IDirectFBDisplayLayer *bg_layer = nullptr;
    ASSERT_EQ(DFB_OK, dfb->GetDisplayLayer(dfb, VENDOR_LAYER_BKGND, &bg_layer));
    IDirectFBDisplayLayer *osd_layer = &kvn_test::spy(c.kvn_layer_osd, "osd layer")->iface;
    c.kvn_layer_osd = osd_layer;
    c.kvn_surface_osd = nullptr;  // none taken: nothing to release
    c.kvn_layer_background = &kvn_test::spy(bg_layer, "background layer")->iface;
    c.kvn_surface_background_of_layer_background =
        &kvn_test::spy(bg_surface, "background surface")->iface;
    c.kvn_screen = &kvn_test::spy(c.kvn_screen, "screen")->iface;
    c.kvn_dfb = &kvn_test::spy(c.kvn_dfb, "main interface")->iface;
    kvn_thread threads[3] = {
        {1, stop_thread<1>, nullptr}, {2, nullptr, nullptr}, {3, stop_thread<3>, nullptr}};
    for (kvn_thread &t : threads) ASSERT_EQ(0, register_thread(&t));
    const int outport = outport_pipe, command = kvn_command_pipe, key = kvnupnp_key_pipe;
    EXPECT_EQ(0, kvn_clean_up());
    EXPECT_EQ(
        (std::vector<std::string>{"thread 1 stopped", "thread 3 stopped", "osd layer released",
                                  "background surface released", "background layer released",
                                  "screen released", "main interface released"}),
        dfb_calls);
    EXPECT_EQ(nullptr, c.kvn_dfb);
    EXPECT_EQ(nullptr, c.kvn_screen);
    EXPECT_EQ(osd_layer, c.kvn_layer_osd) << "the layers released, not cleared";
    EXPECT_TRUE(is_closed(command));
    EXPECT_TRUE(is_closed(key));
    EXPECT_FALSE(is_closed(outport)) << "the mode pipe stays open";
}
