// What a session holds, turned from its files into series, facts and findings as the files come,
// without keeping their rows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "report/session_types.hpp"

// What the model keeps while the files come.
struct SessionBuilder {
    SessionModel m;
    std::vector<std::int64_t> times;                // every row's time, sorted, once each
    std::map<std::int64_t, std::size_t> intervals;  // seconds between a file's rows -> count
    std::string signature;
    std::map<std::string, std::vector<Snapshot>> snapshots;
};

// Fields of "Field: Value" lines, other lines as a value with an empty field.
std::vector<std::pair<std::string, std::string>> session_model_facts(const std::string& text);

// Whether the contents of the file at `path` are of use (tables, the session's own text files,
// the snapshots shown as text).
bool session_model_wants(const std::string& path);

// Takes one file of the session; `contents` may be taken.
void session_model_add(SessionBuilder& b, const std::string& path, std::string& contents);

// The model once every file was added.
SessionModel session_model_finish(SessionBuilder& b);
