// The web tool's form token: a random value kept on the device, which every state-changing
// request must carry, so that a page of another site can't make the browser change anything.
#pragma once

#include <string>
#include <string_view>

// True for a token as this module makes them: 32 lowercase hexadecimal digits.
bool cgi_token_valid(std::string_view token);

// The device's token, made at the first call (from /dev/urandom, mode 0600); empty when it
// can't be read or made, which refuses every state change.
std::string cgi_token_get();
