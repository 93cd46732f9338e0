#include "lib/strutil.hpp"

#include <gtest/gtest.h>

TEST(Strutil, TerminateAtSplitsKeyAndValueOrLeavesStringAlone) {
    std::string line = "root.Sensor.S0.Name=Main=x";
    EXPECT_EQ(str_terminate_at(line, '='), "Main=x");
    EXPECT_EQ(line, "root.Sensor.S0.Name");

    std::string plain = "no separator";
    EXPECT_EQ(str_terminate_at(plain, '='), std::nullopt);
    EXPECT_EQ(plain, "no separator");
}

TEST(Strutil, ReplaceCharacters) {
    std::string quoted = "\"a\" \"b\" \"c\"";
    str_replace_char(quoted, '"', ' ');
    EXPECT_EQ(quoted, " a   b   c ");
    str_replace_char(quoted, 'a', 'a');
    EXPECT_EQ(quoted, " a   b   c ");

    std::string once = "a/b/c";
    EXPECT_EQ(str_replace_next_char(once, '/', '_'), 1u);
    EXPECT_EQ(once, "a_b/c");
    EXPECT_EQ(str_replace_next_char(once, '#', '_'), std::string::npos);
}

TEST(Strutil, JoinPutsNoSeparator) {
    EXPECT_EQ(str_join("/a", "b"), "/ab");
    EXPECT_EQ(str_join("/var/spool/storage/card/", "session1", ""),
              "/var/spool/storage/card/session1");
    EXPECT_EQ(str_join("a", "/", "b"), "a/b");
}
