#include "station_util.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>

using scannersim::DeckEntry;
using scannersim::EntryKind;
using scannersim::Frame;

namespace stationtest {

namespace {

const Layout layouts[] = {
    {1, 1038, 21, 28, 3, 31},  {2, 695, 272, 279, 2, 281}, {3, 827, 272, 279, 2, 281},
    {4, 329, 41, 48, 2, 50},   {5, 905, 21, 28, 3, 31},    {6, 1169, 21, 28, 3, 31},
    {8, 1054, 21, 28, 3, 31},  {10, 1038, 21, 28, 3, 31},  {11, 1180, 21, 28, 3, 31},
    {12, 1179, 21, 28, 3, 31}, {13, 897, 21, 28, 3, 31},   {14, 226, 41, 48, 3, 51},
};

void put(std::string &record, int offset, const std::string &text)
{
    for (size_t i = 0; i < text.size() && offset + i < record.size(); i++)
        record[offset + i] = text[i];
}

}  // namespace

const Layout &layout(int document)
{
    for (const Layout &row : layouts)
        if (row.document == document)
            return row;
    // Documents without a row borrow document 1's places for their fields.
    return layouts[0];
}

std::string sheetRecord(int document, const std::string &voucher, const std::string &dataset,
                        const std::string &checksum, unsigned seed, int length,
                        const std::string &docfield)
{
    const Layout &row = layout(document);
    static const char marks[] = "0123456789 ABCDEFGHIJ 01 ";
    std::string record(static_cast<size_t>(length > 0 ? length : row.length), ' ');
    unsigned state = seed * 2654435761u + 12345u;
    for (char &c : record) {
        state = state * 1103515245u + 12345u;
        c = marks[(state >> 16) % (sizeof marks - 1)];
    }
    put(record, 0, "MF" + std::to_string(100000000 + seed).substr(1));
    char field[8];
    snprintf(field, sizeof field, "%02d", document);
    put(record, 11, docfield.empty() ? field : docfield);
    put(record, row.voucher, voucher);
    put(record, row.dataset, dataset);
    put(record, row.checksum, checksum);
    return record;
}

DeckEntry sheet(const std::string &record)
{
    DeckEntry entry;
    entry.kind = EntryKind::Record;
    entry.record = record;
    return entry;
}

DeckEntry condition(EntryKind kind, double seconds)
{
    DeckEntry entry;
    entry.kind = kind;
    entry.seconds = seconds;
    return entry;
}

std::vector<std::string> possibleStamps(time_t from, time_t to, long voucher, int dataset)
{
    std::vector<std::string> stamps;
    for (time_t t = from - from % 60; t <= to; t += 60) {
        struct tm local;
        localtime_r(&t, &local);
        char text[100];
        snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d %ld, %d%14s", local.tm_mon + 1,
                 local.tm_mday, local.tm_year % 100, local.tm_hour, local.tm_min, voucher, dataset,
                 "");
        stamps.push_back(text);
    }
    return stamps;
}

std::string outputLine(const std::string &record, const std::string &stamp)
{
    std::string line = record;
    line.resize(1191, ' ');
    return line + stamp.substr(0, 27) + "\r\n";
}

std::string uniqueTmpPath(const std::string &prefix)
{
    static std::atomic<int> counter{0};
    return "/tmp/" + prefix + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

Sim::Sim(scannersim::Options options) : device_(uniqueTmpPath("mfs"))
{
    options.transport = scannersim::Transport::Pty;
    options.link = device_;
    scanner_.reset(new scannersim::Scanner(options));
    std::string error;
    if (!scanner_->start(&error))
        throw std::runtime_error("scannersim: " + error);
}

Sim::~Sim()
{
    scanner_->stop();
    unlink(device_.c_str());
}

harness::RunOptions stationRun(const harness::TempDir &dir, const std::string &device,
                               const std::vector<std::string> &args)
{
    harness::RunOptions run;
    run.cwd = dir.path();
    run.args = {"-d", device};
    run.args.insert(run.args.end(), args.begin(), args.end());
    return run;
}

::testing::AssertionResult shows(harness::Station &station, const std::string &text, int count,
                                 double seconds)
{
    if (station.waitForCount(text, count, seconds))
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << "\"" << text << "\" not shown " << count << " time(s); shown:";
    for (const std::string &line : harness::messages(station.errors()))
        failure << "\n  " << line;
    return failure;
}

::testing::AssertionResult sameBytes(const std::string &expected, const std::string &actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        at++;
    size_t line = at / 1220;
    auto context = [&](const std::string &s) {
        size_t from = at >= 20 ? at - 20 : 0;
        std::string piece = s.substr(std::min(from, s.size()), 50);
        for (char &c : piece)
            if (c == '\r' || c == '\n')
                c = '|';
        return "\"" + piece + "\"";
    };
    return ::testing::AssertionFailure()
           << "expected " << expected.size() << " bytes, got " << actual.size()
           << "; first difference at byte " << at << " (line " << line + 1 << ", column "
           << at % 1220 << ")\n  expected " << context(expected) << "\n  actual   "
           << context(actual);
}

std::vector<std::string> frameNames(const std::vector<Frame> &frames)
{
    std::vector<std::string> names;
    for (const Frame &frame : frames)
        names.push_back(frame.name);
    return names;
}

int nthFrame(const std::vector<Frame> &frames, const std::string &name, int n)
{
    for (size_t i = 0; i < frames.size(); i++)
        if (frames[i].name == name && --n == 0)
            return static_cast<int>(i);
    return -1;
}

int countFrames(const std::vector<Frame> &frames, const std::string &name)
{
    int count = 0;
    for (const Frame &frame : frames)
        count += frame.name == name;
    return count;
}

std::vector<std::string> namesBetween(const std::vector<Frame> &frames, int from, int to)
{
    std::vector<std::string> names;
    for (int i = from + 1; i < to && i < static_cast<int>(frames.size()); i++)
        if (frames[static_cast<size_t>(i)].name != "Status")
            names.push_back(frames[static_cast<size_t>(i)].name);
    return names;
}

std::string scanning(int number)
{
    return "Scanning sheet " + std::to_string(number) + ".  Please Wait...";
}

std::string configWithNoWait(int nowait)
{
    // Positions 1-29 at their built-in values, then NoWait.
    return "4 13 10 114 14 17 17 115 48 49 50 101 28 29 18 49 50 21 20 19 25 13 0 51 27\n"
           "19200 7 2 2\n" +
           std::to_string(nowait) + "\n";
}

}  // namespace stationtest
