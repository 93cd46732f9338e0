// Where the package's sessions lie and what their folders tell: the pieces that starting,
// ending, listing and deleting sessions share. No process is started here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lib/storage_investigator.hpp"

// The storage id of sessions on the device's internal storage.
inline constexpr const char* kInternalStorage = "internal";

// The folder of the package's sessions below an edge storage's mount point.
inline constexpr const char* kSessionRootName = "Kelvane/";

// The folder name form of a session, a local time "%Y%m%d_%H_%M_%S": 17 characters, digits and
// underscores in their places.
bool session_name_valid(std::string_view name);

// `value` fit for a one-line message: control characters as '?', cut to 256 characters.
std::string session_printable(std::string_view value);

// The session root of `storage` ("internal" or an id of `storages`) with its trailing slash;
// nothing, with the reason, for an unknown id or a mount point outside the storage folder.
std::optional<std::string> session_place_root(const std::string& storage,
                                              const StorageList& storages, std::string& reason);

// True when `root` + `name` is a session folder of this package itself, not a link to one.
bool session_place_is_session(const std::string& root, const std::string& name);

// The folder of the session `name` on `storage` after every check (name form, storage, an
// existing session folder of this package, no link); nothing, with the reason, otherwise.
std::optional<std::string> session_place_folder(const std::string& name, const std::string& storage,
                                                const StorageList& storages, std::string& reason);

// Why the state file's session folder `path` can't be used ("" when it can): out of reach (its
// storage gone), or no session folder of this package at all.
std::string session_folder_problem(const std::string& path);

// The fields of Session_Information.txt that a status shows (the last line of each counts).
struct SessionInfoFields {
    std::string start_time, duration;
    unsigned long data_points = 0;
};
SessionInfoFields session_info_fields(std::string_view text);

// Bytes of the regular files below `path`, links not followed.
unsigned long long session_walk_bytes(const std::string& path);

// The used share of the file system holding `path` as df rounds it (up); nothing when unknown.
std::optional<int> session_use_percent(const std::string& path);

// Size of the regular file `path` (a link is none); nothing when there is no such file.
std::optional<unsigned long long> session_regular_file_bytes(const std::string& path);

// True when `a` and `b` name the same existing directory.
bool session_same_folder(const std::string& a, const std::string& b);
