// Whole batches through scannersim: which sheets are accepted, where each
// lands, what is printed on it, what the operator reads, and the data output
// file byte for byte. The scanning loop against the hopper and feed
// conditions: when an empty hopper ends the batch and when it prompts,
// <ESCAPE>, jams cleared by the operator or by the scanner, and the sheet
// found at the print position. A sheet stamped as accepted never loses its
// record: markfeed killed at any moment leaves every stamped sheet's line
// whole, and a file that cannot be written stops the run before the stamp.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "tests/support/lines.h"
#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;
using scannersim::EntryKind;
using scannersim::Hopper;

namespace {

struct Sheet {
    std::string record;
    // The operator's message for a rejected sheet; "" when it is accepted
    // or, with an empty record, skipped.
    std::string rejection;
    long voucher = 0;  // as the stamp shows it
    int dataset = 0;
};

Sheet accepted(const std::string &record, long voucher, int dataset)
{
    return Sheet{record, "", voucher, dataset};
}

Sheet rejected(const std::string &record, const std::string &message)
{
    return Sheet{record, message, 0, 0};
}

struct Outcome {
    Strings messages;
    std::string data;
    std::vector<scannersim::Sheet> sheets;
    std::vector<scannersim::Frame> frames;
    std::vector<scannersim::Frame> answers;
    time_t from = 0;
    time_t to = 0;
};

// Each accepted sheet carries one stamp of the run's time, printed at
// position 00, and its line in the file holds its record and that stamp;
// each rejected sheet went to the alternate hopper unprinted, and a skipped
// one on unmarked.
void expectSheetsAndData(const Outcome &outcome, const std::vector<Sheet> &batch)
{
    ASSERT_EQ(outcome.sheets.size(), batch.size());
    for (size_t i = 0; i < batch.size(); i++) {
        const Sheet &sheet = batch[i];
        const scannersim::Sheet &fed = outcome.sheets[i];
        SCOPED_TRACE("sheet " + std::to_string(i + 1));
        EXPECT_EQ(fed.record, sheet.record);
        EXPECT_EQ(fed.hopper, sheet.rejection.empty() ? Hopper::Main : Hopper::Alternate);
        if (!sheet.rejection.empty() || sheet.record.empty()) {
            EXPECT_TRUE(fed.prints.empty());
            continue;
        }
        ASSERT_EQ(fed.prints.size(), 1u);
        EXPECT_EQ(fed.prints[0].position, "00");
        Strings stamps = possibleStamps(outcome.from, outcome.to, sheet.voucher, sheet.dataset);
        EXPECT_NE(std::find(stamps.begin(), stamps.end(), fed.prints[0].text), stamps.end())
            << "printed \"" << fed.prints[0].text << "\", expected like \"" << stamps[0] << "\"";
    }
    EXPECT_TRUE(sameBytes(stampedLines(outcome.sheets), outcome.data));
}

// Feeds the sheets; at each rejection checks that the sheet was sent to the
// alternate hopper before the message and that nothing more happens until
// the operator presses <ENTER>. The batch ends with 0, each sheet where it
// belongs.
Outcome runBatch(const std::vector<Sheet> &batch, const Strings &args, bool compress = false)
{
    scannersim::Options options;
    options.compress = compress;
    for (const Sheet &sheet : batch)
        options.deck.push_back(support::sheet(sheet.record));
    Sim sim = startScanner(options);
    TempDir dir;
    Outcome outcome;
    outcome.from = time(nullptr);
    Process station(markfeedIn(dir, concat({"-d", sim.device}, args)));
    int rejections = 0;
    std::map<std::string, int> seen;
    for (const Sheet &sheet : batch) {
        if (sheet.rejection.empty())
            continue;
        rejections++;
        EXPECT_TRUE(shows(station, sheet.rejection, ++seen[sheet.rejection]));
        // The command goes out before the message; give the scanner's
        // thread a moment to have read it.
        EXPECT_TRUE(sim->waitForFrames("AltHopper", size_t(rejections), 1000)) << sheet.rejection;
        int requests = countFrames(sim->frames(), "SheetRequest");
        station.idle(0.3);
        EXPECT_EQ(countFrames(sim->frames(), "SheetRequest"), requests)
            << "went on without a key after " << sheet.rejection;
        station.type("\r");
    }
    EXPECT_EQ(station.wait(20), 0);
    outcome.to = time(nullptr);
    outcome.messages = messages(station.errors());
    outcome.data = readFile(dir.file("SCAN.DAT"));
    outcome.sheets = sim->sheets();
    outcome.frames = sim->frames();
    outcome.answers = sim->answers();
    expectSheetsAndData(outcome, batch);
    return outcome;
}

TEST(StationBatch, MixedBatchAcceptsEveryDocumentAndRejectsEachFaultToTheAlternateHopper)
{
    const std::vector<Sheet> batch = {
        accepted(sheetRecord(1, "0001234", "012", "00", 1), 1234, 12),
        rejected(sheetRecord(7, "0000001", "012", "00", 2, 1038, "07"),
                 "S1:  Invalid document number.  Rescan sheet.  Press <ENTER>."),
        accepted(sheetRecord(4, "1234567", "12", "11", 3), 1234567, 12),
        rejected(sheetRecord(1, "0000100", "012", "00", 4, 1039),
                 "S2:  Invalid record (1039/1038).  Rescan sheet.  Press <ENTER>."),
        rejected(sheetRecord(2, "0000007", "12", "02", 5),
                 "S3:  Voucher# 7 checksum 2 does not match 3.  Press <ENTER>."),
        rejected(sheetRecord(14, "0000020", "013", "00", 6),
                 "S4:  Form dataset 13 does not match current dataset 12.  Press <ENTER>."),
        accepted(sheetRecord(14, "0000007", "012", "03", 7), 7, 12),
        accepted(sheetRecord(2, "7654321", "12", "13", 8), 7654321, 12),
        // Dataset with a leading blank, checksum field blank: not checked.
        accepted(sheetRecord(12, "0000042", " 12", "  ", 9), 42, 12),
    };
    Outcome outcome = runBatch(batch, {"-m", "12"});
    EXPECT_EQ(outcome.messages,
              (Strings{scanning(1), scanning(2), batch[1].rejection, scanning(2), scanning(3),
                       batch[3].rejection, scanning(3), batch[4].rejection, scanning(3),
                       batch[5].rejection, scanning(3), scanning(4), scanning(5)}));
    EXPECT_EQ(outcome.data.size(), 5u * 1220u);
}

TEST(StationBatch, EmptyRecordIsSkippedSilentlyWithTheSameSheetNumber)
{
    const std::vector<Sheet> batch = {
        accepted(sheetRecord(13, "0000011", "000", "03", 1), 11, 0),
        Sheet{},  // blank: neither rejected nor printed, it goes on unmarked
        accepted(sheetRecord(6, "0000012", "000", "02", 2), 12, 0),
    };
    Outcome outcome = runBatch(batch, {});
    EXPECT_EQ(outcome.messages, (Strings{scanning(1), scanning(2), scanning(2)}));
    EXPECT_EQ(countFrames(outcome.frames, "AltHopper"), 0);
}

TEST(StationBatch, AlignmentFormSkipsDatasetAndChecksumButNotDocumentOrLength)
{
    const std::vector<Sheet> batch = {
        accepted(sheetRecord(1, "0000005", "999", "07", 1), 5, 999),
        rejected(sheetRecord(4, "0000001", "12", "01", 2, 330),
                 "S2:  Invalid record (330/329).  Rescan sheet.  Press <ENTER>."),
        rejected(sheetRecord(13, "0000001", "000", "00", 3, 0, "AB"),
                 "S1:  Invalid document number.  Rescan sheet.  Press <ENTER>."),
        // Cut to 1249 characters by the reader.
        rejected(sheetRecord(11, "0000001", "000", "00", 4, 1300),
                 "S2:  Invalid record (1249/1180).  Rescan sheet.  Press <ENTER>."),
        accepted(sheetRecord(3, "0000003", "77", "05", 5), 3, 77),
    };
    Outcome outcome = runBatch(batch, {"-t", "-m", "12"});
    EXPECT_EQ(outcome.messages,
              (Strings{scanning(1), scanning(2), batch[1].rejection, scanning(2),
                       batch[2].rejection, scanning(2), batch[3].rejection, scanning(2)}));
}

TEST(StationBatch, WithoutDatasetOptionOnlyDatasetZeroPassesCompressedRecordsToo)
{
    // Long runs, which the scanner sends as run-length groups.
    std::string runs = sheetRecord(1, "0000009", "000", "02", 1);
    runs.replace(100, 300, std::string(200, ' ') + std::string(100, 'X'));
    const std::vector<Sheet> batch = {
        accepted(runs, 9, 0),
        rejected(sheetRecord(4, "0000009", "12", "02", 2),
                 "S4:  Form dataset 12 does not match current dataset 0.  Press <ENTER>."),
        accepted(sheetRecord(5, "0000010", "   ", "00", 3), 10, 0),
        rejected(sheetRecord(8, "1234567", "000", "12", 4),
                 "S3:  Voucher# 1234567 checksum 12 does not match 11.  Press <ENTER>."),
    };
    Outcome outcome = runBatch(batch, {}, true);
    auto record = std::find_if(outcome.answers.begin(), outcome.answers.end(),
                               [](const scannersim::Frame &f) { return f.name == "Record"; });
    ASSERT_NE(record, outcome.answers.end());
    EXPECT_LT(record->bytes.size(), runs.size()) << "the record went out uncompressed";
    EXPECT_EQ(outcome.messages, (Strings{scanning(1), scanning(2), batch[1].rejection, scanning(2),
                                         scanning(3), batch[3].rejection}));
}

// The stamp is the date of the clock markfeed reads, whatever the build:
// one past 2038 needs a 64-bit time_t (a 32-bit build asks for it).
TEST(StationBatch, StampAfter2038IsTheDateOfTheClock)
{
    const std::string record = sheetRecord(1, "0001234", "000", "05", 1);
    Sim sim = startScanner(deckOf({sheet(record)}));
    TempDir dir;
    RunOptions options = markfeedIn(dir, {"-d", sim.device}, RunOptions::File);
    options.env = clockAt(2214172740);  // a leap day, 29 February 2040, 23:59 UTC
    Process station(options);

    Result run = finish(station, dir, 20);
    EXPECT_TRUE(ended(run, 0, {scanning(1)}));
    std::vector<scannersim::Sheet> sheets = sim->sheets();
    ASSERT_EQ(sheets.size(), 1u);
    ASSERT_EQ(sheets[0].prints.size(), 1u);
    const std::string stamp = "02/29/40 23:59 1234, 0" + std::string(14, ' ');
    EXPECT_EQ(sheets[0].prints[0].text, stamp);
    EXPECT_TRUE(sameBytes(outputLine(record, stamp), run.data));
}

Strings tenRecords()
{
    const int documents[] = {1, 2, 4, 14, 6, 12, 3, 5, 13, 11};
    Strings records;
    for (int i = 0; i < 10; i++) {
        const Layout &row = layout(documents[i]);
        records.push_back(sheetRecord(documents[i], "0000000", row.datasetwidth == 3 ? "000" : "00",
                                      "00", unsigned(i + 1)));
    }
    return records;
}

TEST(StationDurability, KilledAnywhereEveryStampedSheetHasItsWholeLine)
{
    // Moments to kill at: just after a stamp, while a record is on its way,
    // and between the print position and the print text.
    const struct {
        const char *frame;
        int count;
    } moments[] = {{"PrintData", 1}, {"SheetRequest", 4}, {"PrintPosition", 3}, {"PrintData", 7}};
    Strings records = tenRecords();
    std::vector<scannersim::DeckEntry> deck;
    for (const std::string &record : records)
        deck.push_back(sheet(record));
    for (const auto &moment : moments) {
        SCOPED_TRACE(std::string("killed after ") + moment.frame + " " +
                     std::to_string(moment.count));
        Sim sim = startScanner(deckOf(deck));
        TempDir dir;
        Process station(markfeedIn(dir, {"-d", sim.device}));
        ASSERT_TRUE(sim->waitForFrames(moment.frame, size_t(moment.count), 15000))
            << station.errors();
        station.kill(SIGKILL);
        ASSERT_EQ(station.wait(5), 128 + SIGKILL) << "the batch had already ended";
        // Let the scanner take in what was still on the line.
        usleep(300 * 1000);
        std::string data = readFile(dir.file("SCAN.DAT"));
        std::vector<scannersim::Sheet> sheets = sim->sheets();

        ASSERT_EQ(data.size() % 1220, 0u) << "a partial line";
        size_t lines = data.size() / 1220;
        size_t stamped = 0;
        for (const scannersim::Sheet &fed : sheets) {
            if (fed.prints.empty())
                continue;
            ASSERT_LT(stamped, lines) << "sheet " << fed.number << " stamped without its line";
            EXPECT_TRUE(sameBytes(outputLine(fed.record, fed.prints[0].text),
                                  data.substr(stamped * 1220, 1220)));
            stamped++;
        }
        EXPECT_GE(stamped, size_t(moment.frame == std::string("PrintData") ? moment.count : 0));
        // At most the sheet being stamped when the kill came has its line
        // and no stamp yet.
        ASSERT_LE(lines, stamped + 1);
        if (lines == stamped + 1) {
            std::string last = data.substr(stamped * 1220);
            EXPECT_EQ(last.substr(0, records[stamped].size()), records[stamped]);
            EXPECT_EQ(last.substr(1218), "\r\n");
        }
    }
}

TEST(StationDurability, UnwritableOutputShowsS50AndLeavesTheSheetUnstamped)
{
    Sim sim = startScanner(deckOf({sheet(sheetRecord(1, "0000003", "000", "02", 1)),
                                   sheet(sheetRecord(4, "0000003", "00", "02", 2))}));
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device, "-o", "/dev/full"}));
    const char s50[] = "S50:  Unable to write file /dev/full.  Press <ENTER>.";
    ASSERT_TRUE(waitsAt(station, s50)) << "S50 waits for a key";
    station.type("\r");
    EXPECT_TRUE(ended(finish(station, dir, 10), 88, {scanning(1), s50}));
    EXPECT_EQ(countFrames(sim->frames(), "PrintPosition"), 0);
    EXPECT_EQ(countFrames(sim->frames(), "PrintData"), 0);
    std::vector<scannersim::Sheet> sheets = sim->sheets();
    ASSERT_EQ(sheets.size(), 1u) << "no further sheet is fed";
    EXPECT_TRUE(sheets[0].prints.empty());
}

// A file size limit (as a full file system) stops the eleventh line part
// of the way: the file is cut back to the ten whole lines, S50 is shown,
// the sheet is not stamped and the run ends with 88.
TEST(StationDurability, LineThatCannotBeWrittenWholeIsCutBack)
{
    Strings records = tenRecords();
    records.push_back(records[0]);
    records.push_back(records[1]);
    std::vector<scannersim::DeckEntry> deck;
    for (const std::string &record : records)
        deck.push_back(sheet(record));
    Sim sim = startScanner(deckOf(deck));
    TempDir dir;
    RunOptions options = markfeedIn(dir, {"-d", sim.device}, RunOptions::File);
    options.command = concat({"prlimit", "--fsize=12288"}, options.command);
    Process station(options);
    EXPECT_EQ(station.wait(30), 88);
    Strings shown = messages(station.errors());
    EXPECT_EQ(shown.back(), "S50:  Unable to write file SCAN.DAT.  Press <ENTER>.");
    std::string data = readFile(dir.file("SCAN.DAT"));
    ASSERT_EQ(data.size(), 12200u) << "ten whole lines, nothing of the eleventh";
    EXPECT_TRUE(sameBytes(stampedLines(sim->sheets()), data));
    EXPECT_EQ(countFrames(sim->frames(), "PrintData"), 10);
}

TEST(StationDurability, S50WithALongPathIsCutToTheMessageBuffer)
{
    Sim sim = startScanner(deckOf({sheet(sheetRecord(1, "0000003", "000", "02", 1))}));
    TempDir dir;
    // A 99-character path (the longest -o takes) that leads to /dev/full.
    std::string path = dir.path() + "/";
    path += std::string(99 - path.size(), 'o');
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
    Process station(markfeedIn(dir, {"-d", sim.device, "-o", path, "-x"}, RunOptions::File));
    EXPECT_EQ(station.wait(15), 88);
    std::string full = "S50:  Unable to write file " + path + ".  Press <ENTER>.";
    std::string kept = full.substr(0, 99);
    Strings shown = messages(station.errors());
    ASSERT_EQ(shown.size(), 2u);
    // The message line shows the first 78 characters after one space.
    EXPECT_EQ(shown[1], kept.substr(0, 78));
    std::string trace = readFile(dir.file("scantest.log"));
    EXPECT_TRUE(has(trace, "\nShowmsg:  " + kept + "\n"));
    EXPECT_EQ(countFrames(sim->frames(), "PrintData"), 0);
}

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

// The host often starts a station with no keyboard: input from /dev/null,
// closed, or a pipe that has ended. Waiting on an empty hopper, the prompt
// and its status request still come about every three seconds.
TEST(StationEmptyHopper, EndedInputKeepsThePromptsPaced)
{
    struct Station {
        Sim sim = startScanner({});
        TempDir dir;
        std::unique_ptr<Process> run;
    };
    std::vector<std::unique_ptr<Station>> stations;
    for (auto input : {RunOptions::File, RunOptions::Pipe, RunOptions::Terminal}) {
        auto station = std::make_unique<Station>();
        RunOptions options = markfeedIn(station->dir, {"-d", station->sim.device}, input);
        if (input == RunOptions::Terminal) {  // standard input closed
            options = markfeedIn(station->dir, {"-d", station->sim.device}, RunOptions::File);
            options.args =
                concat(concat({"-c", "exec \"$0\" \"$@\" 0<&-"}, options.command), options.args);
            options.command = {"/bin/sh"};
        }
        station->run = std::make_unique<Process>(options);
        if (input == RunOptions::Pipe)
            station->run->closeInput();
        stations.push_back(std::move(station));
    }
    for (auto &station : stations)
        ASSERT_TRUE(shows(*station->run, prompt));
    Timer watched;
    for (auto &station : stations) {
        int before = countFrames(station->sim->frames(), "Status s0");
        station->run->idle(std::max(0.0, 7.5 - watched.seconds()));
        int prompts = occurrences(station->run->errors(), prompt);
        int requests = countFrames(station->sim->frames(), "Status s0") - before;
        EXPECT_GE(prompts, 2);
        EXPECT_LE(prompts, 5) << "the prompt is not paced";
        EXPECT_LE(requests, 4) << "status requests are not paced";
        station->run->kill(SIGTERM);
        EXPECT_EQ(station->run->wait(10), 99);
    }
}

// SIGTERM from the host, Ctrl-C at the operator's terminal and SIGHUP when
// the terminal goes away end the run as quitting does: the line's settings
// given back, the trace's banner written, status 99.
TEST(StationSignals, StopSignalsEndTheRunAs99WithEverythingGivenBack)
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        Sim sim = startScanner({});
        TempDir dir;
        Process station(markfeedIn(dir, {"-d", sim.device, "-x"}));
        ASSERT_TRUE(shows(station, prompt));
        if (signal == SIGINT)
            station.type("\x03");  // the terminal's interrupt character
        else
            station.kill(signal);
        auto run = finish(station, dir, 10);
        EXPECT_EQ(run.status, 99);
        EXPECT_TRUE(endsWith(run.trace, "\n\nPROGRAM TERMINATED.  RETURN VALUE = 99.\n"
                                        "=======================================\n"));
        EXPECT_TRUE(has(run.trace, "\n\nResetting Scanner Port To Default Settings\n"));
        EXPECT_EQ(run.data, "");
    }
}

// A run already on its way out keeps its status when a stop signal cuts
// its last prompt short: 88 at S50's prompt (a full disk) or S21's. A
// signal that stops the run where it would have gone on, in the open of the
// line, still ends it with 99.
TEST(StationSignals, SignalAtTheLastPromptOfAFailedRunKeepsItsStatus)
{
    const char s50[] = "S50:  Unable to write file /dev/full.  Press <ENTER>.";
    const std::string nope = devicePath();
    const std::string s21 = "S21:  Unable to open device " + nope + ".  Press <ENTER>.";
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        Sim sim = startScanner(deckOf({sheet(recordA())}));
        TempDir full, unopened, blocked;
        Process writing(markfeedIn(full, {"-d", sim.device, "-o", "/dev/full", "-x"}));
        Process opening(markfeedIn(unopened, {"-d", nope}));
        ASSERT_TRUE(waitsAt(writing, s50));
        ASSERT_TRUE(waitsAt(opening, s21));
        // The open hangs until the signal, well within its 4-second guard.
        RunOptions hanging = markfeedIn(blocked, {"-d", nope});
        hanging.env = preload(Preload::BlockOpen);
        hanging.env["BLOCKOPEN_PATH"] = nope;
        Process stopped(hanging);
        stopped.idle(1);
        for (Process *station : {&writing, &opening, &stopped})
            station->kill(signal);
        Result run = finish(writing, full, 10);
        EXPECT_TRUE(ended(run, 88, {scanning(1), s50}));
        EXPECT_TRUE(has(run.trace, "\n\nPROGRAM TERMINATED.  RETURN VALUE = 88."));
        EXPECT_TRUE(ended(finish(opening, unopened, 10), 88, {s21}));
        EXPECT_TRUE(ended(finish(stopped, blocked, 10), 99, {}));
    }
}

// A scanner that answers every status request but never sends the sheet:
// <ESCAPE> typed at the terminal still ends the run.
TEST(StationFeed, EscapeEndsTheRunWhenTheSheetNeverComes)
{
    const std::string wait = longStatus('w', 'N') + "\r\n";
    const std::string download = longStatus('d', 'N') + "\r\n";
    ScriptedLine line(ScriptedLine::Pty);
    line.on("s3", {"0000\r\n"});
    line.on("s0", {wait, wait, download});
    line.on("\x11", {"GSCANNING\r\n", ""});  // the sheet requests go unanswered
    line.start();
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", line.device()}));
    ASSERT_TRUE(shows(station, scanning(1)));
    station.type("\x1b");
    auto run = finish(station, dir, 20);
    EXPECT_EQ(run.status, 99);
    EXPECT_EQ(collapsed(run.messages), Strings{scanning(1)});
}

// A sheet whose record never comes is rejected as a bad sheet is: to the
// alternate hopper unstamped, the operator told, and the batch goes on; lost
// as the last sheet, the batch then ends at the empty hopper. Keys from a
// pipe (the message waits for one) or from /dev/null.
TEST(StationFeed, SheetWhoseRecordNeverComesIsRejectedAndTheBatchGoesOn)
{
    const char s52[] = "S52:  No data received for the sheet.  Rescan sheet.  Press <ENTER>.";
    struct Station {
        Station(bool lastSheet, RunOptions::Input keys, const scannersim::Options &deck)
            : last(lastSheet), input(keys), sim(startScanner(deck))
        {
        }
        bool last;
        RunOptions::Input input;
        Sim sim;
        TempDir dir;
        std::unique_ptr<Process> run;
    };
    std::vector<std::unique_ptr<Station>> stations;
    for (auto input : {RunOptions::Pipe, RunOptions::File})
        for (bool last : {false, true}) {
            auto deck = last ? deckOf({sheet(recordA()), sheet(recordB()), lostSheet()})
                             : deckOf({sheet(recordA()), lostSheet(), sheet(recordB())});
            stations.push_back(std::make_unique<Station>(last, input, deck));
            Station &st = *stations.back();
            st.run = std::make_unique<Process>(markfeedIn(st.dir, {"-d", st.sim.device}, input));
        }
    for (auto &st : stations) {
        SCOPED_TRACE(std::string(st->last ? "last" : "middle") +
                     (st->input == RunOptions::Pipe ? ", keys from a pipe" : ", no keys"));
        if (st->input == RunOptions::Pipe) {
            ASSERT_TRUE(waitsAt(*st->run, s52));
            EXPECT_EQ(countFrames(st->sim->frames(), "AltHopper"), 1) << "before the message";
            EXPECT_EQ(countFrames(st->sim->frames(), "SheetRequest"), st->last ? 3 : 2);
            st->run->type("\r");
        }
        EXPECT_EQ(st->run->wait(20), 0);
        EXPECT_EQ(messages(st->run->errors()),
                  st->last ? (Strings{scanning(1), scanning(2), scanning(3), s52})
                           : (Strings{scanning(1), scanning(2), s52, scanning(2)}));
        std::vector<scannersim::Sheet> sheets = st->sim->sheets();
        ASSERT_EQ(sheets.size(), 3u);
        const scannersim::Sheet &lost = sheets[st->last ? 2 : 1];
        EXPECT_EQ(lost.hopper, Hopper::Alternate);
        EXPECT_TRUE(lost.prints.empty());
        expectLines(st->sim, {recordA(), recordB()}, st->dir);
    }
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

// The host's import as the administrator's guide writes it: under the data
// output file's flock, emptied only after a successful import.
const char importRecipe[] = "flock -n SCAN.DAT sh -c 'import-command SCAN.DAT && : > SCAN.DAT'";

// Runs the recipe in the station's directory, with an import-command that
// appends what it imports to "imported", and waits while "hold" exists.
std::unique_ptr<Process> startImport(const TempDir &dir)
{
    std::string bin = dir.file("bin");
    mkdir(bin.c_str(), 0755);
    writeFile(bin + "/import-command", "#!/bin/sh\ncat \"$1\" >>imported && : >importing\n"
                                       "while [ -e hold ]; do sleep 0.05; done\n");
    chmod((bin + "/import-command").c_str(), 0755);
    unlink(dir.file("importing").c_str());
    RunOptions options = withInput(RunOptions::File);
    options.command = {"/bin/sh", "-c", importRecipe};
    options.cwd = dir.path();
    options.env["PATH"] = bin + ":" + getenv("PATH");
    return std::unique_ptr<Process>(new Process(options));
}

int import(const TempDir &dir)
{
    return startImport(dir)->wait(10);
}

// The host imports after every run, whatever its status: a run in progress
// makes the import do nothing, an import in progress makes a run refuse
// with S51, and every batch is imported exactly once.
TEST(StationImport, EveryBatchIsImportedOnceWhateverTheStatuses)
{
    TempDir dir;
    std::string stamped;
    auto accepted = [](int seed) {
        return sheet(sheetRecord(1, "000010" + std::to_string(seed), "000", "00", seed));
    };
    Sim first = startScanner(deckOf({accepted(1), accepted(2)}));
    EXPECT_EQ(runStation(dir, {"-d", first.device}).status, 0);
    stamped += stampedLines(first->sheets());
    EXPECT_EQ(import(dir), 0);

    // A batch that waits for the operator at a rejected sheet.
    Sim second = startScanner(deckOf(
        {accepted(3), sheet(sheetRecord(7, "0000001", "000", "00", 4, 1038, "07")), accepted(5)}));
    Process running(markfeedIn(dir, {"-d", second.device}));
    ASSERT_TRUE(waitsAt(running, "S1:  Invalid document number.  Rescan sheet.  Press <ENTER>."));
    auto busy = runStation(dir, {"-d", second.device});
    EXPECT_TRUE(ended(busy, 88, {"S46:  Scanner currently in use.  Press <ENTER>."}));
    Timer refused;
    EXPECT_EQ(import(dir), 1);
    EXPECT_LT(refused.seconds(), 2) << "the import does not wait for the run";
    running.type("\r");
    EXPECT_EQ(running.wait(15), 0);
    stamped += stampedLines(second->sheets());

    // A run started while the import goes on.
    writeFile(dir.file("hold"), "");
    auto importing = startImport(dir);
    ASSERT_TRUE(importing->until([&] { return fileExists(dir.file("importing")); }, 10));
    auto during = runStation(dir, {"-d", "/dev/tty1a"});
    EXPECT_EQ(during.status, 88);
    EXPECT_TRUE(has(during.errors, "S51:  Data file SCAN.DAT is in use by another run."));
    unlink(dir.file("hold").c_str());
    EXPECT_EQ(importing->wait(10), 0);

    Sim third = startScanner(deckOf({accepted(6)}));
    EXPECT_EQ(runStation(dir, {"-d", third.device}).status, 0);
    stamped += stampedLines(third->sheets());
    EXPECT_EQ(import(dir), 0);
    EXPECT_TRUE(sameBytes(stamped, readFile(dir.file("imported"))));
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
}

}  // namespace
