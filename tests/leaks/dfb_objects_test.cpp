// Every DirectFB interface the library makes is released again: none is left over after a standby,
// a TV-mode menu, and none at all once the windows and the context are cleaned up.  Counted from
// outside the library: this program takes DirectFBCreate over and counts AddRef and Release of
// every interface made from it, which no leak checker's suppression of DirectFB's own allocations
// can hide.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <unordered_map>

#include "kvn_app_harness.h"

namespace {

std::mutex g_mutex;
std::unordered_map<void *, std::pair<const char *, int>> g_alive;  // kind, references
// Each interface's own table as DirectFB made it; kept after the release,
// since an address may be reused only by a new interface, which replaces it.
std::unordered_map<void *, std::vector<char>> g_original;

template <typename I>
I original(I *thiz) {
    I table;
    std::lock_guard<std::mutex> lock(g_mutex);
    memcpy(&table, g_original.at(thiz).data(), sizeof table);
    return table;
}

template <typename I>
DirectResult add_ref(I *thiz) {
    std::unique_lock<std::mutex> lock(g_mutex);
    ++g_alive[thiz].second;
    lock.unlock();
    return original(thiz).AddRef(thiz);
}

template <typename I>
DirectResult release(I *thiz) {
    std::unique_lock<std::mutex> lock(g_mutex);
    auto it = g_alive.find(thiz);
    if (it != g_alive.end() && --it->second.second <= 0) g_alive.erase(it);
    lock.unlock();
    return original(thiz).Release(thiz);
}

template <typename I>
void wrap_makers(I *) {}
void wrap_makers(IDirectFB *i);
void wrap_makers(IDirectFBDisplayLayer *i);
void wrap_makers(IDirectFBWindow *i);

// Counts a new interface; one handed out again was counted by its AddRef.
template <typename I>
void track(I *i, const char *kind) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_alive.count(i) != 0) return;
        g_alive[i] = {kind, 1};
        g_original[i].assign(reinterpret_cast<const char *>(i),
                             reinterpret_cast<const char *>(i) + sizeof(I));
    }
    i->AddRef = add_ref<I>;
    i->Release = release<I>;
    wrap_makers(i);
}

// clang-format off
#define KIND(I) inline void track(I *i) { track(i, #I); }
KIND(IDirectFB)
KIND(IDirectFBScreen)
KIND(IDirectFBDisplayLayer)
KIND(IDirectFBWindow)
KIND(IDirectFBSurface)
KIND(IDirectFBEventBuffer)
KIND(IDirectFBFont)
KIND(IDirectFBImageProvider)
// clang-format on

template <typename I>
DFBResult made(DFBResult result, I **made_one) {
    return result == DFB_OK && made_one != nullptr && *made_one != nullptr
               ? (track(*made_one), result)
               : result;
}

// Every maker the library calls, passed on and its product counted.
#define WRAP(METHOD, PARAMS, ARGS) \
    i->METHOD = [] PARAMS { return made(original(t).METHOD ARGS, r); }

void wrap_makers(IDirectFB *i) {
    WRAP(GetScreen, (IDirectFB * t, DFBScreenID id, IDirectFBScreen * *r), (t, id, r));
    WRAP(GetDisplayLayer, (IDirectFB * t, DFBDisplayLayerID id, IDirectFBDisplayLayer * *r),
         (t, id, r));
    WRAP(CreateEventBuffer, (IDirectFB * t, IDirectFBEventBuffer * *r), (t, r));
    WRAP(CreateInputEventBuffer,
         (IDirectFB * t, DFBInputDeviceCapabilities c, DFBBoolean g, IDirectFBEventBuffer * *r),
         (t, c, g, r));
    WRAP(CreateImageProvider, (IDirectFB * t, const char *f, IDirectFBImageProvider **r),
         (t, f, r));
    WRAP(CreateFont, (IDirectFB * t, const char *f, const DFBFontDescription *d, IDirectFBFont **r),
         (t, f, d, r));
}

void wrap_makers(IDirectFBDisplayLayer *i) {
    WRAP(GetSurface, (IDirectFBDisplayLayer * t, IDirectFBSurface * *r), (t, r));
    WRAP(CreateWindow,
         (IDirectFBDisplayLayer * t, const DFBWindowDescription *d, IDirectFBWindow **r),
         (t, d, r));
}

void wrap_makers(IDirectFBWindow *i) {
    WRAP(GetSurface, (IDirectFBWindow * t, IDirectFBSurface * *r), (t, r));
    WRAP(CreateEventBuffer, (IDirectFBWindow * t, IDirectFBEventBuffer * *r), (t, r));
}

}  // namespace

// Taken over from libdirectfb: the library's call lands here first.
extern "C" DFBResult DirectFBCreate(IDirectFB **interface_ptr) {
    using Create = DFBResult (*)(IDirectFB **);
    static Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "DirectFBCreate"));
    return made(real(interface_ptr), interface_ptr);
}

namespace {

using kvn_test::App, kvn_test::eventually;

size_t dfb_objects_alive() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_alive.size();
}

std::string alive() {  // their kinds
    std::lock_guard<std::mutex> lock(g_mutex);
    std::map<std::string, int> kinds;
    for (const auto &a : g_alive) kinds[a.second.first] += 1;
    std::string which;
    for (const auto &k : kinds) which += k.first + " x" + std::to_string(k.second) + " ";
    return which;
}

TEST(DirectFBObjects, NoneLeftByAStandbyAMenuOrTheCleanUp) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(50);
    {
        App browser(BROWSER), flash(FLASH_LITE);
        ASSERT_TRUE(register_window(&browser.record) == 0 && register_window(&flash.record) == 0 &&
                    focus_on_window(BROWSER) == 0);
        const size_t before = dfb_objects_alive();
        const std::string before_kinds = alive();
        // Main interface, screen, OSD layer, two windows with surfaces and buffers.
        ASSERT_GE(before, 9u) << before_kinds;

        browser.start(), flash.start();
        browser.press(DIKS_POWER);  // the flash player runs the standby
        ASSERT_TRUE(eventually([] { return kvn_test::standby_input() != nullptr; }))
            << "no standby";
        ASSERT_TRUE(kvn_test::post_standby_input(kvn_test::input_key(DIKS_POWER)));
        ASSERT_TRUE(eventually(
            [] { return kvn_get_standby_mode() == 0 && kvn_test::standby_input() == nullptr; }));
        EXPECT_EQ(before, dfb_objects_alive())
            << "after a standby: " << alive() << "\nbefore: " << before_kinds;

        ASSERT_EQ(0, focus_on_window(BROWSER));
        int handled = browser.handled();
        for (DFBInputDeviceKeySymbol k :
             {DIKS_TV, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN})
            browser.press(k);
        ASSERT_TRUE(eventually([&] { return browser.handled() > handled; }, 20000))
            << "the menu never ended";
        auto calls = kvn_test::osd_calls();
        EXPECT_TRUE(std::any_of(calls.begin(), calls.end(),
                                [](const osd_call &c) { return c.command == 42; }));
        EXPECT_EQ(before, dfb_objects_alive())
            << "after a menu: " << alive() << "\nbefore: " << before_kinds;
    }
    kvn_set_time_divisor(1);
    EXPECT_EQ(3u, dfb_objects_alive()) << "after the windows' clean-up: " << alive();
    // DirectFB's own release waits for what is still held: do not hang on it.
    if (::testing::Test::HasFailure()) return;
    kvn_clean_up();
    EXPECT_EQ(0u, dfb_objects_alive()) << "after the clean-up: " << alive();
}

}  // namespace
