// The parts of a session's model: series, charts, findings, snapshots.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report/downsample.hpp"

struct NumericLine {
    std::string label;
    MinMaxSeries bins;
    double lo = 0, hi = 0;  // the extremes and when they were first seen
    std::int64_t t_lo = 0, t_hi = 0;
    std::size_t values = 0;
    bool changed = false, nonzero = false;
    // Counters are drawn as change per minute; the raw value stands in when there is no change.
    bool counter = false, has_prev = false;
    double prev = 0, raw_first = 0;
    std::int64_t prev_t = 0;
};

struct StateRun {
    std::int64_t from, last;  // first and last sample of the run
    std::string value;
};

struct StateLine {
    std::string label;
    std::vector<StateRun> runs;  // in the file's order
};

// One CSV file of the session.
struct Chart {
    std::string path;  // inside the session
    std::string folder;
    std::vector<NumericLine> lines;
    std::vector<StateLine> states;
    std::size_t recreated = 0;  // times the header came again
};

struct Finding {
    std::int64_t t;  // -1: not tied to a time
    std::string text;
};

struct Snapshot {
    std::string name;
    std::string text;  // kept for the first and the last of a kind only
    bool cut = false;
};

struct SnapshotList {
    std::string kind;
    std::vector<Snapshot> items;  // in name order, which is time order
};

struct SessionModel {
    std::string name;
    std::vector<std::pair<std::string, std::string>> facts;  // field, value (in file order)
    std::vector<Finding> findings;
    std::vector<Chart> charts;  // by folder in collection order, then by file name
    std::vector<SnapshotList> snapshots;
    std::vector<std::string> problems;
    std::vector<std::pair<std::int64_t, std::int64_t>> gaps;  // collection pauses
    std::int64_t t0 = 0, t1 = 0;                              // the page's time axis
    std::int64_t round = 0;    // the collection rhythm read from the rows; 0: unknown
    std::int64_t max_gap = 0;  // a longer silence between rows is a pause
    bool has_time = false;
    bool has_session = false;  // anything a session holds was found
};
