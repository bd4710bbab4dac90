// A recording's waits: what the live window or the page saw between two keys, as script waits.
#include "recorder.h"

#include <gtest/gtest.h>

#include "sim_script.h"

TEST(SimRecorder, WaitsAreRoundedToATenthAndSplitAtTheLongestWait) {
    struct Row {
        long long real_ms;
        std::vector<long> waits;
    } rows[] = {
        {0, {}},
        {-5, {}},
        {40, {}},
        {50, {100}},
        {1234, {1200}},
        {1250, {1300}},
        {kvn_sim::kMaxWaitMs + 500, {kvn_sim::kMaxWaitMs, 500}},
    };
    for (const Row &r : rows) EXPECT_EQ(r.waits, kvn_sim::recorded_waits(r.real_ms)) << r.real_ms;
}
