// The thread list that the process sweeps at exit.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "korvan_framework_lib.h"

TEST(ThreadRegistry, CleaningStopsInOrderAndForgettingLeavesTheRecords) {
    static std::vector<int> stopped;
    static kvn_thread one, none, three;
    one = {1, [] { stopped.push_back(1); }, nullptr};
    none = {2, nullptr, nullptr};
    three = {3, [] { stopped.push_back(3); }, nullptr};
    for (kvn_thread *t : {&one, &none, &three}) ASSERT_EQ(0, register_thread(t));
    EXPECT_EQ(-1, register_thread(nullptr));
    EXPECT_EQ(0, unregister_thread(&three));
    EXPECT_EQ(-1, unregister_thread(&three)) << "no longer in the list";
    EXPECT_EQ(&none, kvn_threads_end);
    EXPECT_EQ(nullptr, none.next);
    ASSERT_EQ(0, register_thread(&three));
    EXPECT_EQ(-1, clean_threads());
    EXPECT_EQ((std::vector<int>{1, 3}), stopped);
    EXPECT_EQ(nullptr, kvn_threads_head);
    EXPECT_EQ(nullptr, kvn_threads_end);
    for (kvn_thread *t : {&one, &none}) ASSERT_EQ(0, register_thread(t));
    EXPECT_EQ(0, unregister_threads());
    EXPECT_EQ(nullptr, kvn_threads_head);
    EXPECT_EQ(nullptr, one.next);
    ASSERT_EQ(0, register_thread(&one));
    EXPECT_EQ(0, unregister_thread(&one));
    EXPECT_EQ(nullptr, kvn_threads_end);
}

// Kept beside the mutants' cover: a missing lock is a race no planted fault shows.
TEST(ThreadRegistry, RegistrationsAtOnceLoseNoRecord) {
    static kvn_thread records[4][20000];
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (auto &mine : records)
        threads.emplace_back([&] {
            for (++ready; ready < 4;) {  // let go at once
            }
            for (kvn_thread &t : mine) register_thread(&t);
        });
    for (std::thread &t : threads) t.join();
    int listed = 0;
    for (kvn_thread *t = kvn_threads_head; t != nullptr; t = t->next) ++listed;
    EXPECT_EQ(80000, listed);
}
