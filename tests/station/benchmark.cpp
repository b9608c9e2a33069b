// Sheets a minute against scannersim pacing both directions at its line
// (7 data bits, odd parity, 2 stop bits: 11 bits a character), next to the
// ceiling of the same run: request and answer alternate on a real line, so
// a sheet takes at least the time of every character the station and the
// scanner sent for it, one after another. For 9600, 19200 and 38400 baud,
// records of 1038 and 226 characters (documents 1 and 14), over a
// pseudo-terminal and over loopback TCP. Prints figures; asserts nothing.
//
// station_benchmark [SCALE]   (default 1: 12 long or 40 short records a cell)
//
// The machine's load average is printed before and after: other work on
// it delays the turn-arounds, which the line itself does not have.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

struct Cell {
    bool tcp;
    int baud;
    int document;
    int sheets;
};

struct Figures {
    int status = -1;
    double measured = 0;      // sheets a minute, first stamp to last
    double ceiling = 0;       // sheets a minute the characters allow
    double hostChars = 0;     // a sheet
    double scannerChars = 0;  // a sheet
};

// The characters of the whole sheets between the first stamp and the
// last, from the transcript: '<' lines from the station, '>' from the
// scanner, in the order they crossed the line.
void countChars(const std::string &transcript, int sheets, Figures *figures)
{
    std::istringstream lines(transcript);
    int stamps = 0;
    size_t host = 0, scanner = 0;
    for (std::string line; std::getline(lines, line);) {
        size_t bar = line.rfind(" | ");
        if (line.size() < 3 || (line[0] != '<' && line[0] != '>') || bar == std::string::npos)
            continue;
        // "4d 46 30": three characters a byte but the last.
        if (stamps >= 1 && stamps < sheets)
            (line[0] == '<' ? host : scanner) += (line.size() - bar - 2) / 3;
        stamps += line[0] == '<' && line.substr(2, line.find(' ', 2) - 2) == "PrintData";
    }
    figures->hostChars = double(host) / (sheets - 1);
    figures->scannerChars = double(scanner) / (sheets - 1);
}

Figures measure(const Cell &cell)
{
    scannersim::Options options;
    options.pace = true;
    options.line.baud = cell.baud;
    const Layout &row = layout(cell.document);
    for (int i = 0; i < cell.sheets; i++)
        options.deck.push_back(
            sheet(sheetRecord(cell.document, "0000000", std::string(size_t(row.datasetwidth), '0'),
                              "00", unsigned(i + 1))));
    TempDir dir;
    options.transcriptFile = dir.file("transcript");
    if (cell.tcp)
        options.transport = scannersim::Transport::Tcp;
    Sim sim = startScanner(options);
    Process station(markfeedIn(dir, linkArgs(sim, cell.tcp ? 0 : cell.baud), RunOptions::File));

    Figures figures;
    // The scanner wakes every waiter at each frame; this thread sleeps
    // through most of the batch so that it takes no turn from the station.
    if (!sim->waitForFrames("PrintData", 1, 60000))
        return figures;
    Timer first;
    if (!sim->waitForFrames("PrintData", 2, 60000))
        return figures;
    std::this_thread::sleep_for(
        std::chrono::duration<double>(first.seconds() * (cell.sheets - 3) * 9 / 10));
    if (!sim->waitForFrames("PrintData", size_t(cell.sheets), 60000))
        return figures;
    double seconds = first.seconds();
    figures.status = station.wait(30);
    sim->stop();
    countChars(readFile(options.transcriptFile), cell.sheets, &figures);
    figures.measured = 60.0 * (cell.sheets - 1) / seconds;
    double perSheet =
        (figures.hostChars + figures.scannerChars) * scannersim::charSeconds(options.line);
    figures.ceiling = 60.0 / perSheet;
    return figures;
}

}  // namespace

int main(int argc, char **argv)
{
    double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (scale <= 0) {
        std::fprintf(stderr, "usage: station_benchmark [SCALE > 0]\n");
        return 2;
    }
    std::printf("load average before: %s", readFile("/proc/loadavg").c_str());
    std::printf("%-4s %6s %6s %7s %7s %10s %10s %9s\n", "link", "baud", "record", "host", "scanner",
                "measured", "ceiling", "measured/");
    std::printf("%-4s %6s %6s %7s %7s %10s %10s %9s\n", "", "", "chars", "a sheet", "a sheet",
                "sheets/min", "sheets/min", "ceiling");
    int failures = 0;
    for (bool tcp : {false, true}) {
        for (int baud : {9600, 19200, 38400}) {
            for (int document : {1, 14}) {
                int sheets = int(scale * (document == 1 ? 12 : 40));
                Cell cell{tcp, baud, document, sheets < 3 ? 3 : sheets};
                Figures f = measure(cell);
                failures += f.status != 0;
                std::printf("%-4s %6d %6d %7.1f %7.1f %10.1f %10.1f %9.4f%s\n", tcp ? "tcp" : "pty",
                            baud, layout(document).length, f.hostChars, f.scannerChars, f.measured,
                            f.ceiling, f.measured / f.ceiling,
                            f.status == 0 ? "" : "  (markfeed did not end with 0)");
                std::fflush(stdout);
            }
        }
    }
    std::printf("load average after:  %s", readFile("/proc/loadavg").c_str());
    return failures == 0 ? 0 : 1;
}
