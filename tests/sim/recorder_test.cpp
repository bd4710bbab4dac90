// A recording's waits: what the live window or the page saw between two keys, as script waits.
#include "recorder.h"

#include <gtest/gtest.h>

#include "sim_script.h"

TEST(SimRecorder, WaitsAreRoundedToATenthAndSplitAtTheLongestWait) {
    const std::pair<long long, std::vector<long>> rows[] = {
        // milliseconds, the waits
        {0, {}},
        {-5, {}},
        {40, {}},
        {50, {100}},
        {1234, {1200}},
        {1250, {1300}},
        {kvn_sim::kMaxWaitMs + 500, {kvn_sim::kMaxWaitMs, 500}},
    };
    for (const auto &[ms, waits] : rows) EXPECT_EQ(waits, kvn_sim::recorded_waits(ms)) << ms;
}
