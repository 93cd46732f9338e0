// Child processes of the test support, killed when the test process dies, also when a test
// crashes or times out.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// Starts `args` (args[0] an absolute path) with stderr dropped. Its stdout is dropped too, or,
// given `first_line`, read up to its first line feed (or end), which is stored there without
// it. -1 when it could not fork.
pid_t spawn(const std::vector<std::string>& args, std::string* first_line = nullptr);

// Sends `signal` to a process that spawn started and waits for it; nothing for pid <= 0 (never
// kill(-1, ...)).
void end(pid_t pid, int signal);

// Polls `done` until it holds; false when it still doesn't after `seconds`, a deadline far
// beyond what a loaded machine needs.
bool wait_until(const std::function<bool()>& done, int seconds = 120);
