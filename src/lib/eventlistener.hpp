// Turns the lines of a device event listener's output into one log line per metadata event:
// "Metadata Event <time stamp> <topic tree>".
#pragma once

// Feeds one line of the event stream. The line is left as it was given. One stream at a time,
// from one thread: the event being collected is kept between calls.
void parse_eventlistener_line(char* line);
