#include "report/downsample.hpp"

#include <algorithm>
#include <cmath>

int downsample_x(std::int64_t t, std::int64_t t0, std::int64_t t1, int width) {
    if (t1 <= t0 || width <= 1) {
        return 0;
    }
    // Equal shares of the span per column; t1 falls into the last one.
    std::int64_t x = (t - t0) * width / (t1 - t0 + 1);
    return static_cast<int>(std::clamp<std::int64_t>(x, 0, width - 1));
}

std::vector<Column> downsample_minmax(const std::vector<Point>& points, std::int64_t t0,
                                      std::int64_t t1, int width, std::int64_t max_gap) {
    std::vector<Column> columns;
    bool broken = true;
    std::int64_t last_t = 0;
    for (const Point& p : points) {
        if (std::isnan(p.v)) {
            broken = true;
            continue;
        }
        int x = downsample_x(p.t, t0, t1, width);
        bool starts = broken || p.t - last_t > max_gap;
        if (!starts && !columns.empty() && columns.back().x == x) {
            Column& c = columns.back();
            c.min = std::min(c.min, p.v);
            c.max = std::max(c.max, p.v);
            c.last = p.v;
        } else {
            columns.push_back({x, p.v, p.v, p.v, p.v, starts});
        }
        broken = false;
        last_t = p.t;
    }
    return columns;
}
