// The event log of the package: a device event listener's text output, read line by line, becomes
// one system-log line per metadata event (through the event listener line parser).
#pragma once

#include <cstddef>
#include <cstdio>

// The longest line handed to the parser, without its line end. Every field of an event is cut far
// shorter (a topic at 47 characters, a source or data part at 127), so a longer line is no event
// line a listener prints: it is cut here and the rest of it, up to its line end, is dropped.
inline constexpr size_t kEventLineMax = 4095;

// Feeds every line of `in` to the parser until the end of input, without its line end ("\n" or
// "\r\n"); a line longer than kEventLineMax is cut. The number of lines that were cut.
size_t events_feed(std::FILE* in);
