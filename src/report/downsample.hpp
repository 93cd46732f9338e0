// Reducing a long time series to what one pixel column can show, without losing a peak.
#pragma once

#include <cstdint>
#include <vector>

struct Point {
    std::int64_t t;
    double v;  // NaN: the sample had no value
};

// What falls into pixel column x; a run of columns ends before a column with `starts_run`.
struct Column {
    int x;
    double first, min, max, last;
    bool starts_run;
};

// One Column per pixel column of [t0, t1] mapped onto 0 .. width-1 that holds a value, in time
// order. A run breaks at a missing value and where two samples lie more than `max_gap` seconds
// apart, so that lost collection time shows as a hole instead of a straight line.
std::vector<Column> downsample_minmax(const std::vector<Point>& points, std::int64_t t0,
                                      std::int64_t t1, int width, std::int64_t max_gap);

// The pixel column of time t.
int downsample_x(std::int64_t t, std::int64_t t0, std::int64_t t1, int width);
