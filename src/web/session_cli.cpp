#include "web/session_cli.hpp"

#include <cstdio>

#include "web/session_tool.hpp"

int session_cli_main(int, char**) {
    std::fputs("kelvane_session: not yet built\n", stderr);
    return 1;
}
