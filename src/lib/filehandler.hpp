// The session's files: the session information file, the CSV collectors of the network,
// memory, load, stream and radar series, the server report snapshots, the helper scripts and
// the packing of a finished session.
#pragma once

#include <optional>
#include <string>

// Session information file

// Network counters

// Memory and load

// Streams and radar

// Server reports

// Helper scripts

// Packing a session
