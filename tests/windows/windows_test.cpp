// The window list, focus and visibility between applications read back from DirectFB, events handed
// between them.
#include <gtest/gtest.h>

#include <future>

#include "common/standby_flag.h"
#include "host_stub.h"
#include "input_driver.h"
#include "kvn_app_harness.h"
#include "kvn_dfb_kit.h"
#include "screensaver_stub.h"

using kvn_test::App;
using kvn_test::seen;

namespace {

std::string nums(std::initializer_list<long long> v) {
    std::string out;
    for (long long n : v) out += " " + std::to_string(n);
    return out;
}

kvn_window record(int id, int active = 1, uint8_t opacity = 0xff) {
    kvn_window w{};
    w.window_id = id, w.active = active, w.opacity = opacity;
    return w;
}

// The list from the head, each record's id and focus word, "|" at the tail kvn_windows_end names
// ("|" when empty).
std::string listed() {
    std::string out = kvn_windows_head == nullptr && kvn_windows_end == nullptr ? "|" : "";
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next)
        out += std::to_string(w->window_id) + (w->on_focus ? "*" : "") +
               (w == kvn_windows_end ? "|" : " ");
    return out;
}

// Empty lists answer -1 at once, even while another thread holds the lock; a list with records
// waits for it.
TEST(WindowRegistry, EmptyListsAnswerWithoutWaitingForTheLock) {
    kvn_window w = record(BROWSER);
    kvn_thread t = {1, nullptr, nullptr};
    pthread_mutex_lock(&kvn_mutex_windows);
    pthread_mutex_lock(&kvn_mutex_threads);
    auto answers = std::async(std::launch::async, [&] {
        return std::vector<int>{unregister_window(&w), focus_next_window(), unregister_thread(&t)};
    });
    bool answered = answers.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    pthread_mutex_unlock(&kvn_mutex_threads);
    EXPECT_TRUE(answered) << "blocked behind the lock";
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), answers.get());
    kvn_window other = record(PHOTO_PLAYER);  // already listed while the lock is held
    kvn_windows_head = kvn_windows_end = &other;
    auto counted = std::async(std::launch::async, [] { return get_active_window_count(); });
    EXPECT_EQ(std::future_status::timeout, counted.wait_for(std::chrono::milliseconds(50)))
        << "read under the lock";
    pthread_mutex_unlock(&kvn_mutex_windows);
    EXPECT_EQ(1, counted.get());
}

TEST(WindowRegistry, KeepsRegistrationOrderThroughAppendsAndRemovals) {
    kvn_window a = record(BROWSER), b = record(PHOTO_PLAYER), c = record(BROWSER),
               d = record(FLASH_LITE), e = record(ADVANCE_MEDIA_PLAYER), stranger = record(TVMODE);
    EXPECT_EQ(-1, register_window(nullptr));
    ASSERT_TRUE(register_window(&a) == 0 && listed() == "2|");
    for (kvn_window *w : {&b, &c, &d, &e}) ASSERT_EQ(0, register_window(w));
    EXPECT_EQ("korvan_framework_lib: register_window: record already registered\n",
              kvn_test::captured_stderr([&] { EXPECT_EQ(-1, register_window(&b)); }))
        << "a record linked twice would loop the list";
    EXPECT_EQ("2 4 2 8 3|", listed());
    EXPECT_EQ(-1, unregister_window(&stranger));
    for (kvn_window *w : {&e, &a, &d})
        EXPECT_EQ(0, unregister_window(w));  // the tail, the head, a middle one
    EXPECT_EQ("4 2|", listed());
    for (kvn_window *w : {&b, &c}) EXPECT_EQ(0, unregister_window(w));
    EXPECT_EQ("|", listed());
}

TEST(WindowRegistry, LookupsAnswerForTheFirstRecordOfAnIdentifier) {
    kvn_window a = record(BROWSER), b = record(PHOTO_PLAYER, 2), c = record(BROWSER),
               idle = record(PLAYLIST_NAVIGATOR, 0);
    for (kvn_window *w : {&a, &b, &c, &idle}) ASSERT_EQ(0, register_window(w));
    c.on_focus = 1, c.active = 0;
    EXPECT_EQ(&a, get_window_node(BROWSER));
    EXPECT_EQ(nullptr, get_window_node(42));
    EXPECT_EQ(&c, get_window_on_focus());
    EXPECT_EQ(
        (std::vector<int>{-1, -1, 1, 1, 0, 0}),
        (std::vector<int>{is_self_on_focus(-7), check_window_is_active(11),
                          check_window_is_active(BROWSER), check_window_is_active(PHOTO_PLAYER),
                          check_window_is_active(PLAYLIST_NAVIGATOR), is_self_on_focus(BROWSER)}));
    EXPECT_EQ(2, get_active_window_count());
    for (kvn_window *w : {&a, &b, &c, &idle}) ASSERT_EQ(0, unregister_window(w));
    EXPECT_EQ(0, get_active_window_count());
    std::string names;
    for (const char *name : window_id_str) names += std::string(name) + " ";
    EXPECT_EQ(
        "DUMMY1 DUMMY2 BROWSER ADVANCE_MEDIA_PLAYER PHOTO_PLAYER SCREEN_SAVER VISUAL_CONTROLLER "
        "PLAYLIST_NAVIGATOR FLASH_LITE FLASH_WIDGET TVMODE ",
        names)
        << "the names applications give the identifiers";
}

// Only the browser, playlist navigator, photo player and flash player count, by their first record,
// and only when it holds exactly 1.
TEST(WindowRegistry, ActiveAppsCountTheFourApplicationsWhoseFirstRecordIsActive) {
    std::string counted;
    for (int id = DUMMY1; id <= TVMODE; ++id) {
        kvn_window first = record(id, 2), second = record(id);
        ASSERT_TRUE(register_window(&first) == 0 && register_window(&second) == 0);
        counted += std::to_string(get_active_apps_count());
        first.active = 1;
        counted += std::to_string(get_active_apps_count()) + " ";
        ASSERT_TRUE(unregister_window(&first) == 0 && unregister_window(&second) == 0);
    }
    EXPECT_EQ("00 00 01 00 01 00 00 01 01 00 00 ", counted);
    kvn_window all[] = {record(BROWSER), record(PLAYLIST_NAVIGATOR), record(PHOTO_PLAYER),
                        record(FLASH_LITE)};
    for (kvn_window &w : all) ASSERT_EQ(0, register_window(&w));
    EXPECT_EQ(4, get_active_apps_count());
    for (kvn_window &w : all) ASSERT_EQ(0, unregister_window(&w));
}

TEST(WindowRegistry, RemovingTheFocusedRecordPassesTheFocusOn) {
    kvn_window first = record(BROWSER, 1, 0), idle = record(PLAYLIST_NAVIGATOR, 0),
               second = record(PHOTO_PLAYER), focused = record(FLASH_LITE), later = record(TVMODE);
    focused.on_focus = 1;
    for (kvn_window *w : {&first, &idle, &second, &focused, &later})
        ASSERT_EQ(0, register_window(w));
    ASSERT_EQ(0, unregister_window(&focused));
    EXPECT_EQ(0, focused.on_focus);
    // Opacity 0 or inactive can never take the focus; the first eligible record can, even one
    // registered before.
    EXPECT_EQ("2 7 4* 10|", listed());

    // The visual controller leaving during a standby hands the focus to nobody.
    kvn_window controller = record(VISUAL_CONTROLLER);
    second.on_focus = 0, controller.on_focus = 1;
    ASSERT_EQ(0, register_window(&controller));
    kvn::standby_flag_store(1);
    ASSERT_EQ(0, unregister_window(&controller));
    kvn::standby_flag_store(0);
    EXPECT_EQ("2 7 4 10|", listed());
}

TEST(ThreadRegistry, CleaningStopsInOrderAndForgettingLeavesTheRecords) {
    static std::vector<int> stopped;
    static kvn_thread one, none, three;
    // The first routine reuses its own record, as one that frees it may.
    one = {1,
           [] {
               stopped.push_back(1);
               one.next = nullptr;
           },
           nullptr},
    none = {2, nullptr, nullptr};
    three = {3, [] { stopped.push_back(3); }, nullptr};
    EXPECT_EQ(-1, register_thread(nullptr));
    for (kvn_thread *t : {&one, &none, &three}) ASSERT_EQ(0, register_thread(t));
    EXPECT_EQ(0, unregister_thread(&three));
    EXPECT_EQ(-1, unregister_thread(&three)) << "a record no longer in the list";
    EXPECT_TRUE(kvn_threads_end == &none && none.next == nullptr);
    ASSERT_EQ(0, register_thread(&three));
    EXPECT_EQ(-1, clean_threads());
    EXPECT_EQ((std::vector<int>{1, 3}), stopped);
    EXPECT_TRUE(kvn_threads_head == nullptr && kvn_threads_end == nullptr);
    for (kvn_thread *t : {&one, &none}) ASSERT_EQ(0, register_thread(t));
    EXPECT_EQ(0, unregister_threads());
    EXPECT_TRUE(kvn_threads_head == nullptr && one.next == nullptr);
    ASSERT_EQ(0, register_thread(&one));
    EXPECT_TRUE(unregister_thread(&one) == 0 && kvn_threads_end == nullptr);
}

// Kept beside the mutants' cover: a missing lock is a race no planted fault shows.
TEST(ThreadRegistry, RegistrationsAtOnceLoseNoRecord) {
    static kvn_thread records[4][20000];
    for (int round = 0; round < 4; ++round) {
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (auto &mine : records)  // let go at once
            threads.emplace_back([&] {
                for (++ready; ready < 4;) {
                }
                for (kvn_thread &t : mine) register_thread(&t);
            });
        for (auto &t : threads) t.join();
        int listed = 0;
        for (kvn_thread *t = kvn_threads_head; t != nullptr; t = t->next) ++listed;
        EXPECT_EQ(80000, listed) << "round " << round;
        EXPECT_EQ(0, unregister_threads());
    }
}

TEST(SurfaceRegistry, IntrusiveListLinksBehindTheGivenTailAndLeavesTheHeadToTheCaller) {
    kvn_surface_node a = {nullptr, nullptr}, b = {nullptr, nullptr}, c = {nullptr, nullptr};
    EXPECT_EQ(" -1 0 0",
              nums({register_surface(&a, &a, nullptr), register_surface(nullptr, nullptr, &a),
                    register_surface(&a, &a, &b)}));
    EXPECT_EQ(&b, a.next);
    EXPECT_EQ(0, unregister_surface(&a, &b, &a));
    EXPECT_EQ(&b, a.next) << "the head: the caller moves it";
    EXPECT_EQ(0, register_surface(&a, &b, &c));
    EXPECT_EQ(0, unregister_surface(&a, &c, &b)) << "a middle one";
    EXPECT_EQ(&c, a.next);
    EXPECT_TRUE(unregister_surface(&a, &c, &c) == 0 && a.next == nullptr);
    EXPECT_EQ(-2, unregister_surface(&a, &a, &b) + unregister_surface(nullptr, nullptr, &a));
}

// The framework allocates and frees the nodes; clean_surfaces releases every surface and answers
// -1 all the same.
TEST(SurfaceRegistry, SimpleListOwnsItsNodesAndCleaningReleasesEverySurface) {
    static std::vector<IDirectFBSurface *> released;
    IDirectFBSurface s[2]{};
    s[0].Release = s[1].Release = [](IDirectFBSurface *thiz) -> DirectResult {
        return released.push_back(thiz), DR_OK;
    };
    kvn_surface_node *h = nullptr, *t = nullptr;  // head and tail
    EXPECT_EQ(
        " -1 -1 -1 0 0",
        nums({register_surface_simple(nullptr, &t, s), register_surface_simple(&h, nullptr, s),
              register_surface_simple(&h, &t, nullptr), register_surface_simple(&h, &t, &s[0]),
              register_surface_simple(&h, &t, &s[1])}));
    EXPECT_TRUE(h->surface == &s[0] && t->surface == &s[1]);
    EXPECT_EQ(0, unregister_surface_simple(&h, &t, &s[1]));
    EXPECT_TRUE(h == t && h->next == nullptr);
    EXPECT_EQ(
        " -1 0 -1 -1",
        nums({unregister_surface_simple(&h, &t, &s[1]), unregister_surface_simple(&h, &t, &s[0]),
              unregister_surface_simple(&h, &t, &s[0]), clean_surfaces(nullptr)}));
    EXPECT_TRUE(h == nullptr && t == nullptr);
    const size_t heap = kvn_test::heap_in_use();
    for (int i = 0; i < 10000; ++i)
        register_surface_simple(&h, &t, &s[0]), unregister_surface_simple(&h, &t, &s[0]);
    EXPECT_LT(kvn_test::heap_in_use(), heap + 100000) << "an unlinked node is freed";
    for (IDirectFBSurface &one : s) ASSERT_EQ(0, register_surface_simple(&h, &t, &one));
    EXPECT_TRUE(clean_surfaces(h) == -1 &&
                (released == std::vector<IDirectFBSurface *>{&s[0], &s[1]}));
}

// A callback under the list's lock calling back into it stops the process with a report, not a
// deadlock.
void (*g_reenter)();
void hold_and_reenter(bool redirect) {
    kvn_window a = record(BROWSER), b = record(FLASH_LITE);
    a.focus_on_window_callback = [](kvn_window *) { return g_reenter(), 0; };
    b.external_event_callback = [](DFBWindowEvent *) { return g_reenter(), 0; };
    register_window(&a), register_window(&b);
    DFBWindowEvent e{};
    redirect ? redirect_external_event(&a, &e) : focus_on_window(BROWSER);
}

TEST(WindowRegistryDeathTest, CallbackCallingBackIntoTheRegistryStopsLoudly) {
    static kvn_window other = record(PHOTO_PLAYER);
    const std::pair<const char *, void (*)()> rows[] = {
        {"register_window", [] { register_window(&other); }},
        {"get_window_node", [] { get_window_node(BROWSER); }},
        {"unregister_window", [] { unregister_window(&other); }},
        {"focus_next_window", [] { focus_next_window(); }},
        {"get_window_on_focus", [] { get_window_on_focus(); }},
        {"is_self_on_focus", [] { is_self_on_focus(BROWSER); }},
        {"check_window_is_active", [] { check_window_is_active(BROWSER); }},
        {"get_active_window_count", [] { get_active_window_count(); }},
        {"focus_on_window", [] { focus_on_window(FLASH_LITE); }},
        {"kvn_invoke_framework_apps", [] { kvn_invoke_framework_apps(BROWSER, ""); }},
        {"redirect_external_event",
         [] {
             DFBWindowEvent e{};
             redirect_external_event(nullptr, &e);
         }},
    };
    // The list held by focus_on_window for every row, by redirect_external_event for one more.
    for (size_t i = 0; i <= std::size(rows); ++i) {
        const bool redirect = i == std::size(rows);
        g_reenter = rows[redirect ? 1 : i].second;
        EXPECT_DEATH(hold_and_reenter(redirect),
                     "korvan_framework_lib: " + std::string(rows[redirect ? 1 : i].first) +
                         " called while this thread "
                         "holds the window list for " +
                         (redirect ? "redirect_external_event" : "focus_on_window") +
                         " \\(a window callback must not call window-list operations\\); stopping "
                         "instead of deadlocking");
    }
}

// An operation's result, then what is seen of the applications after it.
std::string after(int result, std::initializer_list<App *> apps) {
    return std::to_string(result) + " " + seen(apps);
}

// The strings handed over up to the closing null, "|" after each, then the count.
std::string strings(const kvn_invoke_args *args) {
    std::string out;
    for (int i = 0; args->argv[i] != nullptr; ++i) out += std::string(args->argv[i]) + "|";
    return out + std::to_string(args->argc);
}

// Applications on windows whose focus calls are logged, each line naming the application
// ("BROWSER SetOpacity 0|"), with the callbacks run on the record that took the focus.
class Focus : public kvn_test::SpiedOsdLayerTest {
  protected:
    void enter(std::initializer_list<App *> apps) {
        watch(apps);
        ASSERT_TRUE(kvn_test::register_all(apps));
    }
    void watch(std::initializer_list<App *> apps) {
        for (App *a : apps) {
            names_.emplace_back("w" + std::to_string(kvn_test::window_id(a->record.window)) + " ",
                                std::string(window_id_str[a->record.window_id]) + " ");
            a->record.focus_on_window_callback = [](kvn_window *w) {
                return kvn_test::dfb_calls.push_back(std::string(window_id_str[w->window_id]) +
                                                     " called back"),
                       0;
            };
            a->record.focus_next_window_callback = [](kvn_window *w) {
                return kvn_test::dfb_calls.push_back(std::string(window_id_str[w->window_id]) +
                                                     " called back next"),
                       0;
            };
        }
    }
    // The calls `operation` made, in order, after its result.
    std::string log(const std::function<int()> &operation) {
        kvn_test::dfb_calls.clear();
        std::string out = std::to_string(operation()) + " ";
        for (std::string line : kvn_test::dfb_calls) {
            for (const auto &[id, name] : names_)
                if (line.rfind(id, 0) == 0) line = name + line.substr(id.size());
            out += line + "|";
        }
        return out;
    }

  private:
    std::vector<std::pair<std::string, std::string>> names_;
};
using Forwarding = kvn_test::DirectFBTest;
using WindowCreation = kvn_test::SpiedOsdLayerTest;

TEST_F(Focus, OnAnApplicationHidesTheOthersInOrderThenShowsRaisesAndCallsItBack) {
    App browser(BROWSER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    enter({&browser, &photos, &flash});
    EXPECT_EQ(
        "0 PHOTO_PLAYER SetOpacity 0|FLASH_LITE SetOpacity 0|BROWSER SetOpacity 255|"
        "BROWSER RequestFocus|BROWSER RaiseToTop|BROWSER called back|",
        log([] { return focus_on_window(BROWSER); }));
    EXPECT_EQ(1, is_self_on_focus(BROWSER));
    EXPECT_EQ(&browser.record, get_window_on_focus());
}

TEST_F(Focus, SwitchBetweenApplicationsTellsTheScreenSaverAndTheOneThatLostIt) {
    App browser(BROWSER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    enter({&browser, &photos, &flash});
    ASSERT_EQ(0, focus_on_window(BROWSER));
    size_t before = kvn_test::osd_calls().size();
    int switches = scsvr_stub_switch_count();
    // The photo player runs in the background: it stays visible under the flash player.
    host_stub_set_bgrun(1);
    EXPECT_EQ(
        "0 BROWSER SetOpacity 0|PHOTO_PLAYER SetOpacity 255|FLASH_LITE SetOpacity 255|"
        "FLASH_LITE RequestFocus|FLASH_LITE RaiseToTop|FLASH_LITE called back|",
        log([] { return focus_on_window(FLASH_LITE); }));
    EXPECT_EQ("0 255 255* ", seen({&browser, &photos, &flash}));
    EXPECT_EQ(switches + 1, scsvr_stub_switch_count());
    // To the one that lost the focus, all on one opened connection.
    std::vector<osd_call> calls = kvn_test::osd_calls();
    std::string sent;
    for (const osd_call &c :
         std::vector<osd_call>(calls.begin() + static_cast<long>(before), calls.end()))
        sent += nums({c.owner, c.command, c.flags, c.mode, c.length,
                      c.connection - calls[before].connection}) +
                (c.connection != 0 ? "|" : " unopened|");
    EXPECT_EQ(" 102 -3 0 0 0 0| 102 35 -1 -1 0 0| 102 -2 0 0 0 0|", sent);
    // Focusing the holder again: raised again, its opacity kept, no platform call.
    EXPECT_EQ(
        "0 BROWSER SetOpacity 0|PHOTO_PLAYER SetOpacity 255|FLASH_LITE RequestFocus|"
        "FLASH_LITE RaiseToTop|FLASH_LITE called back|",
        log([] { return focus_on_window(FLASH_LITE); }));
    EXPECT_EQ(switches + 1, scsvr_stub_switch_count());
    EXPECT_EQ(calls.size(), kvn_test::osd_calls().size());
    host_stub_set_bgrun(0);
    EXPECT_EQ(
        "0 BROWSER SetOpacity 0|PHOTO_PLAYER SetOpacity 0|FLASH_LITE RequestFocus|FLASH_LITE "
        "RaiseToTop|"
        "FLASH_LITE called back|",
        log([] { return focus_on_window(FLASH_LITE); }))
        << "without the background run the photo player is hidden";
}

TEST_F(Focus, WithoutHidingOthersTheirOpacityIsNotTouched) {
    App browser(BROWSER, 0), photos(PHOTO_PLAYER, 0);
    enter({&browser, &photos});
    ASSERT_EQ(0, focus_on_window(BROWSER));
    EXPECT_EQ(
        "0 PHOTO_PLAYER SetOpacity 255|PHOTO_PLAYER RequestFocus|PHOTO_PLAYER RaiseToTop|"
        "PHOTO_PLAYER called back|",
        log([] { return focus_on_window(PHOTO_PLAYER); }));
    EXPECT_EQ("255 255* ", seen({&browser, &photos}));
}

TEST_F(Focus, LeavingItHandsItToTheFirstEligibleWithoutRaiseOrCallback) {
    App browser(BROWSER), flash(FLASH_LITE);
    enter({&browser, &flash});
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    EXPECT_EQ("0 BROWSER SetOpacity 255|BROWSER RequestFocus|FLASH_LITE SetOpacity 0|",
              log([&] { return unregister_window(&flash.record); }));
    EXPECT_EQ("255* 0 ", seen({&browser, &flash}));
    EXPECT_TRUE(kvn_test::eventually([&] { return browser.has_directfb_focus(); }));
}

TEST_F(Focus, ScreenSaverKeepsTheMediaPlayerAsItWasAndTheFlashPlayerIfItCalledIt) {
    App player(ADVANCE_MEDIA_PLAYER), photos(PHOTO_PLAYER), flash(FLASH_LITE), saver(SCREEN_SAVER),
        browser(BROWSER);
    enter({&player, &photos, &flash, &saver, &browser});
    std::string under_saver;
    for (int previous : {FLASH_LITE, PHOTO_PLAYER, BROWSER}) {
        ASSERT_EQ(0, focus_on_window(previous));
        player.record.window->SetOpacity(player.record.window, 0x33);
        ASSERT_EQ(0, focus_on_window(SCREEN_SAVER));
        under_saver += seen({&player, &photos, &flash, &browser}) + "| ";
    }
    EXPECT_EQ("51 0 255 0 | 51 0 255 0 | 51 0 0 0 | ", under_saver);
    // Only the records after the old holder see it: a flash player listed before the photos goes.
    ASSERT_TRUE(unregister_window(&photos.record) == 0 && register_window(&photos.record) == 0);
    ASSERT_TRUE(focus_on_window(PHOTO_PLAYER) == 0 && focus_on_window(SCREEN_SAVER) == 0);
    EXPECT_EQ("0 ", seen({&flash}));
}

TEST_F(Focus, WidgetKeepsTheApplicationUnderItVisible) {
    App player(ADVANCE_MEDIA_PLAYER), flash(FLASH_LITE), widget(FLASH_WIDGET), browser(BROWSER);
    enter({&player, &flash, &widget, &browser});
    ASSERT_EQ(0, focus_on_window(BROWSER));
    browser.record.window->SetOpacity(browser.record.window, 0x40);
    ASSERT_EQ(0, focus_on_window(FLASH_WIDGET));
    EXPECT_EQ("0 0 255* 255 ", seen({&player, &flash, &widget, &browser}));
}

TEST_F(Focus, AVisibleWindowKeepsItsOpacityAndAnIneligibleRecordIsRefused) {
    App player(ADVANCE_MEDIA_PLAYER), widget(FLASH_WIDGET), browser(BROWSER);
    enter({&player, &widget, &browser});
    widget.record.window->SetOpacity(widget.record.window, 0xff);
    widget.record.opacity = 0x80;
    ASSERT_EQ(0, focus_on_window(FLASH_WIDGET));
    EXPECT_EQ(0xff, widget.opacity());
    player.record.active = 0, widget.record.opacity = 0, browser.record.opacity = 1,
    browser.record.active = 2;
    EXPECT_EQ("-1 |", log([] { return focus_on_window(ADVANCE_MEDIA_PLAYER); }) + "|");
    EXPECT_EQ("-1 |", log([] { return focus_on_window(FLASH_WIDGET); }) + "|");
    EXPECT_EQ("-1 |", log([] { return focus_on_window(DUMMY1); }) + "|");
    EXPECT_EQ(1, is_self_on_focus(FLASH_WIDGET)) << "the refusals changed nothing";
    EXPECT_EQ(0, focus_on_window(BROWSER));
}

// Registration focuses a record that asks for it, when it can take it; one that cannot keeps its
// word beside the holder's.
TEST_F(Focus, ARecordRegisteredActiveAndFocusedTakesIt) {
    App idle(PHOTO_PLAYER), browser(BROWSER), flash(FLASH_LITE);
    watch({&idle, &browser, &flash});
    idle.record.on_focus = browser.record.on_focus = flash.record.on_focus = 1;
    idle.record.active = 0, flash.record.opacity = 0;
    EXPECT_EQ("0 ", log([&] { return register_window(&idle.record); }));
    EXPECT_EQ(
        "0 PHOTO_PLAYER SetOpacity 0|BROWSER SetOpacity 255|BROWSER RequestFocus|"
        "BROWSER RaiseToTop|BROWSER called back|",
        log([&] { return register_window(&browser.record); }));
    EXPECT_EQ("0 ", log([&] { return register_window(&flash.record); }));
    EXPECT_EQ("4 2* 8*|", listed());
}

TEST_F(Focus, OnTheBrowserFallsBackToTheFlashPlayer) {
    App flash(FLASH_LITE, 0), photos(PHOTO_PLAYER, 0);
    enter({&flash, &photos});
    EXPECT_EQ("0 255* 0 ", after(focus_on_window(BROWSER), {&flash, &photos}));
}

TEST_F(Focus, NextAlternatesTheFirstTwoEligibleFromTheHead) {
    App flash(FLASH_LITE, 0), photos(PHOTO_PLAYER, 0), widget(FLASH_WIDGET, 0);
    enter({&flash, &photos, &widget});
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    EXPECT_EQ(
        "0 PHOTO_PLAYER SetOpacity 255|PHOTO_PLAYER RequestFocus|PHOTO_PLAYER RaiseToTop|"
        "PHOTO_PLAYER called back next|",
        log(focus_next_window));
    EXPECT_EQ("255 255* 0 ", seen({&flash, &photos, &widget}));
    EXPECT_EQ("0 255* 255 0 ", after(focus_next_window(), {&flash, &photos, &widget}))
        << "from the head, not the third";
    // A record that hides the others hides them all, the old holder too, without exceptions.
    photos.record.hide_others = 1;
    widget.record.window->SetOpacity(widget.record.window, 0x40);
    host_stub_set_bgrun(1);
    EXPECT_EQ(
        "0 FLASH_LITE SetOpacity 0|FLASH_WIDGET SetOpacity 0|PHOTO_PLAYER SetOpacity 255|"
        "PHOTO_PLAYER RequestFocus|PHOTO_PLAYER RaiseToTop|PHOTO_PLAYER called back next|",
        log(focus_next_window));
    host_stub_set_bgrun(0);
    photos.record.active = widget.record.active = 0;
    EXPECT_EQ("0 255* 255 ", after(focus_next_window(), {&flash, &photos}));
    flash.record.active = 0;
    EXPECT_EQ("0 |", log(focus_next_window) + "|") << "nothing to focus";
    EXPECT_EQ(1, flash.record.on_focus);
    flash.record.on_focus = 2, flash.record.active = photos.record.active = 1;
    EXPECT_EQ(-1, focus_next_window()) << "no focus word of exactly 1";
}

TEST_F(Forwarding, KeysAndArgumentsReachTheOtherApplicationsLoop) {
    App browser(BROWSER), flash(FLASH_LITE);
    ASSERT_TRUE(kvn_test::register_all({&browser, &flash}));
    static std::vector<DFBWindowEvent> received;  // a key-down naming the key, nothing else set
    flash.start([](DFBWindowEvent &e) {
        if (e.type == DWET_KEYDOWN) received.push_back(e);
        return true;
    });
    EXPECT_EQ(-1, kvnfw_send_event(TVMODE, DIKS_OK));
    EXPECT_EQ(1, kvn_invoke_framework_apps(42, "%s", "x"));
    ASSERT_EQ(0, kvnfw_send_event(FLASH_LITE, DIKS_OK));
    ASSERT_EQ(0, kvn_invoke_framework_apps(FLASH_LITE, "%s %d %s", "a", 5, "b"));
    ASSERT_TRUE(flash.wait_for_keys(2));
    EXPECT_EQ((std::vector<DFBInputDeviceKeySymbol>{DIKS_OK, DIKS_CUSTOM0}), flash.keys());
    kvn_invoke_args *args = flash.record.invoke_args;
    EXPECT_EQ("a|b|2", strings(args));
    // Sixteen strings: fourteen kept; a null one arrives empty; the holder is reused.
    ASSERT_EQ(0, kvn_invoke_framework_apps(FLASH_LITE, "%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s", "1", "2",
                                           static_cast<const char *>(nullptr), "4", "5", "6", "7",
                                           "8", "9", "10", "11", "12", "13", "14", "15", "16"));
    EXPECT_EQ(args, flash.record.invoke_args);
    EXPECT_EQ("1|2||4|5|6|7|8|9|10|11|12|13|14|14", strings(args));
    const std::string big(4000, 'x');  // 400 kB if the strings a reused holder drops were not freed
    size_t heap = kvn_test::heap_in_use();
    for (int i = 0; i < 100; ++i) kvn_invoke_framework_apps(FLASH_LITE, "%s", big.c_str());
    EXPECT_TRUE(flash.wait_for_keys(103) && kvn_test::heap_in_use() < heap + 200000);
    // Senders to one application at once share its holder (a race shows under the sanitizers).
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([] {
            for (int i = 0; i < 200; ++i) kvn_invoke_framework_apps(FLASH_LITE, "%d", i);
        });
    for (auto &t : senders) t.join();
    EXPECT_TRUE(flash.wait_for_keys(903));
    flash.stop();
    ASSERT_EQ(903u, received.size());
    for (const DFBWindowEvent &e : received)
        EXPECT_EQ(nums({DFEC_WINDOW, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                  nums({e.clazz, e.flags, e.key_id, e.key_code, e.modifiers, e.locks, e.button,
                        e.buttons, e.x, e.y}));
}

TEST_F(Forwarding, UnwantedEventsAreOfferedToTheOthersInOrder) {
    App browser(BROWSER), player(ADVANCE_MEDIA_PLAYER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    App widget(FLASH_WIDGET);
    // The caller's own handler is offered nothing; the media player has none; the photo player
    // declines; the flash player takes RED, the widget BLUE.
    static std::string offered;
    browser.record.external_event_callback = [](DFBWindowEvent *) { return offered += "B", 0; };
    photos.record.external_event_callback = [](DFBWindowEvent *) { return offered += "P", 1; };
    flash.record.external_event_callback = [](DFBWindowEvent *e) {
        return offered += "F", e->key_symbol == DIKS_RED ? 0 : 1;
    };
    widget.record.external_event_callback = [](DFBWindowEvent *e) {
        return offered += "W", e->key_symbol == DIKS_BLUE ? 0 : 1;
    };
    ASSERT_TRUE(kvn_test::register_all({&browser, &player, &photos, &flash, &widget}));
    DFBWindowEvent event = kvn_test::key_event(DIKS_GREEN);
    EXPECT_EQ(-1, redirect_external_event(&browser.record, &event));
    EXPECT_TRUE(event.type == DWET_KEYDOWN && event.key_symbol == DIKS_GREEN) << "unchanged";
    event.key_symbol = DIKS_RED;
    EXPECT_EQ(0, redirect_external_event(&browser.record, &event));
    EXPECT_TRUE(event.type == 0 && event.key_symbol == DIKS_NULL);
    EXPECT_EQ("PFWPF", offered) << "in order, up to the first that takes it";
    event = kvn_test::key_event(DIKS_BLUE);
    EXPECT_EQ(0, redirect_external_event(nullptr, &event));
    EXPECT_EQ("PFWPFB", offered) << "without a caller, the first handler of all";
    EXPECT_EQ(-1, redirect_external_event(nullptr, nullptr));
    // A record without an event buffer keeps its arguments and is sent no key.
    kvn_window bare = record(VISUAL_CONTROLLER);
    ASSERT_EQ(0, register_window(&bare));
    EXPECT_EQ(0, kvn_invoke_framework_apps(VISUAL_CONTROLLER, "%s", "kept"));
    EXPECT_EQ("kept|1", strings(bare.invoke_args));
    EXPECT_EQ(-1, kvnfw_send_event(VISUAL_CONTROLLER, DIKS_OK));
    free(bare.invoke_args->argv[0]), free(bare.invoke_args->argv), free(bare.invoke_args);
    ASSERT_EQ(0, unregister_window(&bare));
    // An event DirectFB refuses is not reported as sent.
    IDirectFBEventBuffer refusing{}, *real = photos.record.events;
    refusing.PostEvent = [](IDirectFBEventBuffer *, const DFBEvent *) -> DFBResult {
        return DFB_FAILURE;
    };
    refusing.WakeUp = [](IDirectFBEventBuffer *) -> DFBResult { return DFB_OK; };
    photos.record.events = &refusing;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, kvnfw_send_event(PHOTO_PLAYER, DIKS_OK));
    testing::internal::GetCapturedStderr();
    photos.record.events = real;
    for (auto callback :
         {func_default_focus_next_window_callback, func_default_focus_on_window_callback,
          func_focus_next_window_ensure_subwindows_on_top_callback,
          func_focus_on_window_ensure_subwindows_on_top_callback})
        EXPECT_EQ(0, callback(&photos.record));
}

TEST_F(WindowCreation, MakesAClearedWindowOfTheLayerSizeAndCleanUpReleasesItInReverse) {
    const DFBDisplayLayerConfig &layer = kvn_dfb_global_context.kvn_layer_osd_config;
    const std::string size = std::to_string(layer.width) + "x" + std::to_string(layer.height);
    kvn_window w{};
    DFBWindowDescription desc;
    kvn_test::dfb_calls.clear();
    ASSERT_EQ(0,
              kvn_create_window_surface_events(&w, &desc, 10, 20, 0, 0, DWCAPS_ALPHACHANNEL, 0x40));
    const std::string id = "w" + std::to_string(kvn_test::window_id(w.window));
    EXPECT_EQ((std::vector<std::string>{
                  "GetConfiguration", "CreateWindow 10,20 " + size, "window GetSurface",
                  "SetDrawingFlags 0", "window CreateEventBuffer", "SetColor 00 00 00 00",
                  "FillRectangle 0,0 " + size, "Flip whole 0", id + " SetOpacity 64"}),
              kvn_test::dfb_calls);
    EXPECT_EQ(
        nums({KVN_WINDOW_MAGIC, 0x7F, layer.width, DSPF_ARGB, DSCAPS_DOUBLE, DWCAPS_ALPHACHANNEL}),
        nums({w.magic, desc.flags, desc.width, desc.pixelformat, desc.surface_caps, desc.caps}));
    kvn_test::dfb_calls.clear();
    EXPECT_EQ(0, kvn_window_clean_up(&w));
    EXPECT_EQ((std::vector<std::string>{"events released", "surface released", "window released"}),
              kvn_test::dfb_calls);
    EXPECT_TRUE(w.window == nullptr && w.surface == nullptr && w.events == nullptr);
    EXPECT_EQ(0, kvn_window_clean_up(&w) + kvn_window_clean_up(nullptr))
        << "a second clean-up, or of nothing";
    EXPECT_EQ(3u, kvn_test::dfb_calls.size());
}

// The standby and the TV-mode menu make and drop their own DirectFB objects while applications run.
using Leftovers = kvn_test::DirectFBTest;
TEST_F(Leftovers, NoneAfterAStandbyOrATvModeMenu) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(50);
    App browser(BROWSER), flash(FLASH_LITE);
    ASSERT_TRUE(kvn_test::register_all({&browser, &flash}) && focus_on_window(BROWSER) == 0);
    const std::string before = kvn_test::dfb_leftovers();
    browser.start(), flash.start();
    browser.press(DIKS_POWER);  // the flash player runs the standby
    ASSERT_TRUE(kvn_test::eventually([] { return kvn_input_driver::has_reader(); }));
    ASSERT_TRUE(kvn_input_driver::post(kvn_test::input_key(DIKS_POWER)));
    ASSERT_TRUE(kvn_test::eventually(
        [] { return kvn_get_standby_mode() == 0 && !kvn_input_driver::has_reader(); }));
    EXPECT_EQ(before, kvn_test::dfb_leftovers()) << "after a standby";
    ASSERT_EQ(0, focus_on_window(BROWSER));
    int handled = browser.handled();
    for (DFBInputDeviceKeySymbol k :
         {DIKS_TV, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN})
        browser.press(k);
    ASSERT_TRUE(kvn_test::eventually([&] { return browser.handled() > handled; }, 20000))
        << "the menu never ended";
    auto calls = kvn_test::osd_calls();
    EXPECT_TRUE(
        std::any_of(calls.begin(), calls.end(), [](const osd_call &c) { return c.command == 42; }));
    EXPECT_EQ(before, kvn_test::dfb_leftovers()) << "after a menu";
}

}  // namespace
