// What a session holds, turned from its files into series, facts and findings.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report/downsample.hpp"
#include "report/session_source.hpp"

struct NumericLine {
    std::string label;
    std::vector<Point> points;  // in time order
};

struct StateLine {
    std::string label;
    std::vector<std::pair<std::int64_t, std::string>> samples;  // in time order
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

struct SnapshotList {
    std::string kind;
    std::vector<std::string> names;
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
    bool has_time = false;
};

// Collection runs every other minute; a longer silence means collection stopped.
inline constexpr std::int64_t kMaxGap = 300;

// Fields of "Field: Value" lines, other lines as a value with an empty field.
std::vector<std::pair<std::string, std::string>> session_model_facts(const std::string& text);

SessionModel session_model_build(SessionFiles files);
