#include <gtest/gtest.h>

#include <cmath>

#include "report/csv.hpp"

namespace {

struct ParseCase {
    const char* what;
    std::string text;
    std::size_t rows, untimed, repeated, broken;
    std::string first_problem, error;
};

}  // namespace

TEST(CsvParse, FilesAsTheCollectorsWriteThem) {
    const ParseCase cases[] = {
        {"CRLF, unit in the cell",
         "Date,Time,Network Bandwidth (Mbit/s)\r\n"
         "2024-03-07,14:05:09,12.3 Mbit/s\r\n2024-03-07,14:07:09,0.0 Mbit/s\r\n",
         2, 0, 0, 0, "", ""},
        {"blanks after the header commas", "Date, Time, Fan status\n2024-03-07,14:05:09,running\n",
         1, 0, 0, 0, "", ""},
        {"zone before the stamp, upper case", "ZONE,DATE,TIME,4 kB\nDMA,2024-03-07,14:05:09,7\n", 1,
         0, 0, 0, "", ""},
        {"empty cells kept", "Date,Time,a,b\n2024-03-07,14:05:09,,\n", 1, 0, 0, 0, "", ""},
        {"no clock: one cell short", "Date,Time,v\n,41.5\n2024-03-07,14:05:09,41.5\n", 1, 1, 0, 0,
         "", ""},
        {"file recreated",
         "Date,Time,v\n2024-03-07,14:05:09,1\nDate,Time,v\n2024-03-07,14:07:09,2\n", 2, 0, 1, 0, "",
         ""},
        {"row cut off by a lost card", "Date,Time,a,b\n2024-03-07,14:05:09,1,2\n2024-03-07,14:0", 1,
         0, 0, 1, "line 3: 2 cells where the header has 4 (cut off)", ""},
        {"bad stamp", "Date,Time,v\n2024-13-07,14:05:09,1\n", 0, 0, 0, 1,
         "line 2: no valid date and time", ""},
        {"quoted command", "Date,Time,Command\n2024-03-07,14:05:09,\"sh -c \"\"a,b\"\"\"\n", 1, 0,
         0, 0, "", ""},
        {"open quote", "Date,Time,Command\n2024-03-07,14:05:09,\"sh\n", 0, 0, 0, 1,
         "line 2: a quote is not closed", ""},
        {"no stamp columns", "a,b\n1,2\n", 0, 0, 0, 0, "", "no Date,Time header in the first line"},
        {"binary", std::string("PK\x03\x04\0\0", 6), 0, 0, 0, 0, "",
         "binary content, not a CSV file"},
        {"empty", "", 0, 0, 0, 0, "", "empty file"},
    };
    for (const ParseCase& c : cases) {
        CsvTable t = csv_parse(c.text);
        EXPECT_EQ(t.rows.size(), c.rows) << c.what;
        EXPECT_EQ(t.untimed_rows, c.untimed) << c.what;
        EXPECT_EQ(t.repeated_headers, c.repeated) << c.what;
        EXPECT_EQ(t.broken_rows, c.broken) << c.what;
        EXPECT_EQ(t.first_problem, c.first_problem) << c.what;
        EXPECT_EQ(t.error, c.error) << c.what;
    }
    EXPECT_EQ(csv_parse("Date, Time, Fan status\n").header,
              (std::vector<std::string>{"Date", "Time", "Fan status"}));
    EXPECT_EQ(
        csv_parse("Date,Time,C\n2024-03-07,14:05:09,\"sh -c \"\"a,b\"\"\"\r\n").rows[0].cells[2],
        "sh -c \"a,b\"");
}

TEST(CsvNumber, CellsWithUnits) {
    const std::pair<const char*, double> cases[] = {
        {"12.3 Mbit/s", 12.3}, {"3%", 3},    {" 41.5", 41.5}, {"-2", -2},
        {"27988", 27988},      {"20m", 20},  {"", NAN},       {"stopped", NAN},
        {"640x480", NAN},      {"1 2", NAN}, {"nan", NAN},
    };
    for (const auto& [cell, expected] : cases) {
        auto v = csv_number(cell);
        if (std::isnan(expected)) {
            EXPECT_FALSE(v.has_value()) << cell;
        } else {
            EXPECT_EQ(v, expected) << cell;
        }
    }
}

TEST(CsvTime, WallClockBothWays) {
    const std::pair<const char*, const char*> cases[] = {
        {"1970-01-01,00:00:00", "1970-01-01 00:00:00"},
        {"2024-02-29,23:59:59", "2024-02-29 23:59:59"},
        {"2024-03-01,00:00:00", "2024-03-01 00:00:00"},
        {"1969-12-31,23:00:00", "1969-12-31 23:00:00"},
        {"2100-12-31,12:00:00", "2100-12-31 12:00:00"},
    };
    for (const auto& [stamp, text] : cases) {
        std::string s = stamp;
        auto t = csv_time(s.substr(0, 10), s.substr(11));
        ASSERT_TRUE(t.has_value()) << stamp;
        EXPECT_EQ(csv_time_text(*t), text);
    }
    EXPECT_EQ(*csv_time("2024-03-01", "00:00:00") - *csv_time("2024-02-28", "00:00:00"), 2 * 86400);
    for (const char* bad : {"2024-3-07", "2024-03-07 ", "2024/03/07", "2024-00-07"}) {
        EXPECT_FALSE(csv_time(bad, "14:05:09").has_value()) << bad;
    }
    EXPECT_FALSE(csv_time("2024-03-07", "24:00:00").has_value());
}
