#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "report/downsample.hpp"

namespace {

struct Case {
    const char* what;
    std::vector<Point> points;
    std::int64_t t0, t1;
    int width;
    std::vector<Column> expected;
};

auto fields(const Column& c) {
    return std::tie(c.x, c.first, c.min, c.max, c.last, c.starts_run);
}

}  // namespace

TEST(DownsampleMinMax, Columns) {
    const double gap = NAN;
    const Case cases[] = {
        {"two samples per column keep both ends",
         {{0, 5}, {10, 1}, {20, 9}, {30, 4}},
         0,
         30,
         2,
         {{0, 5, 1, 5, 1, true}, {1, 9, 4, 9, 4, false}}},
        {"a peak inside a column survives",
         {{0, 1}, {1, 100}, {2, 2}, {3, -7}, {4, 3}},
         0,
         4,
         1,
         {{0, 1, -7, 100, 3, true}}},
        {"a missing value breaks the run",
         {{0, 1}, {60, gap}, {120, 2}},
         0,
         120,
         3,
         {{0, 1, 1, 1, 1, true}, {2, 2, 2, 2, 2, true}}},
        {"a collection pause breaks the run, even inside one column",
         {{0, 1}, {301, 2}, {400, 3}},
         0,
         100000,
         10,
         {{0, 1, 1, 1, 1, true}, {0, 2, 2, 3, 3, true}}},
        {"a single instant", {{50, 4}, {50, 6}}, 50, 50, 800, {{0, 4, 4, 6, 6, true}}},
        {"only missing values", {{0, gap}, {1, gap}}, 0, 1, 10, {}},
    };
    for (const Case& c : cases) {
        auto got = downsample_minmax(c.points, c.t0, c.t1, c.width, 300);
        ASSERT_EQ(got.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_TRUE(fields(got[i]) == fields(c.expected[i])) << c.what << " column " << i;
        }
    }
}

TEST(DownsampleMinMax, AWeekKeepsEveryExtremeInAtMostWidthColumns) {
    std::vector<Point> week;
    for (std::int64_t i = 0; i < 5040; ++i) {
        week.push_back({i * 120, std::sin(static_cast<double>(i))});
    }
    week[1234].v = 50;
    week[4321].v = -50;
    auto cols = downsample_minmax(week, 0, 5039 * 120, 800, 300);
    ASSERT_EQ(cols.size(), 800u);
    double lo = 0, hi = 0;
    for (const Column& c : cols) {
        lo = std::min(lo, c.min);
        hi = std::max(hi, c.max);
    }
    EXPECT_EQ(hi, 50);
    EXPECT_EQ(lo, -50);
    EXPECT_EQ(cols.back().x, 799);
}
