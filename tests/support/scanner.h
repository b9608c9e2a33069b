// scannersim in the test process, and what the tests make for it and read
// from it: the frames it received, status answers, sheet records of each
// document layout, the date stamps a run may print and the data output
// lines they lead to.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "scannersim/scannersim.h"
#include "tests/support/files.h"

namespace support {

// The default reset sequence as it goes on the wire.
extern const std::string resetBytes;
// A frame as the host sends it with the built-in codes: its lead byte, the
// payload, then Eoi CR LF.
std::string frame(char lead, const std::string &payload);

// scannersim in this process.
struct Sim {
    std::string device;  // what to give markfeed's -d
    std::unique_ptr<scannersim::Scanner> scanner;
    explicit operator bool() const { return scanner != nullptr; }
    scannersim::Scanner *operator->() const { return scanner.get(); }
    const scannersim::Scanner &operator*() const { return *scanner; }
};
// Starts scannersim, on a pseudo-terminal linked from a fresh devicePath()
// unless the options say otherwise; throws when it cannot start.
Sim startScanner(scannersim::Options options);
// On a TCP port that may be taken: then no scanner, and no failure.
Sim tryTcpScanner(scannersim::Options options, int port);
// markfeed's words for this scanner: -d, on TCP -p -u and the port, and
// -b when a baud is given.
Strings linkArgs(const Sim &sim, int baud = 0);
// Options as a function sets them up.
scannersim::Options optionsWith(const std::function<void(scannersim::Options &)> &setup);
// Options with this deck.
scannersim::Options deckOf(const std::vector<scannersim::DeckEntry> &deck);
// Options with the sheets and conditions of a deck file text.
scannersim::Options deckOptions(const std::string &deck);
// Options with the control codes of a port configuration file text.
scannersim::Options optionsWithCodes(const std::string &cfgText);

// Every byte the scanner received, in order.
std::string received(const scannersim::Scanner &scanner);
// The frames as "Name detail" ("Status s0", "ModeChange w"), or as names.
Strings frameList(const std::vector<scannersim::Frame> &frames, bool details = true);
// How many frames are named so, or are so as "Name detail".
int countFrames(const std::vector<scannersim::Frame> &frames, const std::string &frame);
// Index of the n-th (1-based) frame named `name`, or -1.
int nthFrame(const std::vector<scannersim::Frame> &frames, const std::string &name, int n);
// The names of the frames between two indexes (exclusive), status
// requests left out.
Strings namesBetween(const std::vector<scannersim::Frame> &frames, int from, int to);

// A long status answer without its CR LF: '0' but for the handshake (34),
// the mode (48) and the positions set.
std::string longStatus(char mode, char handshake,
                       std::initializer_list<std::pair<size_t, char>> set = {}, size_t length = 50);

// Where each document keeps its fields, as the form layouts define them:
// the tests' own statement of the layouts.
struct Layout {
    int document;
    int length;
    int voucher;  // 7 characters
    int dataset;
    int datasetwidth;
    int checksum;  // 2 characters
};
const std::vector<Layout> &layouts();
const Layout &layout(int document);  // document 1's for an unknown one

// A sheet record of `document` at its expected length (or `length`), with
// the document field written as `docfield` (two characters; "" = the number
// zero-filled), and form data around the fields that varies with `seed`.
std::string sheetRecord(int document, const std::string &voucher, const std::string &dataset,
                        const std::string &checksum, unsigned seed, int length = 0,
                        const std::string &docfield = "");
scannersim::DeckEntry sheet(const std::string &record);
// A sheet that is fed but whose record never reaches the station.
scannersim::DeckEntry lostSheet();
// A deck condition; seconds < 0 lasts until the host sends Start.
scannersim::DeckEntry condition(scannersim::EntryKind kind, double seconds = -1);

// The date stamp printed for a sheet whose voucher and dataset read as
// given, at each minute from `from` to `to` (the run's clock is not ours).
Strings possibleStamps(time_t from, time_t to, long voucher, int dataset);
// One data output line: the record, spaces to column 1191, the first 27
// characters of the stamp, CR LF.
std::string outputLine(const std::string &record, const std::string &stamp);
// The data output file a run must leave: the line of each stamped sheet.
std::string stampedLines(const std::vector<scannersim::Sheet> &sheets);
// "Scanning sheet 3.  Please Wait..."
std::string scanning(int number);

}  // namespace support
