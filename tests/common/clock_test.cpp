// The factor by which a development host runs the library's waits and clocks faster.
#include <gtest/gtest.h>

#include "korvan_framework_dev.h"

TEST(TimeDivisor, IsOneUntilSetAndZeroIsTakenAsOne) {
    EXPECT_EQ(1u, kvn_get_time_divisor());
    kvn_set_time_divisor(20);
    EXPECT_EQ(20u, kvn_get_time_divisor());
    kvn_set_time_divisor(0);
    EXPECT_EQ(1u, kvn_get_time_divisor());
}
