// The session's files: the session information file, the CSV collectors of the network,
// memory, load, stream and radar series, the server report snapshots, the helper scripts and
// the packing of a finished session.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Session information file

// Network counters

// Memory and load

// Streams and radar

// Appends the video streams that the streamer reports as open to stream.csv.
void store_video_stream_history_no_retention(const std::string& session_path);
// The cells of a stream.csv row (after the time stamp) from the streamer's filtered reply lines.
std::string stream_history_cells(const std::vector<std::string>& lines);
// Copies the radar diagnostics into the session: data files once, statistics every time.
void store_radar_data(const std::string& session_path);
// The names in the directory `path`, comma-separated, cut to `size` - 1 characters.
std::string get_names_listed_from_directory(const std::string& path, size_t size);

// Server reports

// Helper scripts

// Packing a session
