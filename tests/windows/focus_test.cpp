// Focus and visibility between applications, read back from DirectFB, and
// events handed between application threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>

#include "host_stub.h"
#include "kvn_app_harness.h"
#include "screensaver_stub.h"

using kvn_test::App;

namespace {

// The dialog commands sent since the `first`, one text each: "owner
// command flags mode length text", all on one opened connection.
std::vector<std::string> commands_since(size_t first) {
    std::vector<osd_call> all = kvn_test::osd_calls();
    std::vector<std::string> out;
    for (size_t i = first; i < all.size(); ++i) {
        const osd_call &c = all[i];
        EXPECT_TRUE(c.connection != 0 && c.connection == all[first].connection) << "one connection per switch";
        out.push_back(std::to_string(c.owner) + " " + std::to_string(c.command) + " " + std::to_string(c.flags) + " " +
                      std::to_string(c.mode) + " " + std::to_string(c.length) + " " + c.text);
    }
    return out;
}

TEST(Focus, SwitchBetweenApplicationsHidesOthersAndTellsThePlatform) {
    App browser(BROWSER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    for (App *a : {&browser, &photos, &flash}) ASSERT_EQ(0, register_window(&a->record));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    EXPECT_EQ(0xff, browser.opacity());
    EXPECT_EQ(0, photos.opacity());
    EXPECT_EQ(1, is_self_on_focus(BROWSER));

    size_t before = kvn_test::osd_calls().size();
    int switches = scsvr_stub_switch_count();
    host_stub_set_bgrun(1);  // the photo player runs in the background
    photos.record.window->SetOpacity(photos.record.window, 0x40);
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    EXPECT_EQ(0xff, photos.opacity()) << "a background photo show stays visible under the flash player";
    EXPECT_EQ(0, browser.opacity());
    EXPECT_EQ(0, browser.record.on_focus);
    EXPECT_EQ(1, flash.record.on_focus);
    EXPECT_EQ(switches + 1, scsvr_stub_switch_count());
    const std::string owner = std::to_string(browser.record.osd_id);  // the one that lost the focus
    EXPECT_EQ(commands_since(before), (std::vector<std::string>{owner + " -3 0 0 0 ", owner + " 35 -1 -1 0 ",
                                                                owner + " -2 0 0 0 "}));

    // Focusing the holder again: no platform call.
    before = kvn_test::osd_calls().size();
    switches = scsvr_stub_switch_count();
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    EXPECT_EQ(switches, scsvr_stub_switch_count());
    EXPECT_EQ(before, kvn_test::osd_calls().size());
    host_stub_set_bgrun(0);

    // The focused window leaving is hidden; the first eligible one takes over.
    ASSERT_EQ(0, unregister_window(&flash.record));
    EXPECT_EQ(0, flash.opacity());
    EXPECT_EQ(0xff, browser.opacity());
    EXPECT_TRUE(kvn_test::eventually([&] { return browser.has_directfb_focus(); }));
}

TEST(Focus, ScreenSaverAndWidgetKeepTheirCompanionsVisible) {
    App player(ADVANCE_MEDIA_PLAYER), flash(FLASH_LITE), saver(SCREEN_SAVER), widget(FLASH_WIDGET),
        browser(BROWSER);
    for (App *a : {&player, &flash, &saver, &widget, &browser}) ASSERT_EQ(0, register_window(&a->record));
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    player.record.window->SetOpacity(player.record.window, 0x33);
    ASSERT_EQ(0, focus_on_window(SCREEN_SAVER));
    EXPECT_EQ(0x33, player.opacity()) << "the media player is left as it is under the screen saver";
    EXPECT_EQ(0xff, flash.opacity()) << "the flash player stays under the screen saver it called";
    EXPECT_EQ(0, browser.opacity());

    ASSERT_EQ(0, focus_on_window(BROWSER));
    ASSERT_EQ(0, focus_on_window(FLASH_WIDGET));
    EXPECT_EQ(0xff, browser.opacity()) << "the application under the widget stays visible";
    EXPECT_EQ(0, flash.opacity());

    // A visible window keeps its opacity when focused; an inactive one is refused.
    widget.record.opacity = 0x80;
    ASSERT_EQ(0, focus_on_window(FLASH_WIDGET));
    EXPECT_EQ(0xff, widget.opacity());
    player.record.active = 0;
    EXPECT_EQ(-1, focus_on_window(ADVANCE_MEDIA_PLAYER));
    EXPECT_EQ(-1, focus_on_window(PHOTO_PLAYER));
}

TEST(Focus, BrowserFallsBackToFlashPlayerAndNextAlternatesFirstTwo) {
    App flash(FLASH_LITE, 0), photos(PHOTO_PLAYER, 0), widget(FLASH_WIDGET, 0);
    for (App *a : {&flash, &photos, &widget}) ASSERT_EQ(0, register_window(&a->record));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    EXPECT_EQ(1, flash.record.on_focus);
    ASSERT_EQ(0, focus_next_window());
    EXPECT_EQ(1, photos.record.on_focus);
    ASSERT_EQ(0, focus_next_window());
    EXPECT_EQ(1, flash.record.on_focus);
    EXPECT_EQ(0, widget.record.on_focus) << "the walk starts at the head, never reaching the third";
    // A record that hides the others does so when the walk focuses it.
    photos.record.hide_others = 1;
    widget.record.window->SetOpacity(widget.record.window, 0x40);
    ASSERT_EQ(0, focus_next_window());
    EXPECT_EQ((std::vector<int>{0xff, 0, 0}), (std::vector<int>{photos.opacity(), flash.opacity(), widget.opacity()}));
    photos.record.active = 0;
    widget.record.active = 0;
    EXPECT_EQ(0, focus_next_window());
    EXPECT_EQ(1, flash.record.on_focus);
}

// The handed strings, checked against the count and the closing null.
std::vector<std::string> strings(const kvn_invoke_args *args) {
    std::vector<std::string> out;
    for (int i = 0; args != nullptr && args->argv[i] != nullptr; ++i) out.push_back(args->argv[i]);
    EXPECT_EQ(args ? args->argc : -1, static_cast<int>(out.size()));
    return out;
}

TEST(Forwarding, KeysAndArgumentsReachTheOtherApplicationsLoop) {
    App browser(BROWSER), flash(FLASH_LITE);
    ASSERT_EQ(0, register_window(&browser.record));
    ASSERT_EQ(0, register_window(&flash.record));
    flash.start([](DFBWindowEvent &) { return true; });
    EXPECT_EQ(-1, kvnfw_send_event(TVMODE, DIKS_OK));
    EXPECT_EQ(1, kvn_invoke_framework_apps(42, "%s", "x"));
    ASSERT_EQ(0, kvnfw_send_event(FLASH_LITE, DIKS_OK));
    ASSERT_EQ(0, kvn_invoke_framework_apps(FLASH_LITE, "%s %d %s", "a", 5, "b"));
    ASSERT_TRUE(flash.wait_for_keys(2));
    EXPECT_EQ((std::vector<DFBInputDeviceKeySymbol>{DIKS_OK, DIKS_CUSTOM0}), flash.keys());
    kvn_invoke_args *args = flash.record.invoke_args;
    EXPECT_EQ(strings(args), (std::vector<std::string>{"a", "b"}));

    // Sixteen strings: fourteen kept; a null one arrives empty.
    ASSERT_EQ(0, kvn_invoke_framework_apps(FLASH_LITE, "%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s", "1", "2",
                                           static_cast<const char *>(nullptr), "4", "5", "6", "7",
                                           "8", "9", "10", "11", "12", "13", "14", "15", "16"));
    EXPECT_EQ(args, flash.record.invoke_args) << "the holder is reused";
    EXPECT_EQ(strings(args),
              (std::vector<std::string>{"1", "2", "", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14"}));
}

int declines(DFBWindowEvent *) { return 1; }
int accepts_red(DFBWindowEvent *event) { return event->key_symbol == DIKS_RED ? 0 : 1; }
int accepts_all(DFBWindowEvent *) { return 0; }

TEST(Forwarding, UnwantedEventsAreOfferedToTheOthersInOrder) {
    App browser(BROWSER), player(ADVANCE_MEDIA_PLAYER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    browser.record.external_event_callback = accepts_all;  // the caller's own is never offered it
    photos.record.external_event_callback = declines;      // the media player has none
    flash.record.external_event_callback = accepts_red;
    for (App *a : {&browser, &player, &photos, &flash}) ASSERT_EQ(0, register_window(&a->record));
    DFBWindowEvent event = kvn_test::key_event(DIKS_GREEN);
    EXPECT_EQ(-1, redirect_external_event(&browser.record, &event));
    EXPECT_EQ(DIKS_GREEN, event.key_symbol) << "nobody consumed it: unchanged";
    event.key_symbol = DIKS_RED;
    EXPECT_EQ(0, redirect_external_event(&browser.record, &event));
    EXPECT_EQ(0, static_cast<int>(event.type));
    EXPECT_EQ(DIKS_NULL, event.key_symbol);
    EXPECT_EQ(-1, redirect_external_event(nullptr, nullptr));

    // An event DirectFB refuses is not reported as sent.
    IDirectFBEventBuffer refusing{};
    refusing.PostEvent = [](IDirectFBEventBuffer *, const DFBEvent *) -> DFBResult { return DFB_FAILURE; };
    refusing.WakeUp = [](IDirectFBEventBuffer *) -> DFBResult { return DFB_OK; };
    IDirectFBEventBuffer *real = photos.record.events;
    photos.record.events = &refusing;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, kvnfw_send_event(PHOTO_PLAYER, DIKS_OK));
    testing::internal::GetCapturedStderr();
    photos.record.events = real;
    for (auto callback : {func_default_focus_next_window_callback, func_default_focus_on_window_callback,
                          func_focus_next_window_ensure_subwindows_on_top_callback,
                          func_focus_on_window_ensure_subwindows_on_top_callback})
        EXPECT_EQ(0, callback(&photos.record));
}

// What the library draws on a new window's surface, seen by patching the
// real interfaces' methods in place on their way out of the OSD layer.
namespace drawn {
std::vector<std::string> log;
decltype(IDirectFBDisplayLayer::CreateWindow) create_window;
decltype(IDirectFBWindow::GetSurface) get_surface;
decltype(IDirectFBSurface::SetColor) set_color;
decltype(IDirectFBSurface::FillRectangle) fill;
DFBResult spy_get_surface(IDirectFBWindow *w, IDirectFBSurface **s) {
    DFBResult r = get_surface(w, s);
    set_color = (*s)->SetColor;
    fill = (*s)->FillRectangle;
    (*s)->SetColor = [](IDirectFBSurface *t, u8 r, u8 g, u8 b, u8 a) {
        log.push_back("colour " + std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b) + " " +
                      std::to_string(a));
        return set_color(t, r, g, b, a);
    };
    (*s)->FillRectangle = [](IDirectFBSurface *t, int x, int y, int w, int h) {
        log.push_back("fill " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " +
                      std::to_string(h));
        return fill(t, x, y, w, h);
    };
    return r;
}
DFBResult spy_create_window(IDirectFBDisplayLayer *l, const DFBWindowDescription *d, IDirectFBWindow **w) {
    DFBResult r = create_window(l, d, w);
    get_surface = (*w)->GetSurface;
    (*w)->GetSurface = spy_get_surface;
    return r;
}
}  // namespace drawn

TEST(Windows, CreationClearsTheSurfaceAndUsesTheLayerSize) {
    kvn_test::start_display();
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    drawn::create_window = layer->CreateWindow;
    layer->CreateWindow = drawn::spy_create_window;
    kvn_window w;
    memset(&w, 0, sizeof w);
    DFBWindowDescription desc;
    ASSERT_EQ(0, kvn_create_window_surface_events(&w, &desc, 10, 20, 0, 0, DWCAPS_ALPHACHANNEL, 0x40));
    layer->CreateWindow = drawn::create_window;
    EXPECT_EQ(KVN_WINDOW_MAGIC, w.magic);
    EXPECT_EQ(0x7F, static_cast<int>(desc.flags));
    const int width = kvn_dfb_global_context.kvn_layer_osd_config.width;
    const int height = kvn_dfb_global_context.kvn_layer_osd_config.height;
    EXPECT_EQ(width, desc.width);
    EXPECT_EQ(DSPF_ARGB, desc.pixelformat);
    EXPECT_EQ(DSCAPS_DOUBLE, desc.surface_caps);
    EXPECT_EQ(DWCAPS_ALPHACHANNEL, desc.caps);
    EXPECT_EQ(drawn::log, (std::vector<std::string>{"colour 0 0 0 0", "fill 0 0 " + std::to_string(width) + " " +
                                                                          std::to_string(height)}));
    uint8_t opacity = 0;
    w.window->GetOpacity(w.window, &opacity);
    EXPECT_EQ(0x40, opacity);
    int x = -1, y = -1;
    w.window->GetPosition(w.window, &x, &y);
    EXPECT_EQ(10, x);
    EXPECT_EQ(20, y);
    EXPECT_EQ(0, kvn_window_clean_up(&w));
    EXPECT_EQ(nullptr, w.window);
    EXPECT_EQ(nullptr, w.events);
    EXPECT_EQ(0, kvn_window_clean_up(&w)) << "a second clean-up does nothing";
}

// Application threads register, move the focus, post events and leave,
// all at once: the list must stay whole and nothing may deadlock.
TEST(Concurrency, ManyApplicationThreadsShareTheList) {
    kvn_test::start_display();
    constexpr int kApps = 6;
    std::vector<std::unique_ptr<App>> apps;
    for (int i = 0; i < kApps; ++i) apps.push_back(std::make_unique<App>(2 + i, i % 2));
    std::vector<std::thread> threads;
    for (int i = 0; i < kApps; ++i) {
        threads.emplace_back([&, i] {
            std::mt19937 rng(static_cast<unsigned>(i));
            kvn_window *mine = &apps[static_cast<size_t>(i)]->record;
            for (int round = 0; round < 60; ++round) {
                switch (rng() % 6) {
                    case 0: register_window(mine); break;
                    case 1: unregister_window(mine); break;
                    case 2: focus_on_window(2 + static_cast<int>(rng() % kApps)); break;
                    case 3: focus_next_window(); break;
                    case 4: kvnfw_send_event(2 + static_cast<int>(rng() % kApps), DIKS_OK); break;
                    default: get_window_on_focus(); get_active_apps_count(); break;
                }
            }
            unregister_window(mine);
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(nullptr, kvn_windows_head);
    EXPECT_EQ(nullptr, kvn_windows_end);

    // The thread list the same way, all threads let go at once: every record
    // registered is found again.
    static kvn_thread records[4][20000];
    for (int round = 0; round < 4; ++round) {
        std::atomic<int> ready{0};
        threads.clear();
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([i, &ready] {
                for (++ready; ready < 4;) {
                }
                for (kvn_thread &t : records[i]) register_thread(&t);
            });
        for (auto &t : threads) t.join();
        int listed = 0;
        for (kvn_thread *t = kvn_threads_head; t != nullptr; t = t->next) ++listed;
        EXPECT_EQ(80000, listed) << "round " << round;
        EXPECT_EQ(0, unregister_threads());
    }

    // Every sender hands arguments to the same application at once (its
    // record has no buffer yet: the arguments wait there): each holder
    // update is whole, no string freed twice, no mix of two calls.
    kvn_window target{};
    target.window_id = BROWSER;
    ASSERT_EQ(0, register_window(&target));
    threads.clear();
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([i] {
            std::string mine(40, static_cast<char>('a' + i));
            for (int round = 0; round < 20000; ++round)
                kvn_invoke_framework_apps(BROWSER, "%s %d %s", mine.c_str(), round, mine.c_str());
        });
    }
    for (auto &t : threads) t.join();
    unregister_window(&target);
    std::vector<std::string> got = strings(target.invoke_args);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(got[0], got[1]);
    for (int i = 0; i < 2; ++i) free(target.invoke_args->argv[i]);
    free(target.invoke_args->argv);
    free(target.invoke_args);
}

}  // namespace
