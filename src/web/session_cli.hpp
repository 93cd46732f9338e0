// kelvane_session: the command line of the session tool.
#pragma once

// Runs one command; exit status 0 done, 1 refused or failed, 2 usage error.
int session_cli_main(int argc, char** argv);
