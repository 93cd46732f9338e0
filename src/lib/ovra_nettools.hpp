// Ping and traceroute for the web tools: the command's output goes to standard output (the
// tool's answer) and a short result to the log.
#pragma once

// Runs ping on `address` (validated by the caller); its error output comes through as well.
// The pipe's wait status, or -1.
int ovra_nettools_ping(const char* address);

// Runs `command`, a whole traceroute command line built by the caller. The pipe's wait status,
// or -1.
int ovra_nettools_traceroute(const char* command);
