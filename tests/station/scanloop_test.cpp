// The scanning loop against scannersim's hopper and feed conditions: when
// an empty hopper ends the batch and when it prompts, <ESCAPE>, jams cleared
// by the operator or by the scanner, and the sheet found at the print
// position when scanning begins.
#include <gtest/gtest.h>

#include "support/lines.h"
#include "support/scanner.h"

using namespace support;
using scannersim::EntryKind;
using scannersim::Hopper;

namespace {

const char prompt[] = "Scanner hopper empty.  Load forms or <ESCAPE> to quit.";

std::string recordA()
{
    return sheetRecord(1, "0000101", "000", "04", 1);
}

std::string recordB()
{
    return sheetRecord(4, "0000102", "00", "04", 2);
}

// The two sheets, each after the hopper was empty for a while.
scannersim::Options emptyBetween(double first)
{
    return deckOf({condition(EntryKind::Empty, first), sheet(recordA()),
                   condition(EntryKind::Empty, 2), sheet(recordB())});
}

// The data output file holds exactly these records, each with the stamp
// the scanner saw printed on its sheet.
void expectLines(const Sim &sim, const Strings &records, const TempDir &dir)
{
    Strings stamped;
    for (const scannersim::Sheet &sheet : sim->sheets())
        if (!sheet.prints.empty())
            stamped.push_back(sheet.record);
    EXPECT_EQ(stamped, records);
    EXPECT_TRUE(sameBytes(stampedLines(sim->sheets()), readFile(dir.file("SCAN.DAT"))));
}

// The messages with each run of repeated prompts shown once.
Strings collapsed(const Strings &shown)
{
    Strings kept;
    for (const std::string &line : shown)
        if (kept.empty() || line != prompt || kept.back() != prompt)
            kept.push_back(line);
    return kept;
}

// The prompts shown before the first sheet, and everything after them.
size_t leadingPrompts(const Strings &shown)
{
    size_t count = 0;
    while (count < shown.size() && shown[count] == prompt)
        count++;
    return count;
}

TEST(StationEmptyHopper, DefaultWaitsForTheFirstSheetAndEndsAfterTheLast)
{
    // Empty from the switch to download mode; the first prompt comes a
    // second later (after Start), the next three seconds after that.
    Sim sim = startScanner(emptyBetween(5.5));
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device}));
    ASSERT_TRUE(sim->waitForFrames("PrintData", 1, 15000)) << station.errors();
    Timer printed;
    EXPECT_EQ(station.wait(10), 0);
    // A one-second pause, then the end; no prompt after an accepted sheet.
    EXPECT_GE(printed.seconds(), 0.9);
    Strings shown = messages(station.errors());
    EXPECT_GE(leadingPrompts(shown), 2u) << "the prompt repeats while the hopper stays empty";
    EXPECT_EQ(collapsed(shown), (Strings{prompt, scanning(1)}));
    std::vector<scannersim::Sheet> sheets = sim->sheets();
    ASSERT_EQ(sheets.size(), 1u) << "the sheet after the empty hopper is not fed";
    EXPECT_EQ(sheets[0].hopper, Hopper::Main);
    expectLines(sim, {recordA()}, dir);
}

TEST(StationEmptyHopper, NoWaitZeroPromptsAfterASheetUntilFormsOrEscape)
{
    Sim sim = startScanner(emptyBetween(2));
    TempDir dir;
    writeFile(dir.file("d_" + portName(sim.device) + ".cfg"), cfgText({{30, 0}}));
    Process station(markfeedIn(dir, {"-d", sim.device}));
    ASSERT_TRUE(shows(station, scanning(2)));
    // After the last sheet the prompt stays until the operator quits.
    size_t last = station.errors().find(scanning(2));
    for (int i = 0; i < 100 && station.errors().find(prompt, last) == std::string::npos; i++)
        station.idle(0.05);
    station.idle(0.5);
    ASSERT_TRUE(station.running());
    station.type("\x1b");
    Timer typed;
    EXPECT_EQ(station.wait(10), 99);
    EXPECT_LT(typed.seconds(), 1.5) << "<ESCAPE> ends the wait at once";
    EXPECT_EQ(collapsed(messages(station.errors())),
              (Strings{prompt, scanning(1), prompt, scanning(2), prompt}));
    std::vector<scannersim::Sheet> sheets = sim->sheets();
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[1].hopper, Hopper::Main) << "released before the prompt";
    expectLines(sim, {recordA(), recordB()}, dir);
}

TEST(StationEmptyHopper, ContinuousModeEndsLikeTheDefaultWhateverTheFileSays)
{
    Sim sim = startScanner(emptyBetween(2));
    TempDir dir;
    writeFile(dir.file("d_" + portName(sim.device) + ".cfg"), cfgText({{30, 0}}));
    Process station(markfeedIn(dir, {"-d", sim.device, "-c"}));
    EXPECT_EQ(station.wait(20), 0);
    Strings shown = messages(station.errors());
    EXPECT_GE(leadingPrompts(shown), 1u) << "never ends before a sheet was accepted";
    EXPECT_EQ(collapsed(shown), (Strings{prompt, scanning(1)}));
    EXPECT_EQ(sim->sheets().size(), 1u);
    expectLines(sim, {recordA()}, dir);
}

TEST(StationEmptyHopper, EscapeBeforeAnySheetEndsWith99AndAnEmptyFile)
{
    Sim sim = startScanner({});
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device}));
    ASSERT_TRUE(shows(station, prompt));
    station.type("\x1b");
    EXPECT_TRUE(ended(finish(station, dir, 10), 99, {prompt}));
    EXPECT_EQ(countFrames(sim->frames(), "SheetRequest"), 0);
    EXPECT_TRUE(fileExists(dir.file("SCAN.DAT")));
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
}

// After a record time-out the scanner is reset and started again before the
// same sheet is asked for: between the failed request and the next one the
// station sends only status requests, the reset sequence and Start.
void expectRestartBeforeRetry(const std::vector<scannersim::Frame> &frames)
{
    int failed = nthFrame(frames, "SheetRequest", 2);
    int retry = nthFrame(frames, "SheetRequest", 3);
    ASSERT_GT(failed, 0);
    ASSERT_GT(retry, failed);
    EXPECT_EQ(namesBetween(frames, failed, retry),
              (Strings{"SelectScanner", "End", "Release", "Stop", "Display", "Start"}));
}

// A jam between two sheets, cleared by the operator's <ENTER> or, when it
// lasts `seconds`, by the scanner: the station restarts and rescans the
// same sheet number.
void jamCleared(double seconds)
{
    const char jam[] = "Sheet jam.  Clear jam and press <START> or <ENTER>.";
    Sim sim = startScanner(
        deckOf({sheet(recordA()), condition(EntryKind::Jam, seconds), sheet(recordB())}));
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device}));
    if (seconds < 0) {
        ASSERT_TRUE(shows(station, jam));
        // The jam lasts until the operator acts.
        station.idle(1.5);
        EXPECT_EQ(countFrames(sim->frames(), "SheetRequest"), 2);
        station.type("\r");
    }
    EXPECT_TRUE(ended(finish(station, dir, 20), 0, {scanning(1), scanning(2), jam, scanning(2)}));
    expectRestartBeforeRetry(sim->frames());
    expectLines(sim, {recordA(), recordB()}, dir);
}

TEST(StationJam, ClearedWithEnterRestartsAndRescansTheSameSheetNumber)
{
    jamCleared(-1);
}

TEST(StationJam, ClearedByTheScannerGoesOnWithoutAKey)
{
    // Longer than the 5-second record wait, so the station sees it.
    jamCleared(6.5);
}

TEST(StationJam, EscapeWhileAConditionIsShownEndsWith99)
{
    const char skew[] = "Sheet skewed.  Reload last form and press <START> or <ENTER>.";
    Sim sim =
        startScanner(deckOf({sheet(recordA()), condition(EntryKind::Skew), sheet(recordB())}));
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device}));
    ASSERT_TRUE(shows(station, skew));
    station.type("\x1b");
    EXPECT_TRUE(ended(finish(station, dir, 10), 99, {scanning(1), scanning(2), skew}));
    std::vector<scannersim::Frame> frames = sim->frames();
    int failed = nthFrame(frames, "SheetRequest", 2);
    ASSERT_GT(failed, 0);
    EXPECT_EQ(namesBetween(frames, failed, int(frames.size())), Strings{})
        << "no reset or restart after <ESCAPE>";
    expectLines(sim, {recordA()}, dir);
}

TEST(StationSheetAtPrint, NotReleasedOnTheFirstPassReleasedFromTheSecond)
{
    // scannersim would take the start-up reset's release too and the sheet
    // would be gone before scanning; a scanner that does not know the
    // station's release code keeps it standing, and every release the
    // station sends shows on the wire as that lone byte.
    scannersim::Options options;
    options.atPrint = true;
    options.codes.release = 0x7E;
    options.deck = {sheet(recordA()), sheet(recordB())};
    Sim sim = startScanner(options);
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device}));
    EXPECT_TRUE(ended(finish(station, dir, 15), 0, {scanning(1), scanning(2)}));

    // The status read by the first pass did report the sheet.
    std::vector<scannersim::Frame> answers = sim->answers();
    size_t reply = 0;
    while (reply < answers.size() && answers[reply].bytes != "GSCANNING\r\n")
        reply++;
    ASSERT_LT(reply + 2, answers.size());
    for (size_t i = reply + 1; i <= reply + 2; i++) {
        ASSERT_EQ(answers[i].name, "LongStatus");
        EXPECT_EQ(answers[i].bytes[8], '8') << "status " << i << " shows a sheet at print";
    }

    std::vector<scannersim::Frame> frames = sim->frames();
    auto releases = [&](int from, int to) {
        int count = 0;
        for (int i = from + 1; i < to; i++)
            count += frames[size_t(i)].bytes == "\x12";
        return count;
    };
    int first = nthFrame(frames, "SheetRequest", 1);
    int second = nthFrame(frames, "SheetRequest", 2);
    int initiate = first;
    while (initiate > 0 && frames[size_t(initiate)].name != "Initiate")
        initiate--;
    ASSERT_GT(initiate, 0);
    ASSERT_GT(second, first);
    EXPECT_EQ(releases(initiate, first), 0) << "released on the first pass";
    EXPECT_EQ(releases(first, second), 1) << "not released on the second pass";
    expectLines(sim, {recordA(), recordB()}, dir);
}

}  // namespace
