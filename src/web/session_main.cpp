#include "web/session_cli.hpp"

int main(int argc, char** argv) {
    return session_cli_main(argc, argv);
}
