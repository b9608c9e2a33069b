// The programs under test: how each is started, markfeed in a directory,
// and what a finished markfeed run leaves: exit status, messages, trace and
// data output file.
#pragma once

#include <map>
#include <string>

#include "tests/support/process.h"

namespace support {

enum class Program { Markfeed, Scannersim, Probe };
// The words that start a program under test. Every start goes through
// here, so that an emulator can be put in front of them in one place.
Strings command(Program program);
// Whether the programs under test, this test program among them, are built
// for another machine and run through an emulator.
bool emulated();

// Environment that preloads a library of tests/support/preload.
enum class Preload { LineRecorder, BlockOpen, FixedClock };
std::map<std::string, std::string> preload(Preload library);
// Environment that preloads the line recorder: the line settings asked of
// device go to file, for scannersim to judge (a pty cannot carry them).
std::map<std::string, std::string> recordLine(const std::string &file, const std::string &device);
// Environment in which the program's wall clock stands at `seconds` since
// the epoch, in UTC.
std::map<std::string, std::string> clockAt(long long seconds);

// markfeed in dir with these arguments.
RunOptions markfeedIn(const TempDir &dir, const Strings &args,
                      RunOptions::Input input = RunOptions::Terminal);

// A finished markfeed run.
struct Result {
    int status = -1;
    std::string errors;  // standard error as written
    Strings messages;    // its message lines
    std::string trace;   // scantest.log
    std::string data;    // SCAN.DAT
    double seconds = 0;  // from start to end
};
// The run ended with this status after showing exactly these messages.
::testing::AssertionResult ended(const Result &run, int status, const Strings &messages);
// Runs markfeed in dir with standard input from /dev/null, so that every
// key wait goes on at once.
Result runStation(const TempDir &dir, const Strings &args,
                  const std::map<std::string, std::string> &env = {}, double limit = 30);
// The same in a fresh directory that is gone afterwards.
Result runStation(const Strings &args, const std::map<std::string, std::string> &env = {},
                  double limit = 30);
// Collects a station that the test drove itself.
Result finish(Process &station, const TempDir &dir, double limit = 30);

}  // namespace support
