#include "lib/filehandler.hpp"

#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"

#define LOG_MODULE "lib/filehandler"

// Session information file

// Network counters

// Memory and load

// Streams and radar

// Server reports

// Helper scripts

// Packing a session
