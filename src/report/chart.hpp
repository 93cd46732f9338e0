// One CSV file of a session turned into series as its rows come.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/session_types.hpp"

struct ChartResult {
    Chart chart;
    std::vector<std::int64_t> times;  // the file's row times in file order, repeats dropped
    std::string error;                // set when the file is no CSV of a session
};

// The series of one CSV file; what was left out of it goes into `problems`.
ChartResult chart_from_csv(const std::string& path, std::string_view text,
                           std::vector<std::string>& problems);

// "monitoring_load" of "system_monitoring/monitoring_load/load.csv".
std::string chart_folder_of(const std::string& path);

// "load.csv" of "system_monitoring/monitoring_load/load.csv".
std::string chart_base_of(const std::string& path);
