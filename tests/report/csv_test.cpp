#include <gtest/gtest.h>

#include <cmath>

#include "report/csv.hpp"

namespace {

// What a parse kept and why it left things out, in one line.
std::string summary(const CsvTable& t) {
    std::string s = std::to_string(t.rows.size()) + " rows";
    s += t.rows.empty() ? "" : ", last " + t.rows.back().cells.back();
    s += t.untimed_rows ? ", untimed " + std::to_string(t.untimed_rows) : "";
    s += t.repeated_headers ? ", repeated " + std::to_string(t.repeated_headers) : "";
    s += t.broken_rows ? ", broken " + std::to_string(t.broken_rows) + ": " + t.first_problem : "";
    return s + (t.error.empty() ? "" : ", " + t.error);
}

}  // namespace

TEST(CsvParse, FilesAsTheCollectorsWriteThem) {
    const std::pair<std::string, std::string> cases[] = {
        {"Date,Time,Network Bandwidth (Mbit/s)\r\n2024-03-07,14:05:09,12.3 Mbit/s\r\n",
         "1 rows, last 12.3 Mbit/s"},
        {"Date, Time, Fan status\n2024-03-07,14:05:09,running\n", "1 rows, last running"},
        {"ZONE,DATE,TIME,4 kB\nDMA,2024-03-07,14:05:09,7\n", "1 rows, last 7"},
        {"Date,Time,a,b\n2024-03-07,14:05:09,,\n", "1 rows, last "},
        {"Date,Time,v\n,41.5\n2024-03-07,14:05:09,41.5\n", "1 rows, last 41.5, untimed 1"},
        {"Date,Time,v\n2024-03-07,14:05:09,1\nDate,Time,v\n2024-03-07,14:07:09,2\n",
         "2 rows, last 2, repeated 1"},
        {"Date,Time,a,b\n2024-03-07,14:05:09,1,2\n2024-03-07,14:0",
         "1 rows, last 2, broken 1: line 3: 2 cells where the header has 4 (cut off)"},
        {"Date,Time,v\n2024-13-07,14:05:09,1\n",
         "0 rows, broken 1: line 2: no valid date and time"},
        {"Date,Time,C\n2024-03-07,14:05:09,\"sh -c \"\"a,b\"\"\"\r\n",
         "1 rows, last sh -c \"a,b\""},
        {"Date,Time,C\n2024-03-07,14:05:09,\"sh\n",
         "0 rows, broken 1: line 2: a quote is not closed"},
        {"a,b\n1,2\n", "0 rows, no Date,Time header in the first line"},
        {std::string("PK\x03\x04\0\0", 6), "0 rows, binary content, not a CSV file"},
        {"", "0 rows, empty file"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(summary(csv_parse(text)), expected) << text;
    }
    EXPECT_EQ(csv_parse("Date, Time, Fan status\n").header,
              (std::vector<std::string>{"Date", "Time", "Fan status"}));
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
    for (const char* stamp :
         {"1969-12-31 23:00:00", "2024-02-29 23:59:59", "2100-12-31 12:00:00"}) {
        std::string s = stamp;
        auto t = csv_time(s.substr(0, 10), s.substr(11));
        ASSERT_TRUE(t.has_value()) << stamp;
        EXPECT_EQ(csv_time_text(*t), stamp);
    }
    for (const char* bad : {"2024-3-07", "2024/03/07", "2024-00-07"}) {
        EXPECT_FALSE(csv_time(bad, "14:05:09").has_value()) << bad;
    }
}
