#include "web/events.hpp"

#include <gtest/gtest.h>

#include <string>

#include "lib/fileutil.hpp"
#include "support/transcript.hpp"

// A captured stream (CR LF lines, a field too long for its record, lines too long for the reader,
// a last line without its end) logs exactly the expected records.
TEST(Events, CapturedStreamGivesTheExpectedRecords) {
    LogCapture log;
    File in(std::fopen(KELVANE_TEST_DATA "events/stream.txt", "r"));
    ASSERT_TRUE(in);
    EXPECT_EQ(events_feed(in.get()), 2u);
    EXPECT_EQ(take_log(log), test_data("events/expected.log"));
}

// 100 000 lines of events whose topics overflow their fields, some lines past the reader's
// bound: every event is logged, each topic cut, nothing more.
TEST(Events, LongStreamOfOverlongTopics) {
    File in(std::tmpfile());
    ASSERT_TRUE(in);
    const std::string topic(300, 't');
    const std::string huge(2 * kEventLineMax, 'h');
    for (int event = 0; event < 25000; ++event) {
        std::fprintf(in.get(), "Timestamp: %d\n[tns1:topic0 = '%s']\n[tns1:topic1 = '%s']\n%s\n",
                     event, topic.c_str(), event % 1000 == 0 ? huge.c_str() : "x'",
                     "-----------------------------------");
    }
    std::rewind(in.get());
    LogCapture log;
    EXPECT_EQ(events_feed(in.get()), 25u);
    const std::string tree = "onvif:" + topic.substr(0, 41);
    size_t events = 0;
    for (const auto& [level, text] : log.entries()) {
        std::string id = std::to_string(events);
        events += text == "Metadata Event " + id + " " + tree + "/onvif:x" ||
                  text == "Metadata Event " + id + " " + tree;
    }
    EXPECT_EQ(events, 25000u);
    EXPECT_EQ(log.entries().size(), 25025u);
}
