// Reducing a long time series, as its samples come, to what one pixel column can show, without
// losing a peak and without holding the samples.
#pragma once

#include <cstdint>
#include <vector>

// The samples that fell into one stretch of time.
struct Bin {
    float first, min, max, last;
    std::int32_t t_first, t_last;  // seconds after the series' origin
    bool used, starts_run;
};

// Bins of a power-of-two number of seconds from the series' first sample; when the series
// outgrows kMaxBins the bins pair up. At least half of kMaxBins stay, several per pixel column.
struct MinMaxSeries {
    std::int64_t origin = 0, width = 1;
    std::vector<Bin> bins;
    bool broken = true;  // the next sample starts a run
};
inline constexpr std::int64_t kMaxBins = 4096;

// A sample; NaN is a sample without a value, which breaks the line.
void downsample_add(MinMaxSeries& s, std::int64_t t, double v);

// What falls into pixel column x; a run of columns ends before a column with `starts_run`.
struct Column {
    int x;
    double first, min, max, last;
    bool starts_run;
};

// One Column per pixel column of [t0, t1] mapped onto 0 .. width-1 that holds a value, in time
// order. A run breaks at a missing value and where two samples lie more than `max_gap` seconds
// apart, so that lost collection time shows as a hole instead of a straight line.
std::vector<Column> downsample_minmax(const MinMaxSeries& s, std::int64_t t0, std::int64_t t1,
                                      int width, std::int64_t max_gap);

// The pixel column of time t.
int downsample_x(std::int64_t t, std::int64_t t0, std::int64_t t1, int width);
