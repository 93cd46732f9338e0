#include "report/downsample.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

Bin bin_merge(const Bin& a, const Bin& b) {
    if (!a.used || !b.used) {
        return a.used ? a : b;
    }
    return {a.first,
            std::min(a.min, b.min),
            std::max(a.max, b.max),
            b.last,
            a.t_first,
            b.t_last,
            true,
            a.starts_run};
}

void bins_pair_up(MinMaxSeries& s) {
    std::size_t n = (s.bins.size() + 1) / 2;
    for (std::size_t i = 0; i < n; ++i) {
        Bin b = 2 * i + 1 < s.bins.size() ? s.bins[2 * i + 1] : Bin{};
        s.bins[i] = bin_merge(s.bins[2 * i], b);
    }
    s.bins.resize(n);
    s.width *= 2;
}

}  // namespace

void downsample_add(MinMaxSeries& s, std::int64_t t, double v) {
    if (std::isnan(v)) {
        s.broken = true;
        return;
    }
    if (s.bins.empty()) {
        s.origin = t;
    }
    // A row out of time order (a clock set back) counts into the first bin, one from beyond
    // any session into the last.
    std::int64_t at = std::clamp<std::int64_t>(t - s.origin, 0, INT32_MAX);
    while (at / s.width >= kMaxBins) {
        bins_pair_up(s);
    }
    auto i = static_cast<std::size_t>(at / s.width);
    if (i >= s.bins.size()) {
        s.bins.resize(i + 1, Bin{});
    }
    Bin& b = s.bins[i];
    auto off = static_cast<std::int32_t>(at);
    auto f = static_cast<float>(v);
    if (!b.used) {
        b = {f, f, f, f, off, off, true, s.broken};
    } else {
        b.min = std::min(b.min, f);
        b.max = std::max(b.max, f);
        if (off >= b.t_last) {
            b.last = f;
            b.t_last = off;
        }
    }
    s.broken = false;
}

int downsample_x(std::int64_t t, std::int64_t t0, std::int64_t t1, int width) {
    if (t1 <= t0 || width <= 1) {
        return 0;
    }
    // Equal shares of the span per column; t1 falls into the last one.
    std::int64_t x = (t - t0) * width / (t1 - t0 + 1);
    return static_cast<int>(std::clamp<std::int64_t>(x, 0, width - 1));
}

std::vector<Column> downsample_minmax(const MinMaxSeries& s, std::int64_t t0, std::int64_t t1,
                                      int width, std::int64_t max_gap) {
    std::vector<Column> columns;
    std::int64_t last_t = 0;
    for (const Bin& b : s.bins) {
        if (!b.used) {
            continue;
        }
        std::int64_t t = s.origin + b.t_first;
        int x = downsample_x(t, t0, t1, width);
        bool starts = columns.empty() || b.starts_run || t - last_t > max_gap;
        if (!starts && columns.back().x == x) {
            Column& c = columns.back();
            c.min = std::min<double>(c.min, b.min);
            c.max = std::max<double>(c.max, b.max);
            c.last = b.last;
        } else {
            columns.push_back({x, b.first, b.min, b.max, b.last, starts});
        }
        last_t = s.origin + b.t_last;
    }
    return columns;
}
