// Exclusive advisory locks (flock) on small files, released when their holder goes out of
// scope or its process dies.
#pragma once

#include <string>

#include "lib/fileutil.hpp"

// Opens `path` (made when missing), close-on-exec so that no child started while it is held
// keeps it, and waits for an exclusive lock on it. A descriptor of -1 (errno tells why) when the
// file can't be opened or locked.
FileDescriptor file_lock_take(const std::string& path);
