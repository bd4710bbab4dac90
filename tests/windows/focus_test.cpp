// Focus and visibility between applications, read back from DirectFB, and events handed between them.
#include <gtest/gtest.h>

#include <functional>

#include "host_stub.h"
#include "kvn_app_harness.h"
#include "screensaver_stub.h"

using kvn_test::App;

namespace {

// Opacity as DirectFB reads it back, and "*" for the focus word, of each application given.
std::string seen(std::initializer_list<App *> apps) {
    std::string out;
    for (App *a : apps) out += std::to_string(a->opacity()) + (a->record.on_focus ? "* " : " ");
    return out;
}

void register_all(std::initializer_list<App *> apps) {
    for (App *a : apps) ASSERT_EQ(0, register_window(&a->record));
}

// The strings handed over, checked against the count and the closing null.
std::vector<std::string> strings(const kvn_invoke_args *args) {
    std::vector<std::string> out;
    for (int i = 0; args != nullptr && args->argv[i] != nullptr; ++i) out.push_back(args->argv[i]);
    EXPECT_EQ(args ? args->argc : -1, static_cast<int>(out.size()));
    return out;
}

TEST(Focus, SwitchBetweenApplicationsHidesOthersAndTellsThePlatform) {
    App browser(BROWSER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    register_all({&browser, &photos, &flash});
    ASSERT_EQ(0, focus_on_window(BROWSER));
    EXPECT_EQ("255* 0 0 ", seen({&browser, &photos, &flash}));
    EXPECT_EQ(1, is_self_on_focus(BROWSER)); size_t before = kvn_test::osd_calls().size();
    int switches = scsvr_stub_switch_count();
    host_stub_set_bgrun(1);  // the photo player runs in the background: it stays visible under the flash player
    photos.record.window->SetOpacity(photos.record.window, 0x40); ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    EXPECT_EQ("0 255 255* ", seen({&browser, &photos, &flash}));
    EXPECT_EQ(switches + 1, scsvr_stub_switch_count());
    // The one that lost the focus: owner, command, flags, mode, length, all on one opened connection.
    std::vector<osd_call> calls = kvn_test::osd_calls(); std::string sent;
    for (size_t i = before; i < calls.size(); ++i)
        sent += std::to_string(calls[i].owner) + " " + std::to_string(calls[i].command) + " " +
                std::to_string(calls[i].flags) + " " + std::to_string(calls[i].mode) + " " +
                std::to_string(calls[i].length) + " " + std::to_string(calls[i].connection - calls[before].connection) +
                (calls[i].connection != 0 ? "|" : " unopened|");
    EXPECT_EQ("102 -3 0 0 0 0|102 35 -1 -1 0 0|102 -2 0 0 0 0|", sent);
    // Focusing the holder again: no platform call.
    ASSERT_EQ(0, focus_on_window(FLASH_LITE)); EXPECT_EQ(switches + 1, scsvr_stub_switch_count());
    EXPECT_EQ(calls.size(), kvn_test::osd_calls().size()); host_stub_set_bgrun(0);
    // The focused window leaving is hidden; the first eligible one takes over.
    ASSERT_EQ(0, unregister_window(&flash.record));
    EXPECT_EQ("255* 0 ", seen({&browser, &flash}));
    EXPECT_TRUE(kvn_test::eventually([&] { return browser.has_directfb_focus(); }));
}

TEST(Focus, ScreenSaverAndWidgetKeepTheirCompanionsVisible) {
    App player(ADVANCE_MEDIA_PLAYER), photos(PHOTO_PLAYER), flash(FLASH_LITE), saver(SCREEN_SAVER),
        widget(FLASH_WIDGET), browser(BROWSER);
    register_all({&player, &photos, &flash, &saver, &widget, &browser});
    // The media player is left as it is under the screen saver; the flash player stays under the screen saver
    // it or the photo player called, not under one the browser called.
    std::string under_saver;
    for (int previous : {FLASH_LITE, PHOTO_PLAYER, BROWSER}) {
        ASSERT_EQ(0, focus_on_window(previous)); player.record.window->SetOpacity(player.record.window, 0x33);
        ASSERT_EQ(0, focus_on_window(SCREEN_SAVER));
        under_saver += seen({&player, &flash, &browser}) + "| ";
    }
    EXPECT_EQ("51 255 0 | 51 255 0 | 51 0 0 | ", under_saver); ASSERT_EQ(0, focus_on_window(BROWSER));
    ASSERT_EQ(0, focus_on_window(FLASH_WIDGET));
    EXPECT_EQ("255 0 ", seen({&browser, &flash})) << "the application under the widget stays visible";
    // A visible window keeps its opacity when focused; an inactive one is refused.
    widget.record.opacity = 0x80; ASSERT_EQ(0, focus_on_window(FLASH_WIDGET));
    EXPECT_EQ(0xff, widget.opacity()); player.record.active = 0;
    EXPECT_EQ(-2, focus_on_window(ADVANCE_MEDIA_PLAYER) + focus_on_window(DUMMY1));
}

TEST(Focus, BrowserFallsBackToFlashPlayerAndNextAlternatesFirstTwo) {
    App flash(FLASH_LITE, 0), photos(PHOTO_PLAYER, 0), widget(FLASH_WIDGET, 0);
    register_all({&flash, &photos, &widget});
    // Without a browser the flash player; the walk starts at the head, never reaching the third.
    std::string walk;
    for (int (*step)() : {+[] { return focus_on_window(BROWSER); }, focus_next_window, focus_next_window}) {
        walk += std::to_string(step()) + " ";
        walk += seen({&flash, &photos, &widget}) + "| ";
    }
    EXPECT_EQ("0 255* 0 0 | 0 255 255* 0 | 0 255* 255 0 | ", walk);
    // A record that hides the others does so when the walk focuses it.
    photos.record.hide_others = 1; widget.record.window->SetOpacity(widget.record.window, 0x40);
    ASSERT_EQ(0, focus_next_window());
    EXPECT_EQ("255* 0 0 ", seen({&photos, &flash, &widget}));
    photos.record.active = widget.record.active = 0; EXPECT_EQ(0, focus_next_window());
    EXPECT_EQ("255* 255 ", seen({&flash, &photos}));
}

TEST(Forwarding, KeysAndArgumentsReachTheOtherApplicationsLoop) {
    App browser(BROWSER), flash(FLASH_LITE);
    register_all({&browser, &flash});
    flash.start([](DFBWindowEvent &) { return true; });
    EXPECT_EQ(-1, kvnfw_send_event(TVMODE, DIKS_OK)); EXPECT_EQ(1, kvn_invoke_framework_apps(42, "%s", "x"));
    ASSERT_EQ(0, kvnfw_send_event(FLASH_LITE, DIKS_OK));
    ASSERT_EQ(0, kvn_invoke_framework_apps(FLASH_LITE, "%s %d %s", "a", 5, "b")); ASSERT_TRUE(flash.wait_for_keys(2));
    EXPECT_EQ((std::vector<DFBInputDeviceKeySymbol>{DIKS_OK, DIKS_CUSTOM0}), flash.keys());
    kvn_invoke_args *args = flash.record.invoke_args;
    EXPECT_EQ(strings(args), (std::vector<std::string>{"a", "b"}));
    // Sixteen strings: fourteen kept; a null one arrives empty; the holder is reused.
    ASSERT_EQ(0, kvn_invoke_framework_apps(FLASH_LITE, "%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s", "1", "2",
                                           static_cast<const char *>(nullptr), "4", "5", "6", "7", "8", "9", "10",
                                           "11", "12", "13", "14", "15", "16"));
    EXPECT_EQ(args, flash.record.invoke_args);
    EXPECT_EQ(strings(args),
              (std::vector<std::string>{"1", "2", "", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14"}));
}

TEST(Forwarding, UnwantedEventsAreOfferedToTheOthersInOrder) {
    App browser(BROWSER), player(ADVANCE_MEDIA_PLAYER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    // The caller's own callback is never offered it; the media player has none; the photo player declines.
    browser.record.external_event_callback = [](DFBWindowEvent *) { return 0; };
    photos.record.external_event_callback = [](DFBWindowEvent *) { return 1; };
    flash.record.external_event_callback = [](DFBWindowEvent *e) { return e->key_symbol == DIKS_RED ? 0 : 1; };
    register_all({&browser, &player, &photos, &flash});
    DFBWindowEvent event = kvn_test::key_event(DIKS_GREEN);
    EXPECT_EQ(-1, redirect_external_event(&browser.record, &event));
    EXPECT_EQ(DIKS_GREEN, event.key_symbol) << "nobody consumed it: unchanged";
    event.key_symbol = DIKS_RED; EXPECT_EQ(0, redirect_external_event(&browser.record, &event));
    EXPECT_TRUE(event.type == 0 && event.key_symbol == DIKS_NULL);
    EXPECT_EQ(-1, redirect_external_event(nullptr, nullptr));
    // An event DirectFB refuses is not reported as sent.
    IDirectFBEventBuffer refusing{}, *real = photos.record.events;
    refusing.PostEvent = [](IDirectFBEventBuffer *, const DFBEvent *) -> DFBResult { return DFB_FAILURE; };
    refusing.WakeUp = [](IDirectFBEventBuffer *) -> DFBResult { return DFB_OK; };
    photos.record.events = &refusing; testing::internal::CaptureStderr();
    EXPECT_EQ(-1, kvnfw_send_event(PHOTO_PLAYER, DIKS_OK)); testing::internal::GetCapturedStderr();
    photos.record.events = real;
    for (auto callback : {func_default_focus_next_window_callback, func_default_focus_on_window_callback,
                          func_focus_next_window_ensure_subwindows_on_top_callback,
                          func_focus_on_window_ensure_subwindows_on_top_callback})
        EXPECT_EQ(0, callback(&photos.record));
}

// What the library draws on a new window's surface, seen by patching the real interfaces' methods in place.
namespace drawn {
std::string log; decltype(IDirectFBDisplayLayer::CreateWindow) create_window;
decltype(IDirectFBWindow::GetSurface) get_surface; decltype(IDirectFBSurface::SetColor) set_color;
decltype(IDirectFBSurface::FillRectangle) fill;
std::string text(std::initializer_list<long long> v) {
    std::string out;
    for (long long n : v) out += " " + std::to_string(n);
    return out;
}
DFBResult spy_get_surface(IDirectFBWindow *w, IDirectFBSurface **s) {
    DFBResult r = get_surface(w, s); set_color = (*s)->SetColor, fill = (*s)->FillRectangle;
    (*s)->SetColor = [](IDirectFBSurface *t, u8 r, u8 g, u8 b, u8 a) {
        return log += "colour" + text({r, g, b, a}) + "|", set_color(t, r, g, b, a);
    };
    (*s)->FillRectangle = [](IDirectFBSurface *t, int x, int y, int w, int h) {
        return log += "fill" + text({x, y, w, h}) + "|", fill(t, x, y, w, h);
    };
    return r;
}
}  // namespace drawn

TEST(Windows, CreationClearsTheSurfaceAndUsesTheLayerSize) {
    kvn_test::start_display(); IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    drawn::create_window = layer->CreateWindow;
    layer->CreateWindow = [](IDirectFBDisplayLayer *l, const DFBWindowDescription *d, IDirectFBWindow **w) {
        DFBResult r = drawn::create_window(l, d, w);
        drawn::get_surface = (*w)->GetSurface, (*w)->GetSurface = drawn::spy_get_surface;
        return r;
    };
    kvn_window w{};
    DFBWindowDescription desc;
    ASSERT_EQ(0, kvn_create_window_surface_events(&w, &desc, 10, 20, 0, 0, DWCAPS_ALPHACHANNEL, 0x40));
    layer->CreateWindow = drawn::create_window;
    const int width = kvn_dfb_global_context.kvn_layer_osd_config.width;
    const int height = kvn_dfb_global_context.kvn_layer_osd_config.height;
    EXPECT_EQ(drawn::text({KVN_WINDOW_MAGIC, 0x7F, width, DSPF_ARGB, DSCAPS_DOUBLE, DWCAPS_ALPHACHANNEL}),
              drawn::text({w.magic, desc.flags, desc.width, desc.pixelformat, desc.surface_caps, desc.caps}));
    EXPECT_EQ("colour 0 0 0 0|fill 0 0" + drawn::text({width, height}) + "|", drawn::log);
    uint8_t opacity = 0;
    int x = -1, y = -1; w.window->GetOpacity(w.window, &opacity);
    w.window->GetPosition(w.window, &x, &y);
    EXPECT_EQ(drawn::text({0x40, 10, 20}), drawn::text({opacity, x, y}));
    EXPECT_EQ(0, kvn_window_clean_up(&w)); EXPECT_TRUE(w.window == nullptr && w.events == nullptr);
    EXPECT_EQ(0, kvn_window_clean_up(&w)) << "a second clean-up does nothing";
}

// Runs `body(i)` in `count` threads let go at once.
void at_once(int count, const std::function<void(int)> &body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            for (++ready; ready < count;) {
            }
            body(i);
        });
    for (auto &t : threads) t.join();
}

// Threads registering at once lose no record; senders to one application (no buffer yet: the arguments wait in
// its record) never mix two calls.  The window list's threads are the key storm's.
TEST(Concurrency, ManyApplicationThreadsShareTheLists) {
    static kvn_thread records[4][20000];
    for (int round = 0; round < 4; ++round) {
        at_once(4, [](int i) {
            for (kvn_thread &t : records[i]) register_thread(&t);
        });
        int listed = 0;
        for (kvn_thread *t = kvn_threads_head; t != nullptr; t = t->next) ++listed;
        EXPECT_EQ(80000, listed) << "round " << round;
        EXPECT_EQ(0, unregister_threads());
    }
    kvn_window target{};
    target.window_id = BROWSER; ASSERT_EQ(0, register_window(&target));
    at_once(4, [](int i) {
        std::string mine(40, static_cast<char>('a' + i));
        for (int round = 0; round < 20000; ++round)
            kvn_invoke_framework_apps(BROWSER, "%s %d %s", mine.c_str(), round, mine.c_str());
    });
    unregister_window(&target); std::vector<std::string> got = strings(target.invoke_args);
    EXPECT_TRUE(got.size() == 2 && got[0] == got[1]);
    for (int i = 0; i < target.invoke_args->argc; ++i) free(target.invoke_args->argv[i]);
    free(target.invoke_args->argv); free(target.invoke_args);
}

}  // namespace
