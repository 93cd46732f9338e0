// Reading the CSV files of a session as the daemon and its helper scripts really write them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CsvRow {
    std::size_t line;  // 1-based line number in the file
    std::int64_t t;    // its time stamp (csv_time)
    std::vector<std::string> cells;
};

struct CsvTable {
    std::vector<std::string> header;
    std::size_t rows = 0;
    std::size_t repeated_headers = 0;  // a file recreated mid-session starts over with its header
    std::size_t untimed_rows = 0;      // rows written while the clock could not be read
    std::size_t broken_rows = 0;
    std::string first_problem;  // "line N: why" of the first broken row
    std::string error;          // set when the text is no CSV at all
};

// Cells of one line into `cells` (its strings are reused): split at commas, double-quoted cells
// may hold commas and doubled quotes; blanks around a cell are dropped. False when a quote is
// left open.
bool csv_split(std::string_view line, std::vector<std::string>& cells);

// Seconds since 1970-01-01 of a local date and time ("2024-03-07", "14:05:09"), or nothing.
// The files carry no zone, so the report keeps the device's wall clock as it was.
std::optional<std::int64_t> csv_time(std::string_view date, std::string_view time);

// "2024-03-07 14:05:09" for a value of csv_time.
std::string csv_time_text(std::int64_t t);

// The whole file: the first line is the header; the Date and Time columns (or DATE, TIME)
// must be there, and every kept row has a valid time stamp and as many cells as the header.
// Kept rows go to `on_row` one at a time, in file order, and are not kept; at most `max_rows`
// rows are read.
using CsvRowFn = std::function<void(const CsvRow&)>;
CsvTable csv_parse(std::string_view text, const CsvRowFn& on_row, std::size_t max_rows = SIZE_MAX);

// The leading number of a cell that may carry a unit ("12.3 Mbit/s", "3%"), or nothing.
std::optional<double> csv_number(std::string_view cell);

// Index of the column named `name` (case-insensitive), or -1.
int csv_column(const std::vector<std::string>& header, std::string_view name);
