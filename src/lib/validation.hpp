// Checks on text typed by a user before a web tool puts it on a command line. None of them logs.
#pragma once

bool validate_ipv4(const char* string);
bool validate_ipv6(const char* string);
// Letters, digits, '-' and '.', at most 255 of them, not starting with '-' or '.' and not ending
// with '-'; labels are not checked further.
bool validate_hostname(const char* string);
// An IPv4 address, else an IPv6 address, else a host name.
bool validate_address(const char* string);
// Decimal digits only; the empty string counts.
bool validate_digits(const char* string);
