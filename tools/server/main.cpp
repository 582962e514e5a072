// kestrix-server: the reference tracking server (see ServerCommand.h for the commands).
// SIGINT and SIGTERM are blocked in every thread and taken synchronously by the main
// thread, which then stops the server and exits 0.
#include <signal.h>

#include <iostream>
#include <string>
#include <vector>

#include "ServerCommand.h"

int main(int argc, char** argv) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // Blocked before any thread starts, so the server's thread inherits the mask and the
    // signal can only be taken by sigwait below.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> args(argv + 1, argv + argc);
    return kestrix::refserver::RunServerCommand(args, std::cout, std::cerr, [&] {
        int which = 0;
        while (sigwait(&stopSignals, &which) != 0) {
        }
    });
}
