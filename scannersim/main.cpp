// scannersim: a sheet scanner in software for running and testing a
// scanner station without hardware.
#include <signal.h>

#include <cstdio>
#include <string>

#include "options.h"
#include "scannersim.h"

int main(int argc, char **argv)
{
    scannersim::Options options;
    std::string error;
    switch (scannersim::parseCommandLine(argc, argv, &options, &error)) {
    case scannersim::ParseResult::Help: std::fputs(scannersim::usageText(), stdout); return 0;
    case scannersim::ParseResult::Error:
        std::fprintf(stderr, "scannersim: %s\n%s", error.c_str(), scannersim::usageText());
        return 2;
    case scannersim::ParseResult::Run: break;
    }
    // Blocked before the thread starts, so only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

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

    int signal = 0;
    sigwait(&stopSignals, &signal);
    scanner.stop();
    return 0;
}
