#include "kelvane_daemon.hpp"

int main(int argc, char** argv) {
    return kelvane_daemon_main(argc, argv);
}
