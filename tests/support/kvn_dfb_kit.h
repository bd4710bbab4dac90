// DirectFB seen from outside the library: spies over real interfaces log their calls, in order,
// and fail the one a test names.
#ifndef KVN_DFB_KIT_H
#define KVN_DFB_KIT_H

#include <deque>

#include "kvn_test_support.h"

namespace kvn_test {

IDirectFBDisplayLayer *spy_layer(IDirectFBDisplayLayer *real);
// A started display whose OSD layer is spied on: windows made on it log their calls.
class SpiedOsdLayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        start_display();
        IDirectFBDisplayLayer *&layer = kvn_dfb_global_context.kvn_layer_osd;
        layer = spy_layer(layer);
    }
};

// What the spies saw, in order (unlocked: spy on calls one thread makes); the call to fail: the
// start of its line, and which occurrence.
extern std::vector<std::string> dfb_calls;
void fail_dfb_call(const std::string &line_start, int occurrence = 1);
bool note(const char *format, ...) __attribute__((format(printf, 1, 2)));  // true: fail this one

void remember_spy(const void *spy, const void *real);
// A copy of a real interface whose methods can be replaced one by one; it reaches the object
// through `real` (the last release too, which frees the interface it is called on). A named spy
// logs "<name> released".
template <typename Interface>
struct Spy {
    Interface iface;
    Interface *real;
    std::string name;
    Spy(Interface *real_iface, const char *spy_name) : iface(*real_iface), real(real_iface) {
        remember_spy(&iface, real);
        name = spy_name ? spy_name : "";
        iface.Release = [](Interface *thiz) -> DirectResult {
            if (!of(thiz)->name.empty() && note("%s released", of(thiz)->name.c_str()))
                return DR_FAILURE;
            return of(thiz)->real->Release(of(thiz)->real);
        };
    }
    static Spy *of(Interface *thiz) { return reinterpret_cast<Spy *>(thiz); }
};
// A spy kept until the process ends, at a stable address.
template <typename Interface>
Spy<Interface> *spy(Interface *real, const char *name = nullptr) {
    static std::deque<Spy<Interface>> pool;
    return &pool.emplace_back(real, name);
}

// Logging spies of the main interface and of what it makes, the calls the library makes.
IDirectFB *spy_dfb(IDirectFB *real);
unsigned window_id(IDirectFBWindow *window);  // DirectFB's, as the window spies log it ("w3 ...")
// While set, DirectFBCreate logs itself and hands out spy_dfb's spy.
extern bool spy_main_interface;

}  // namespace kvn_test

#endif
