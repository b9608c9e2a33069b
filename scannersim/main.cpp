// scannersim: a sheet scanner in software for running and testing a
// scanner station without hardware.
#include <signal.h>

#include <cstdio>
#include <string>

#include "scannersim/options.h"
#include "scannersim/scannersim.h"

#ifndef SCANNERSIM_VERSION
#error "SCANNERSIM_VERSION comes from the project's version in CMake"
#endif

namespace {

// SIGHUP: the operator loaded forms. The deck file is read as it is now,
// so a trainer may edit it between batches.
void reloadDeck(scannersim::Scanner &scanner, const std::string &path)
{
    std::vector<scannersim::DeckEntry> entries;
    std::string error;
    if (path.empty()) {
        std::fprintf(stderr, "scannersim: SIGHUP: no --deck file to load\n");
    } else if (!scannersim::loadDeckFile(path, &entries, &error)) {
        std::fprintf(stderr, "scannersim: SIGHUP: %s; hopper unchanged\n", error.c_str());
    } else {
        scanner.refill(entries);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    scannersim::Options options;
    std::string error;
    switch (scannersim::parseCommandLine(argc, argv, &options, &error)) {
    case scannersim::ParseResult::Help: std::fputs(scannersim::usageText(), stdout); return 0;
    case scannersim::ParseResult::Version: std::puts("scannersim " SCANNERSIM_VERSION); return 0;
    case scannersim::ParseResult::Error:
        std::fprintf(stderr, "scannersim: %s\nTry 'scannersim --help' for more information.\n",
                     error.c_str());
        return 2;
    case scannersim::ParseResult::Run: break;
    }
    // Blocked before the thread starts, so only sigwait below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    scannersim::Scanner scanner(options);
    if (!scanner.start(&error)) {
        std::fprintf(stderr, "scannersim: %s\n", error.c_str());
        return 1;
    }
    if (options.transport == scannersim::Transport::Tcp)
        std::printf("tcp: 127.0.0.1:%d\n", scanner.port());
    else
        std::printf("device: %s\n", scanner.device().c_str());
    std::printf("ready\n");
    std::fflush(stdout);

    int signal = SIGHUP;
    while (signal == SIGHUP) {
        if (sigwait(&signals, &signal) != 0)
            break;
        if (signal == SIGHUP)
            reloadDeck(scanner, options.deckFile);
    }
    scanner.stop();
    return 0;
}
