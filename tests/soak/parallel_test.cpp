// Sixteen stations at once, each against a scannersim of its own paced at
// 38400 baud, half on pseudo-terminals and half over loopback TCP: every
// batch byte for byte right, and a second run at each busy scanner refused
// with S46 while the first goes on, from the same station directory (the
// scanner lock) or, on a serial line, from another (the device's own
// lock). Prints each station's CPU time and peak memory.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

constexpr int STATIONS = 16;
constexpr int SHEETS = 30;
const char inUse[] = "S46:  Scanner currently in use.  Press <ENTER>.";

struct Station {
    bool tcp = false;
    Sim sim;
    TempDir dir;
    Strings args;
    std::vector<long> vouchers;
    std::unique_ptr<Process> run;
    int status = -1;
    double seconds = 0;
};

double cpuSeconds(const struct rusage &usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void startStation(Station &station, int number)
{
    scannersim::Options options;
    options.pace = true;
    options.line.baud = 38400;
    station.tcp = number % 2 == 1;
    if (station.tcp)
        options.transport = scannersim::Transport::Tcp;
    for (int i = 0; i < SHEETS; i++) {
        const Layout &row = layouts()[size_t(i + number) % layouts().size()];
        long voucher = 1000L * number + i;
        station.vouchers.push_back(voucher);
        options.deck.push_back(sheet(sheetRecord(
            row.document, std::to_string(10000000 + voucher).substr(1),
            std::string(size_t(row.datasetwidth), '0'), "00", unsigned(number * 100 + i + 1))));
    }
    station.sim = startScanner(options);
    station.args = linkArgs(station.sim, station.tcp ? 0 : 38400);
    station.run =
        std::make_unique<Process>(markfeedIn(station.dir, station.args, RunOptions::File));
}

// A second run at the busy scanner: refused at once, the first run's data
// output file untouched and the first run still going.
void secondRun(Station &station, int number)
{
    SCOPED_TRACE("station " + std::to_string(number));
    ASSERT_TRUE(station.sim->waitForFrames("PrintData", 1, 30000)) << station.run->errors();
    std::string data = station.dir.file("SCAN.DAT");
    size_t before = readFile(data).size();
    // On a serial line every other second run comes from another
    // directory, where only the device's lock can stop it.
    bool elsewhere = !station.tcp && number % 4 == 0;
    TempDir other;
    Result second = runStation(elsewhere ? other : station.dir, station.args, {}, 15);
    EXPECT_TRUE(ended(second, 88, {inUse})) << (elsewhere ? "from another directory" : "");
    EXPECT_GE(readFile(data).size(), before) << "the busy station's data output file was emptied";
    EXPECT_TRUE(station.run->running()) << "the first run did not go on";
}

// Every sheet stamped once, with the run's stamp, and its line in the file.
void checkBatch(Station &station, int number, time_t from, time_t to)
{
    SCOPED_TRACE("station " + std::to_string(number));
    EXPECT_EQ(station.status, 0) << station.run->errors();
    std::vector<scannersim::Sheet> sheets = station.sim->sheets();
    ASSERT_EQ(sheets.size(), size_t(SHEETS));
    for (size_t i = 0; i < sheets.size(); i++) {
        ASSERT_EQ(sheets[i].prints.size(), 1u) << "sheet " << i + 1;
        Strings stamps = possibleStamps(from, to, station.vouchers[i], 0);
        EXPECT_NE(std::find(stamps.begin(), stamps.end(), sheets[i].prints[0].text), stamps.end())
            << "sheet " << i + 1 << " printed \"" << sheets[i].prints[0].text << "\"";
    }
    EXPECT_TRUE(sameBytes(stampedLines(sheets), readFile(station.dir.file("SCAN.DAT"))));
}

TEST(Soak, StationsInParallel)
{
    struct rusage selfBefore;
    getrusage(RUSAGE_SELF, &selfBefore);
    time_t from = time(nullptr);
    Timer wall;
    std::vector<Station> stations(STATIONS);
    for (int i = 0; i < STATIONS; i++)
        startStation(stations[size_t(i)], i);
    for (int i = 0; i < STATIONS; i++)
        secondRun(stations[size_t(i)], i);
    for (bool going = true; going && wall.seconds() < 180; usleep(20000)) {
        going = false;
        for (Station &station : stations)
            if (station.seconds == 0 && !station.run->running())
                station.seconds = wall.seconds();
            else if (station.seconds == 0)
                going = true;
    }
    for (Station &station : stations)
        station.status = station.run->wait(1);
    time_t to = time(nullptr);
    double elapsed = wall.seconds();
    for (int i = 0; i < STATIONS; i++)
        checkBatch(stations[size_t(i)], i, from, to);

    std::printf("%d stations at once, %d sheets each at 38400 baud, in %.1f s\n", STATIONS, SHEETS,
                elapsed);
    std::printf("station link status  ended at  markfeed CPU ms  peak memory KB\n");
    double cpu = 0;
    long memory = 0;
    for (int i = 0; i < STATIONS; i++) {
        const Station &s = stations[size_t(i)];
        const struct rusage &usage = s.run->usage();
        cpu += cpuSeconds(usage);
        memory = std::max(memory, usage.ru_maxrss);
        std::printf("%7d %-4s %6d %8.1f s %15.1f %15ld\n", i + 1, s.tcp ? "tcp" : "pty", s.status,
                    s.seconds, 1000 * cpuSeconds(usage), usage.ru_maxrss);
    }
    struct rusage self;
    getrusage(RUSAGE_SELF, &self);
    std::printf("markfeed: %.1f ms CPU a station on average (%.2f ms a sheet), %ld KB peak "
                "memory at most\n",
                1000 * cpu / STATIONS, 1000 * cpu / STATIONS / SHEETS, memory);
    std::printf("this process (the 16 scanners, paced byte by byte, and the test): %.1f s CPU, "
                "%.0f ms a scanner, %ld KB peak memory\n",
                cpuSeconds(self) - cpuSeconds(selfBefore),
                1000 * (cpuSeconds(self) - cpuSeconds(selfBefore)) / STATIONS, self.ru_maxrss);
    std::printf("load average: %s", readFile("/proc/loadavg").c_str());
}

}  // namespace
