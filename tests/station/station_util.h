// Helpers for the end-to-end station tests: scannersim in this process on a
// pseudo-terminal, sheet records of each document layout, the date stamps a
// run may print, and readers for what the scanner saw.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "scannersim.h"
#include "station.h"

namespace stationtest {

// Where each document keeps its fields, as the form layouts define them.
struct Layout {
    int document;
    int length;
    int voucher;  // 7 characters
    int dataset;
    int datasetwidth;
    int checksum;  // 2 characters
};
const Layout &layout(int document);

// A sheet record of `document` at its expected length (or `length`), with
// the document field written as `docfield` (two characters; "" = the number
// zero-filled), and form data around the fields that varies with `seed`.
std::string sheetRecord(int document, const std::string &voucher, const std::string &dataset,
                        const std::string &checksum, unsigned seed, int length = 0,
                        const std::string &docfield = "");

scannersim::DeckEntry sheet(const std::string &record);
// A deck condition; seconds < 0 lasts until the host sends Start.
scannersim::DeckEntry condition(scannersim::EntryKind kind, double seconds = -1);

// The date stamp printed for a sheet whose voucher and dataset read as
// given, at each minute from `from` to `to` (the run's clock is not ours).
std::vector<std::string> possibleStamps(time_t from, time_t to, long voucher, int dataset);

// One data output line: the record, spaces to column 1191, the first 27
// characters of the stamp, CR LF.
std::string outputLine(const std::string &record, const std::string &stamp);

// The scanner on a pty reached through a fresh link directly under /tmp,
// so markfeed's port name (the device path less five characters) is short
// and its own.
class Sim {
public:
    explicit Sim(scannersim::Options options);
    ~Sim();
    const std::string &device() const { return device_; }
    scannersim::Scanner &scanner() { return *scanner_; }
    std::vector<scannersim::Frame> frames() const { return scanner_->frames(); }
    std::vector<scannersim::Frame> answers() const { return scanner_->answers(); }
    std::vector<scannersim::Sheet> sheets() const { return scanner_->sheets(); }

private:
    std::string device_;
    std::unique_ptr<scannersim::Scanner> scanner_;
};

// A path under /tmp no other test uses (for links and missing devices).
std::string uniqueTmpPath(const std::string &prefix);

// markfeed in `dir` against `device`, with the operator's terminal.
harness::RunOptions stationRun(const harness::TempDir &dir, const std::string &device,
                               const std::vector<std::string> &args);

// Waits for `text` to have been shown `count` times; the failure names what
// was shown instead.
::testing::AssertionResult shows(harness::Station &station, const std::string &text, int count = 1,
                                 double seconds = 15);

// Byte-for-byte comparison that reports the first difference readably.
::testing::AssertionResult sameBytes(const std::string &expected, const std::string &actual);

std::vector<std::string> frameNames(const std::vector<scannersim::Frame> &frames);
// Index of the n-th (1-based) frame named `name`, or -1.
int nthFrame(const std::vector<scannersim::Frame> &frames, const std::string &name, int n);
int countFrames(const std::vector<scannersim::Frame> &frames, const std::string &name);
// The names of the frames between two indexes (exclusive), status
// requests left out.
std::vector<std::string> namesBetween(const std::vector<scannersim::Frame> &frames, int from,
                                      int to);

// "Scanning sheet 3.  Please Wait..."
std::string scanning(int number);

// The port configuration file with every built-in value but NoWait.
std::string configWithNoWait(int nowait);

}  // namespace stationtest
