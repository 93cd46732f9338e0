// The DNS lookup report of the web tools: what a host name or an address resolves to, written
// to standard output as the tool's answer.
#pragma once

// The kind of text given to write_out_dns; web tools pass the numbers.
enum UrlType : int {
    URLTYPE_HOST = 0,  // resolved forwards
    URLTYPE_IPV4 = 1,  // resolved backwards
    URLTYPE_IPV6 = 2,  // resolved backwards
};

// A host name gives its IPv4 and IPv6 addresses (at most 11 of each), an address the name that
// a reverse lookup finds.
void write_out_dns(const char* url, UrlType type);
