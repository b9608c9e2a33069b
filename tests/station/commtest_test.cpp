// The communication test (-s) against scannersim set to one line setting:
// the trials in their order, the line written to the data output file and
// the operator's messages. The line recorder tells the scanner the size and
// parity markfeed asked for, which a pty cannot carry.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "station_util.h"

using namespace harness;
using namespace stationtest;

namespace {

// The 36 trials, in the order the operator sees them.
std::vector<std::string> trials()
{
    const char *const framings[] = {"7O2", "7O1", "8O2", "8O1", "7N1", "7N2",
                                    "8N1", "8N2", "7E1", "7E2", "8E1", "8E2"};
    std::vector<std::string> all;
    for (const char *speed : {"9600", "19200", "38400"})
        for (const char *framing : framings)
            all.push_back(std::string(speed) + ":" + framing);
    return all;
}

std::string testing(const std::string &device, const std::string &trial)
{
    return "Testing scanner on " + device + " at " + trial + ".  Please wait...";
}

std::vector<std::string> testingUpTo(const std::string &device, size_t count)
{
    std::vector<std::string> shown;
    std::vector<std::string> all = trials();
    for (size_t i = 0; i < count; i++)
        shown.push_back(testing(device, all[i]));
    return shown;
}

scannersim::Options scannerAt(const std::string &line, const TempDir &dir)
{
    scannersim::Options options;
    EXPECT_TRUE(scannersim::parseLineSpec(line, &options.line));
    options.lineFile = dir.file("line");
    return options;
}

RunOptions commtest(const TempDir &dir, const std::string &device)
{
    RunOptions run = stationRun(dir, device, {"-s"});
    run.env["LD_PRELOAD"] = LINERECORDER_PATH;
    run.env["SCANNERSIM_LINE_FILE"] = dir.file("line");
    run.env["SCANNERSIM_LINE_DEVICE"] = device;
    // A sanitized markfeed must accept a library preloaded ahead of it.
    const char *asan = getenv("ASAN_OPTIONS");
    run.env["ASAN_OPTIONS"] =
        std::string(asan != nullptr ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
    return run;
}

// A pty refuses some framings (7 bits without parity): markfeed shows S24,
// waits for a key and goes on with the trial, as on a port that cannot take
// them. Presses <ENTER> for each S24 until `text` is shown.
::testing::AssertionResult answerUntil(Station &station, const std::string &device,
                                       const std::string &text, double seconds)
{
    const std::string s24 = "S24:  Could not set term settings on " + device + " [";
    auto start = std::chrono::steady_clock::now();
    int answered = 0;
    for (;;) {
        std::string errors = station.errors();
        if (errors.find(text) != std::string::npos)
            return ::testing::AssertionSuccess();
        int refused = 0;
        for (size_t at = errors.find(s24); at != std::string::npos; at = errors.find(s24, at + 1))
            refused++;
        for (; answered < refused; answered++)
            station.type("\r");
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
            seconds)
            return shows(station, text, 1, 0);
        station.idle(0.05);
    }
}

// The operator's messages without the S24 lines of the pty.
std::vector<std::string> withoutRefusals(const std::vector<std::string> &shown)
{
    std::vector<std::string> kept;
    for (const std::string &line : shown)
        if (line.compare(0, 5, "S24: ") != 0)
            kept.push_back(line);
    return kept;
}

TEST(StationCommTest, FindsNineSixHundredSevenOddTwoAtTheFirstTrial)
{
    TempDir dir;
    Sim sim(scannerAt("9600:7O2", dir));
    Station station(commtest(dir, sim.device()));
    std::string found =
        "Scanner on " + sim.device() + " communicating at 9600:7O2.  Press <ENTER>.";
    ASSERT_TRUE(shows(station, found, 1, 20));
    station.idle(0.3);
    EXPECT_TRUE(station.running()) << "the result waits for <ENTER>";
    station.type("\r");
    EXPECT_EQ(station.wait(10), 0);
    std::vector<std::string> expected = testingUpTo(sim.device(), 1);
    expected.push_back(found);
    EXPECT_EQ(messages(station.errors()), expected);
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "9600:7O2\r\n");
    // One trial: the reset, then the long, short and download status.
    std::vector<scannersim::Frame> frames = sim.frames();
    EXPECT_EQ(frameNames(frames),
              (std::vector<std::string>{"SelectScanner", "End", "Release", "Stop", "Display",
                                        "Status", "Status", "Status"}));
    if (frames.size() == 8) {
        EXPECT_EQ(frames[5].bytes, "s0");
        EXPECT_EQ(frames[6].bytes, "s1");
        EXPECT_EQ(frames[7].bytes, "s3");
    }
}

TEST(StationCommTest, FindsNineteenTwoHundredEightNoneOneAtTheNineteenthTrial)
{
    TempDir dir;
    Sim sim(scannerAt("19200:8N1", dir));
    Station station(commtest(dir, sim.device()));
    std::string found =
        "Scanner on " + sim.device() + " communicating at 19200:8N1.  Press <ENTER>.";
    ASSERT_TRUE(answerUntil(station, sim.device(), found, 20));
    station.idle(0.3);
    EXPECT_TRUE(station.running()) << "the result waits for <ENTER>";
    station.type("\r");
    EXPECT_EQ(station.wait(10), 0);
    std::vector<std::string> expected = testingUpTo(sim.device(), 19);
    expected.push_back(found);
    EXPECT_EQ(withoutRefusals(messages(station.errors())), expected);
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "19200:8N1\r\n");
    EXPECT_EQ(countFrames(sim.frames(), "SelectScanner"), 19) << "one reset per trial";
}

TEST(StationCommTest, ScannerAtFortyEightHundredFailsAfterAllThirtySixTrials)
{
    TempDir dir;
    Sim sim(scannerAt("4800:7O2", dir));
    Station station(commtest(dir, sim.device()));
    const char failed[] = "Communications test failed.  Press <ENTER>.";
    ASSERT_TRUE(answerUntil(station, sim.device(), failed, 40));
    station.idle(0.3);
    EXPECT_TRUE(station.running()) << "the failure waits for <ENTER>";
    station.type("\r");
    EXPECT_EQ(station.wait(10), 88);
    std::vector<std::string> expected = testingUpTo(sim.device(), 36);
    expected.push_back(failed);
    EXPECT_EQ(withoutRefusals(messages(station.errors())), expected);
    EXPECT_TRUE(fileExists(dir.file("SCAN.DAT")));
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
    EXPECT_EQ(countFrames(sim.frames(), "SelectScanner"), 36);
}

TEST(StationCommTest, DeviceThatCannotBeOpenedEndsAtTheFirstTrial)
{
    TempDir dir;
    std::string device = uniqueTmpPath("mfs");
    RunOptions run = commtest(dir, device);
    auto start = std::chrono::steady_clock::now();
    Station station(run);
    std::string s21 = "S21:  Unable to open device " + device + ".  Press <ENTER>.";
    ASSERT_TRUE(shows(station, s21, 1, 10));
    station.type("\r");
    EXPECT_EQ(station.wait(10), 88);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5);
    EXPECT_EQ(messages(station.errors()),
              (std::vector<std::string>{testing(device, "9600:7O2"), s21}));
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
}

}  // namespace
