// The window list's lock: an empty list is answered without waiting for it.
#include <gtest/gtest.h>

#include <future>

#include "korvan_framework_lib.h"

// The empty lists answer -1 at once while another thread holds the locks.
TEST(WindowList, EmptyListsAnswerWithoutWaitingForTheLock) {
    kvn_window w{};
    kvn_thread t = {1, nullptr, nullptr};
    pthread_mutex_lock(&kvn_mutex_windows);
    pthread_mutex_lock(&kvn_mutex_threads);
    auto answers = std::async(std::launch::async, [&] {
        return std::vector<int>{unregister_window(&w), focus_next_window(), unregister_thread(&t)};
    });
    const bool answered = answers.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    pthread_mutex_unlock(&kvn_mutex_threads);
    pthread_mutex_unlock(&kvn_mutex_windows);
    EXPECT_TRUE(answered) << "blocked behind the lock";
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), answers.get());
}
