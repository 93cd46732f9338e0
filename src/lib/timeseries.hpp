// The way every collector appends one sample to a CSV time series in a monitoring folder:
// header first when the file is new or empty, then the row; opened, written and closed in one
// call.
#pragma once

#include <functional>
#include <string>

// "<session_path>/system_monitoring/<name>"
std::string monitoring_folder(const std::string& session_path, const std::string& name);

// Appends `row` to `file_path`, preceded by `header` when the file is new or empty, in one
// write. Both are written as they stand (line endings included). When the file can't be
// opened, logs "Could not open file '%s'" with the caller's module and line and drops the
// sample; between csv_open_failures_collect and csv_open_failures_report only the first
// failure of a folder and errno is logged.
bool csv_append(const char* module, int line, const std::string& file_path,
                const std::string& header, const std::string& row);

// The same, with a row that is only worth reading from the device once the file is open.
bool csv_append(const char* module, int line, const std::string& file_path,
                const std::string& header, const std::function<std::string()>& make_row);

// Brackets a tick: the failures csv_append did not log are then reported as one line per
// folder and errno, "<n> more files in '<folder>' could not be opened (errno: <text>)".
void csv_open_failures_collect();
void csv_open_failures_report();
// Forgets a bracket left open (for tests).
void timeseries_state_reset();

// The date and time columns of a row ("2024-03-07,14:05:09"), empty when the time can't be had.
std::string csv_timestamp();

// Appends `<date>,<time><cells><line_end>`; `cells` holds each value preceded by a comma and
// `header` excludes the line ending, which is the file's own for both.
#define CSV_APPEND_ROW(file_path, header, cells, line_end)                          \
    csv_append(LOG_MODULE, __LINE__, (file_path), std::string(header) + (line_end), \
               csv_timestamp() + (cells) + (line_end))
