// kelvane_session: the command line of the session tool.
#pragma once

#include <string>
#include <vector>

// One command line, taken apart; `error` non-empty for a usage error.
struct SessionCommand {
    std::string command;  // start, stop, status, list, delete, help
    std::string storage;  // "" (any), "internal" or an id
    std::string name;     // delete's session
    bool json = false;
    std::string error;
};
SessionCommand session_cli_parse(const std::vector<std::string>& args);

// Runs one command; exit status 0 done, 1 refused or failed (one line on standard error saying
// why), 2 usage error.
int session_cli_main(int argc, char** argv);
