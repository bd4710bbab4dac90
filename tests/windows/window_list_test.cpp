// The window list's lock: an empty list is answered without waiting for it, and a callback run
// under it that calls back into the list stops the process instead of deadlocking.
#include <gtest/gtest.h>

#include <future>

#include "korvan_framework_lib.h"

namespace {

kvn_window record(int id) {
    kvn_window w{};
    w.window_id = id;
    w.active = 1;
    w.opacity = 0xff;
    return w;
}

void (*g_reenter)();
int reenter() {
    g_reenter();
    return 0;
}

// Holds the list for focus_on_window (or redirect_external_event) and calls g_reenter under it.
void hold_and_reenter(bool redirect) {
    kvn_window a = record(BROWSER), b = record(FLASH_LITE);
    a.focus_on_window_callback = [](kvn_window *) { return reenter(); };
    b.external_event_callback = [](DFBWindowEvent *) { return reenter(); };
    register_window(&a);
    register_window(&b);
    DFBWindowEvent e{};
    if (redirect) redirect_external_event(&a, &e);
    if (!redirect) focus_on_window(BROWSER);
}

}  // namespace

// The empty lists answer -1 at once while another thread holds the locks.
TEST(WindowList, EmptyListsAnswerWithoutWaitingForTheLock) {
    kvn_window w = record(BROWSER);
    kvn_thread t = {1, nullptr, nullptr};
    pthread_mutex_lock(&kvn_mutex_windows);
    pthread_mutex_lock(&kvn_mutex_threads);
    auto answers = std::async(std::launch::async, [&] {
        return std::vector<int>{unregister_window(&w), focus_next_window(), unregister_thread(&t)};
    });
    const bool answered = answers.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    pthread_mutex_unlock(&kvn_mutex_threads);
    EXPECT_TRUE(answered) << "blocked behind the lock";
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), answers.get());
    pthread_mutex_unlock(&kvn_mutex_windows);
}

TEST(WindowListDeathTest, CallbackCallingBackIntoTheListStopsTheProcess) {
    static kvn_window other = record(PHOTO_PLAYER);
    const std::pair<const char *, void (*)()> rows[] = {
        {"register_window", [] { register_window(&other); }},
        {"get_window_node", [] { get_window_node(BROWSER); }},
        {"focus_on_window", [] { focus_on_window(FLASH_LITE); }},
        {"focus_next_window", [] { focus_next_window(); }},
    };
    for (const auto &[name, reenter] : rows) {
        g_reenter = reenter;
        EXPECT_DEATH(hold_and_reenter(false), name);
    }
    g_reenter = rows[0].second;
    EXPECT_DEATH(hold_and_reenter(true), "register_window");
}
