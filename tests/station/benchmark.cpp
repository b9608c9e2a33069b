// How many sheets a minute a batch reaches against scannersim sending at
// the line's own pace (19200 baud, 7 data bits, odd parity, 2 stop bits:
// 11 bits a character), next to what the line itself allows for the same
// records. Prints figures; asserts nothing.
//
// station_benchmark [SHEETS]   (default 30)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/programs.h"
#include "support/scanner.h"

using namespace support;

int main(int argc, char **argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 30;
    if (count < 2) {
        std::fprintf(stderr, "usage: station_benchmark [SHEETS >= 2]\n");
        return 2;
    }
    scannersim::Options options;
    options.pace = true;
    Strings records;
    for (int i = 0; i < count; i++) {
        records.push_back(sheetRecord(1, "0000000", "000", "00", unsigned(i + 1)));
        options.deck.push_back(sheet(records.back()));
    }
    Sim sim = startScanner(options);
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device}, RunOptions::File));

    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> stamped;
    for (int k = 1; k <= count; k++) {
        if (!sim->waitForFrames("PrintData", size_t(k), 60000)) {
            std::fprintf(stderr, "sheet %d was not stamped in time\n", k);
            return 1;
        }
        stamped.push_back(Clock::now());
    }
    int status = station.wait(30);

    // Characters each way per sheet, from the first stamp to the last.
    std::vector<scannersim::Frame> frames = sim->frames();
    std::vector<scannersim::Frame> answers = sim->answers();
    int first = nthFrame(frames, "PrintData", 1);
    int last = nthFrame(frames, "PrintData", count);
    size_t hostBytes = 0;
    for (int i = first + 1; i <= last; i++)
        hostBytes += frames[size_t(i)].bytes.size();
    size_t scannerBytes = 0;
    int records_seen = 0;
    for (const scannersim::Frame &answer : answers) {
        if (answer.name == "Record")
            records_seen++;
        // From the second record on, with the status answers around it.
        if (records_seen >= 2 && records_seen <= count)
            scannerBytes += answer.bytes.size();
    }
    double perSheetOut = double(scannerBytes) / (count - 1);
    double perSheetIn = double(hostBytes) / (count - 1);

    double seconds = std::chrono::duration<double>(stamped.back() - stamped.front()).count();
    double measured = 60.0 * (count - 1) / seconds;
    double charsPerSecond = 19200.0 / 11.0;
    double recordChars = double(records[0].size() + 2);
    std::printf("markfeed exit status: %d, %d sheets of %zu characters\n", status, count,
                records[0].size());
    std::printf("measured:   %.1f sheets/min (%.3f s a sheet)\n", measured, seconds / (count - 1));
    std::printf("line limit: %.1f sheets/min for the record alone (%.0f characters)\n",
                60.0 * charsPerSecond / recordChars, recordChars);
    std::printf("            %.1f sheets/min for all the scanner sends (%.0f characters a sheet)\n",
                60.0 * charsPerSecond / perSheetOut, perSheetOut);
    std::printf("            %.1f sheets/min if the station's %.0f characters a sheet shared "
                "the line\n",
                60.0 * charsPerSecond / (perSheetOut + perSheetIn), perSheetIn);
    return status == 0 ? 0 : 1;
}
