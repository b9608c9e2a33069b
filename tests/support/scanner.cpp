#include "tests/support/scanner.h"

#include <cstdio>
#include <stdexcept>

#include "tests/support/lines.h"

using scannersim::Frame;

namespace support {

const std::string resetBytes("\x14\x04\r\n\x12\x0e\x07\x60\x04", 9);

std::string frame(char lead, const std::string &payload)
{
    return std::string(1, lead) + payload + "\x04\r\n";
}

Sim startScanner(scannersim::Options options)
{
    bool tcp = options.transport == scannersim::Transport::Tcp;
    if (!tcp && options.link.empty())
        options.link = devicePath();
    Sim sim;
    sim.device = tcp ? "/net/127.0.0.1" : options.link;
    sim.scanner = std::make_unique<scannersim::Scanner>(options);
    std::string error;
    if (!sim.scanner->start(&error))
        throw std::runtime_error("scannersim did not start: " + error);
    return sim;
}

Sim tryTcpScanner(scannersim::Options options, int port)
{
    options.transport = scannersim::Transport::Tcp;
    options.tcpPort = port;
    try {
        return startScanner(options);
    } catch (const std::runtime_error &) {
        return {};
    }
}

Strings linkArgs(const Sim &sim, int baud)
{
    Strings args = {"-d", sim.device};
    if (sim->port() != 0)
        args = concat(args, {"-p", "-u", std::to_string(sim->port())});
    return baud == 0 ? args : concat(args, {"-b", std::to_string(baud)});
}

scannersim::Options optionsWith(const std::function<void(scannersim::Options &)> &setup)
{
    scannersim::Options options;
    setup(options);
    return options;
}

scannersim::Options deckOf(const std::vector<scannersim::DeckEntry> &deck)
{
    return optionsWith([&deck](scannersim::Options &options) { options.deck = deck; });
}

scannersim::Options deckOptions(const std::string &deck)
{
    scannersim::Options options;
    std::string error;
    if (!scannersim::parseDeck(deck, &options.deck, &error))
        ADD_FAILURE() << error;
    return options;
}

scannersim::Options optionsWithCodes(const std::string &cfgText)
{
    TempDir dir;
    writeFile(dir.file("codes.cfg"), cfgText);
    scannersim::Options options;
    std::string error;
    if (!scannersim::readCodesFile(dir.file("codes.cfg"), &options.codes, &error))
        ADD_FAILURE() << error;
    return options;
}

std::string received(const scannersim::Scanner &scanner)
{
    std::string bytes;
    for (const Frame &frame : scanner.frames())
        bytes += frame.bytes;
    return bytes;
}

Strings frameList(const std::vector<Frame> &frames, bool details)
{
    Strings list;
    for (const Frame &frame : frames)
        list.push_back(!details || frame.detail.empty() ? frame.name
                                                        : frame.name + " " + frame.detail);
    return list;
}

int countFrames(const std::vector<Frame> &frames, const std::string &frame)
{
    int count = 0;
    for (const Frame &f : frames)
        count += f.name == frame || f.name + " " + f.detail == frame;
    return count;
}

int nthFrame(const std::vector<Frame> &frames, const std::string &name, int n)
{
    for (size_t i = 0; i < frames.size(); i++)
        if (frames[i].name == name && --n == 0)
            return static_cast<int>(i);
    return -1;
}

Strings namesBetween(const std::vector<Frame> &frames, int from, int to)
{
    Strings names;
    for (int i = from + 1; i < to && i < static_cast<int>(frames.size()); i++)
        if (frames[static_cast<size_t>(i)].name != "Status")
            names.push_back(frames[static_cast<size_t>(i)].name);
    return names;
}

std::string longStatus(char mode, char handshake,
                       std::initializer_list<std::pair<size_t, char>> set, size_t length)
{
    std::string status(length, '0');
    status[34] = handshake;
    status[48] = mode;
    for (const auto &entry : set)
        status[entry.first] = entry.second;
    return status;
}

const std::vector<Layout> &layouts()
{
    static const std::vector<Layout> rows = {
        {1, 1038, 21, 28, 3, 31},  {2, 695, 272, 279, 2, 281}, {3, 827, 272, 279, 2, 281},
        {4, 329, 41, 48, 2, 50},   {5, 905, 21, 28, 3, 31},    {6, 1169, 21, 28, 3, 31},
        {8, 1054, 21, 28, 3, 31},  {10, 1038, 21, 28, 3, 31},  {11, 1180, 21, 28, 3, 31},
        {12, 1179, 21, 28, 3, 31}, {13, 897, 21, 28, 3, 31},   {14, 226, 41, 48, 3, 51},
    };
    return rows;
}

const Layout &layout(int document)
{
    for (const Layout &row : layouts())
        if (row.document == document)
            return row;
    return layouts()[0];
}

namespace {

void put(std::string &record, size_t offset, const std::string &text)
{
    for (size_t i = 0; i < text.size() && offset + i < record.size(); i++)
        record[offset + i] = text[i];
}

}  // namespace

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
    put(record, static_cast<size_t>(row.voucher), voucher);
    put(record, static_cast<size_t>(row.dataset), dataset);
    put(record, static_cast<size_t>(row.checksum), checksum);
    return record;
}

scannersim::DeckEntry sheet(const std::string &record)
{
    scannersim::DeckEntry entry;
    entry.kind = scannersim::EntryKind::Record;
    entry.record = record;
    return entry;
}

scannersim::DeckEntry lostSheet()
{
    scannersim::DeckEntry entry = sheet("");
    entry.lost = true;
    return entry;
}

scannersim::DeckEntry condition(scannersim::EntryKind kind, double seconds)
{
    scannersim::DeckEntry entry;
    entry.kind = kind;
    entry.seconds = seconds;
    return entry;
}

Strings possibleStamps(time_t from, time_t to, long voucher, int dataset)
{
    Strings stamps;
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

std::string stampedLines(const std::vector<scannersim::Sheet> &sheets)
{
    std::string lines;
    for (const scannersim::Sheet &sheet : sheets)
        if (!sheet.prints.empty())
            lines += outputLine(sheet.record, sheet.prints[0].text);
    return lines;
}

std::string scanning(int number)
{
    return "Scanning sheet " + std::to_string(number) + ".  Please Wait...";
}

}  // namespace support
