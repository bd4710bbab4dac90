// The window list is how every application finds the others: order, lookups and refusals hold under bad input.
#include <gtest/gtest.h>

#include <future>

#include "korvan_framework_lib.h"
#include "kvn_standby_flag.h"

namespace {

kvn_window record(int id, int active = 1, uint8_t opacity = 0xff) {
    kvn_window w{};
    w.window_id = id, w.active = active, w.opacity = opacity;
    return w;
}

// The list from the head, each record's id and focus word, "|" at the tail kvn_windows_end names ("|" when empty).
std::string listed() {
    std::string out = kvn_windows_head == nullptr && kvn_windows_end == nullptr ? "|" : "";
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next)
        out += std::to_string(w->window_id) + (w->on_focus ? "*" : "") + (w == kvn_windows_end ? "|" : " ");
    return out;
}

// Empty lists answer -1 at once, even while another thread holds the lock for a long focus change; a list
// with records waits for it.
TEST(WindowRegistry, EmptyListsAnswerWithoutWaitingForTheLock) {
    kvn_window w = record(BROWSER);
    kvn_thread t = {1, nullptr, nullptr};
    pthread_mutex_lock(&kvn_mutex_windows); pthread_mutex_lock(&kvn_mutex_threads);
    auto answers = std::async(std::launch::async, [&] {
        return std::vector<int>{unregister_window(&w), focus_next_window(), unregister_thread(&t)};
    });
    bool answered = answers.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    pthread_mutex_unlock(&kvn_mutex_threads); EXPECT_TRUE(answered) << "blocked behind the lock";
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), answers.get());
    kvn_window other = record(PHOTO_PLAYER);
    kvn_windows_head = kvn_windows_end = &other;  // a record already listed while the lock is held
    auto counted = std::async(std::launch::async, [] { return get_active_window_count(); });
    EXPECT_EQ(std::future_status::timeout, counted.wait_for(std::chrono::milliseconds(50))) << "read under the lock";
    pthread_mutex_unlock(&kvn_mutex_windows); EXPECT_EQ(1, counted.get());
    kvn_windows_head = kvn_windows_end = nullptr;
}

TEST(WindowRegistry, OrderLookupsCountsAndRefusals) {
    kvn_window a = record(BROWSER), b = record(PHOTO_PLAYER, 2), c = record(BROWSER), d = record(FLASH_LITE),
               e = record(ADVANCE_MEDIA_PLAYER), idle = record(PLAYLIST_NAVIGATOR, 0), stranger = record(TVMODE);
    EXPECT_EQ(-1, register_window(nullptr)); ASSERT_EQ(0, register_window(&a));
    EXPECT_EQ("2|", listed());
    for (kvn_window *w : {&b, &c, &d, &e, &idle}) ASSERT_EQ(0, register_window(w));
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, register_window(&b)) << "a record linked twice would loop the list";
    EXPECT_EQ("korvan_framework_lib: register_window: record already registered\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ("2 4 2 8 3 7|", listed()); EXPECT_EQ(&a, get_window_node(BROWSER)) << "the first registered wins";
    EXPECT_EQ(nullptr, get_window_node(42));
    EXPECT_EQ((std::vector<int>{-1, -1, 1, 0, 0}),
              (std::vector<int>{is_self_on_focus(-7), check_window_is_active(11), check_window_is_active(PHOTO_PLAYER),
                                check_window_is_active(PLAYLIST_NAVIGATOR), is_self_on_focus(BROWSER)}));
    EXPECT_EQ(5, get_active_window_count()); std::string names;
    for (const char *name : window_id_str) names += std::string(name) + " ";
    EXPECT_EQ("DUMMY1 DUMMY2 BROWSER ADVANCE_MEDIA_PLAYER PHOTO_PLAYER SCREEN_SAVER VISUAL_CONTROLLER "
              "PLAYLIST_NAVIGATOR FLASH_LITE FLASH_WIDGET TVMODE ", names);
    EXPECT_EQ(2, get_active_apps_count()) << "active 2 counts as active, but not here";

    EXPECT_EQ(-1, unregister_window(&stranger));
    for (kvn_window *w : {&idle, &a, &d}) EXPECT_EQ(0, unregister_window(w));  // the tail, the head, a middle one
    EXPECT_EQ("4 2 3|", listed());
    for (kvn_window *w : {&b, &c, &e}) EXPECT_EQ(0, unregister_window(w));
    EXPECT_EQ("|", listed());
}

TEST(WindowRegistry, RemovingTheFocusedRecordPassesTheFocusOn) {
    kvn_window first = record(BROWSER, 1, 0), second = record(PHOTO_PLAYER),
               focused = record(FLASH_LITE), later = record(TVMODE);
    focused.on_focus = 1;
    for (kvn_window *w : {&first, &second, &focused, &later}) ASSERT_EQ(0, register_window(w));
    ASSERT_EQ(0, unregister_window(&focused)); EXPECT_EQ(0, focused.on_focus);
    // Opacity 0 can never take the focus; the first eligible record can, even one registered before.
    EXPECT_EQ("2 4* 10|", listed());

    // The visual controller leaving during a standby hands the focus to nobody.
    kvn_window controller = record(VISUAL_CONTROLLER); second.on_focus = 0, controller.on_focus = 1;
    ASSERT_EQ(0, register_window(&controller)); kvn_standby_flag_store(1);
    ASSERT_EQ(0, unregister_window(&controller)); kvn_standby_flag_store(0);
    EXPECT_EQ("2 4 10|", listed());
    for (kvn_window *w : {&first, &second, &later}) unregister_window(w);
}

TEST(WindowRegistry, ThreadListStopsInOrderAndForgets) {
    static std::vector<int> stopped; static kvn_thread one, none, three;
    // The first routine reuses its own record, as one that frees it may.
    one = {1, [] { stopped.push_back(1); one.next = nullptr; }, nullptr}, none = {2, nullptr, nullptr};
    three = {3, [] { stopped.push_back(3); }, nullptr};
    EXPECT_EQ(-1, register_thread(nullptr));
    for (kvn_thread *t : {&one, &none, &three}) ASSERT_EQ(0, register_thread(t));
    EXPECT_EQ(0, unregister_thread(&three));
    EXPECT_EQ(-1, unregister_thread(&three)) << "a record no longer in the list";
    EXPECT_TRUE(kvn_threads_end == &none && none.next == nullptr); ASSERT_EQ(0, register_thread(&three));
    EXPECT_EQ(-1, clean_threads());
    EXPECT_EQ((std::vector<int>{1, 3}), stopped);
    EXPECT_TRUE(kvn_threads_head == nullptr && kvn_threads_end == nullptr); ASSERT_EQ(0, register_thread(&one));
    EXPECT_EQ(0, unregister_threads()); EXPECT_EQ(nullptr, kvn_threads_head);
}

TEST(WindowRegistry, SurfaceRegistriesLinkAndUnlink) {
    kvn_surface_node a = {nullptr, nullptr}, b = {nullptr, nullptr};
    EXPECT_EQ((std::vector<int>{-1, 0, 0}), (std::vector<int>{register_surface(&a, &a, nullptr),
                                                             register_surface(nullptr, nullptr, &a),
                                                             register_surface(&a, &a, &b)}));
    EXPECT_EQ(&b, a.next); EXPECT_EQ(0, unregister_surface(&a, &b, &a));
    EXPECT_EQ(&b, a.next) << "the head: the caller moves it";
    kvn_surface_node c = {nullptr, nullptr};
    EXPECT_EQ(0, register_surface(&a, &b, &c)); EXPECT_EQ(0, unregister_surface(&a, &c, &b)) << "a middle one";
    EXPECT_EQ(&c, a.next); EXPECT_EQ(0, unregister_surface(&a, &c, &c));
    EXPECT_EQ(nullptr, a.next);
    EXPECT_EQ(-2, unregister_surface(&a, &a, &b) + unregister_surface(nullptr, nullptr, &a));

    // clean_surfaces releases every surface and answers -1 all the same.
    static std::vector<IDirectFBSurface *> released;
    IDirectFBSurface s[2]{};
    for (IDirectFBSurface &one : s)
        one.Release = [](IDirectFBSurface *thiz) -> DirectResult { return released.push_back(thiz), DR_OK; };
    kvn_surface_node *head = nullptr, *tail = nullptr;
    EXPECT_EQ((std::vector<int>{-1, -1, -1, 0, 0}), (std::vector<int>{register_surface_simple(nullptr, &tail, &s[0]),
                                                                     register_surface_simple(&head, nullptr, &s[0]),
                                                                     register_surface_simple(&head, &tail, nullptr),
                                                                     register_surface_simple(&head, &tail, &s[0]),
                                                                     register_surface_simple(&head, &tail, &s[1])}));
    EXPECT_TRUE(head->surface == &s[0] && tail->surface == &s[1]);
    EXPECT_EQ(0, unregister_surface_simple(&head, &tail, &s[1])); EXPECT_TRUE(head == tail && head->next == nullptr);
    EXPECT_EQ((std::vector<int>{-1, 0, -1, -1}), (std::vector<int>{unregister_surface_simple(&head, &tail, &s[1]),
                                                                  unregister_surface_simple(&head, &tail, &s[0]),
                                                                  unregister_surface_simple(&head, &tail, &s[0]),
                                                                  clean_surfaces(nullptr)}));
    EXPECT_TRUE(head == nullptr && tail == nullptr);
    for (IDirectFBSurface &one : s) ASSERT_EQ(0, register_surface_simple(&head, &tail, &one));
    EXPECT_EQ(-1, clean_surfaces(head));
    EXPECT_EQ((std::vector<IDirectFBSurface *>{&s[0], &s[1]}), released);
}

// A callback under the list's lock calling back into the list stops the process with a report, not a deadlock.
void (*g_reenter)();
int reenter(kvn_window *) { return g_reenter(), 0; }
int reenter_event(DFBWindowEvent *) { return g_reenter(), 0; }
void hold_and_reenter(bool redirect) {
    kvn_window a = record(BROWSER), b = record(FLASH_LITE);
    a.focus_on_window_callback = reenter, b.external_event_callback = reenter_event;
    register_window(&a), register_window(&b);
    DFBWindowEvent e{};
    redirect ? redirect_external_event(&a, &e) : focus_on_window(BROWSER);
}

TEST(WindowRegistryDeathTest, CallbackCallingBackIntoTheRegistryStopsLoudly) {
    static kvn_window other = record(PHOTO_PLAYER);
    const std::pair<const char *, void (*)()> rows[] = {
        {"register_window", [] { register_window(&other); }},
        {"unregister_window", [] { unregister_window(&other); }},
        {"get_window_node", [] { get_window_node(BROWSER); }},
        {"get_window_on_focus", [] { get_window_on_focus(); }},
        {"is_self_on_focus", [] { is_self_on_focus(BROWSER); }},
        {"check_window_is_active", [] { check_window_is_active(BROWSER); }},
        {"get_active_window_count", [] { get_active_window_count(); }},
        {"focus_on_window", [] { focus_on_window(FLASH_LITE); }},
        {"focus_next_window", [] { focus_next_window(); }},
        {"kvn_invoke_framework_apps", [] { kvn_invoke_framework_apps(BROWSER, ""); }},
        {"redirect_external_event", [] { DFBWindowEvent e{}; redirect_external_event(nullptr, &e); }},
    };
    // The list held by focus_on_window for every row, by redirect_external_event for one more.
    for (size_t i = 0; i <= std::size(rows); ++i) {
        const bool redirect = i == std::size(rows); g_reenter = rows[redirect ? 2 : i].second;
        EXPECT_DEATH(hold_and_reenter(redirect),
                     "korvan_framework_lib: " + std::string(rows[redirect ? 2 : i].first) + " called while this thread "
                     "holds the window list for " + (redirect ? "redirect_external_event" : "focus_on_window") +
                     " \\(a window callback must not call window-list operations\\); stopping instead of deadlocking");
    }
}

}  // namespace
