// The files of one session, read from its ZIP archive or from its folder, one at a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Whether the contents of the file at this path inside the session are wanted.
using SessionWantsFn = std::function<bool(const std::string& path)>;
// One file of the session; `contents` is empty unless it was wanted, and may be taken.
using SessionFileFn = std::function<void(const std::string& path, std::string& contents)>;

struct SessionRead {
    std::string name;                   // the session folder's name
    std::vector<std::string> problems;  // "what: why" of everything that was not read
};

// Hands every regular file below a session folder, or every entry of a session ZIP, to `file`,
// in the order of their paths and each path once (a salvaged archive's later copy of an entry
// wins). An archive packed with its session folder as the top entry has that folder taken off
// the paths.
SessionRead session_source_read(const std::string& path, const SessionWantsFn& wants,
                                const SessionFileFn& file);
