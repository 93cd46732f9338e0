// The files of one session, read from its ZIP archive or from its folder.
#pragma once

#include <map>
#include <string>
#include <vector>

struct SessionFiles {
    std::string name;                          // the session folder's name
    std::map<std::string, std::string> files;  // path inside the session -> contents
    std::vector<std::string> problems;         // "what: why" of everything that was not read
};

// Reads every regular file below a session folder, or every entry of a session ZIP. An archive
// packed with its session folder as the top entry has that folder taken off the paths.
SessionFiles session_source_read(const std::string& path);
