#include "lib/strutil.hpp"

#include <gtest/gtest.h>

TEST(Strutil, TerminateAtSplitsAtTheFirstSeparatorOrLeavesTheStringAlone) {
    std::string line = "root.Sensor.S0.Name=Main=x", plain = "no separator";
    EXPECT_EQ(str_terminate_at(line, '='), "Main=x");
    EXPECT_EQ(line, "root.Sensor.S0.Name");
    EXPECT_EQ(str_terminate_at(plain, '='), std::nullopt);
    EXPECT_EQ(plain, "no separator");
}
