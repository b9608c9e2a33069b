// The station's main job, end to end, for a newcomer to watch: scannersim
// plays the scanner on a pseudo-terminal, markfeed downloads the sample form
// and scans the sample batch, and the operator's ENTER is typed whenever a
// message asks for it.
//
// stationdemo EXAMPLES_DIR WORK_DIR
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "station.h"

using namespace harness;

namespace {

void copyfile(const std::string &from, const std::string &to)
{
    writeFile(to, readFile(from));
}

// Prints the operator's message lines as they come; types ENTER for each
// one that waits. Returns markfeed's exit status.
int operate(Station &station)
{
    size_t shown = 0;
    for (;;) {
        bool running = station.running();
        station.idle(0.1);
        std::string all = station.errors();
        // A message is complete once the whole 79-column line is there; a
        // message that waits gets its carriage return only after the key.
        size_t tail = all.rfind('\r');
        tail = tail == std::string::npos ? 0 : tail + 1;
        std::vector<std::string> lines = messages(all.substr(0, tail));
        if (all.size() - tail >= 79)
            lines.push_back(messages(all.substr(tail)).at(0));
        for (; shown < lines.size(); shown++) {
            printf("  operator sees: %s\n", lines[shown].c_str());
            if (lines[shown].find("Press <ENTER>.") != std::string::npos) {
                printf("  operator presses <ENTER>\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                station.type("\r");
            }
        }
        fflush(stdout);
        if (!running)
            return station.wait(0);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: stationdemo EXAMPLES_DIR WORK_DIR\n");
        return 2;
    }
    std::string examples = argv[1];
    std::string work = argv[2];
    copyfile(examples + "/demo.dlf", work + "/demo.dlf");
    copyfile(examples + "/demo.rtp", work + "/demo.rtp");
    // markfeed's port name is the device path without its first five
    // characters, so the scanner's link sits directly under /tmp.
    std::string device = "/tmp/ttyDEMO" + std::to_string(getpid());

    RunOptions scanner;
    scanner.program = scannersimPath();
    scanner.input = RunOptions::File;
    scanner.args = {"--pty",
                    "--link",
                    device,
                    "--deck",
                    examples + "/batch.deck",
                    "--transcript",
                    work + "/scanner-transcript.txt",
                    "--sheets",
                    work + "/scanner-sheets.txt"};
    printf("Starting scannersim %s\n", device.c_str());
    Station sim(scanner);
    for (int i = 0; i < 100 && sim.output().find("ready") == std::string::npos; i++)
        sim.idle(0.05);

    RunOptions station;
    station.cwd = work;
    station.args = {"-d", device, "-l", work, "-f", "demo", "-m", "12", "-x"};
    printf("\nRunning: markfeed -d %s -l %s -f demo -m 12 -x\n", device.c_str(), work.c_str());
    Station run(station);
    int status = operate(run);
    printf("\nmarkfeed exit status: %d\n", status);

    sim.kill(SIGTERM);
    sim.wait(5);
    unlink(device.c_str());

    std::string data = readFile(work + "/SCAN.DAT");
    printf("\nData output file %s/SCAN.DAT: %zu bytes\n", work.c_str(), data.size());
    size_t start = 0;
    for (size_t end; (end = data.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = data.substr(start, end - start);
        printf("  %4zu characters: %.13s ... [%s]\n", line.size(), line.c_str(),
               line.size() >= 27 ? line.substr(line.size() - 27).c_str() : "");
    }
    printf("\nSheets as the scanner saw them (%s/scanner-sheets.txt):\n%s", work.c_str(),
           readFile(work + "/scanner-sheets.txt").c_str());
    printf("\nThe trace is %s/scantest.log; the scanner's transcript %s/scanner-transcript.txt.\n",
           work.c_str(), work.c_str());
    return status == 0 ? 0 : 1;
}
