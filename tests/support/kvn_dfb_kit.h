// DirectFB seen from outside the library, in a test program that uses this kit: every interface
// made from the main interface on is counted alive until the references handed out of DirectFB
// are all released, and spies over real interfaces log their calls, in order, and fail the one a
// test names.
#ifndef KVN_DFB_KIT_H
#define KVN_DFB_KIT_H

#include <gtest/gtest.h>
#include <stdio.h>

#include <deque>
#include <string>
#include <type_traits>
#include <vector>

#include "kvn_test_support.h"

namespace kvn_test {

// The kinds of the interfaces alive that the display context does not hold ("" none).
std::string dfb_leftovers();

// Every fixture ends with no DirectFB object left behind but the display context's own.
class DirectFBTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ("", dfb_leftovers()) << "DirectFB objects left"; }
};

IDirectFBDisplayLayer *spy_layer(IDirectFBDisplayLayer *real);
// The same, on a started display whose OSD layer is spied on: windows made on it log their calls.
class SpiedOsdLayerTest : public DirectFBTest {
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
bool note_dfb_call(const std::string &line);  // true: fail this one
template <typename... Args>
bool note(const char *format, Args... args) {
    char line[256];
    snprintf(line, sizeof line, format, args...);
    return note_dfb_call(line);
}

void remember_spy(const void *spy, const void *real);
// A copy of a real interface whose methods can be replaced one by one; it reaches the object
// through `real`. A named spy logs "<name> released".
template <typename Interface>
struct Spy {
    Interface iface;
    Interface *real;
    std::string name;
    Spy(Interface *real_iface, const char *spy_name) : iface(*real_iface), real(real_iface) {
        remember_spy(&iface, real);
        if (spy_name == nullptr) return;
        name = spy_name;
        iface.Release = [](Interface *thiz) -> DirectResult {
            if (note("%s released", of(thiz)->name.c_str())) return DR_FAILURE;
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
template <typename Interface>
Interface *named(Interface *real, const char *name) {
    return &spy(real, name)->iface;
}

// Logging spies: the main interface (GetScreen, GetDisplayLayer, CreateFont, CreateImageProvider
// and what they make), a layer (its configuration, background, surface and windows), a window
// (its surface, events and the focus calls), a surface (colour, font, text, fills and flips).
IDirectFB *spy_dfb(IDirectFB *real);
unsigned window_id(IDirectFBWindow *window);  // DirectFB's, as the window spies log it ("w3 ...")
// While set, DirectFBCreate logs itself and hands out spy_dfb's spy.
extern bool spy_main_interface;

}  // namespace kvn_test

// Calls the real method of the spy `thiz` of type SpyType.
#define KVN_PASS(SpyType, thiz, Method, ...) \
    SpyType::of(thiz)->real->Method(SpyType::of(thiz)->real, __VA_ARGS__)
// Replaces the method of the spy `s` by one that logs its line (the format after ARGS), fails when
// asked to, else calls the real method with ARGS (R is the real interface).
#define KVN_SPIED(Method, PARAMS, ARGS, ...)                                                    \
    s->iface.Method = [] PARAMS {                                                               \
        auto *R = std::remove_pointer_t<decltype(s)>::of(thiz)->real;                           \
        return kvn_test::note(__VA_ARGS__) ? static_cast<decltype(R->Method ARGS)>(DFB_FAILURE) \
                                           : R->Method ARGS;                                    \
    }

#endif
