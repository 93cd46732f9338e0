// The device's own HTTP API, reached through curl on the loopback address.
#pragma once

#include <string>

#include "lib/sysutil.hpp"

// A read pipe delivering the body of GET `path` (the API path with its query, beginning with
// '/'); empty when curl can't be started.
Pipe fremo_get(const std::string& fremo_user, const std::string& fremo_pass,
               const std::string& path);

// Saves the body of GET `path` into `dest`; true when curl exited with status 0 (an HTTP error
// answer is still a success, with the error body in `dest`).
bool fremo_download(const std::string& fremo_user, const std::string& fremo_pass,
                    const std::string& path, const std::string& dest);
