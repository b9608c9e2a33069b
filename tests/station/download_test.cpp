// Loading the form into scannersim: which frames go on the wire in which
// order, byte for byte against the form files, with -r, and every failure
// a scanner or a form file can cause.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;
using scannersim::Frame;
using scannersim::Step;

namespace {

const char clearing[] = "Initializing scanner memory.  Please wait...";
const char defining[] = "Downloading form definition file.  Please wait...";
const char parameters[] = "Downloading runtime parameters.  Please wait...";

const std::string rtpLine = "FORM7,3,48,64,1,0,N,Y,12\n";

// A form definition of `size` bytes of text lines.
std::string definition(size_t size)
{
    std::string text;
    for (int row = 1; text.size() < size; row++)
        text += "FIELD R" + std::to_string(row) + " ROW " + std::to_string(row % 64) +
                " COL 1-48 MODE MARKS SINGLE\n";
    text.resize(size);
    return text;
}

// The download frames received, in order.
std::vector<Frame> downloads(const std::vector<Frame> &frames)
{
    std::vector<Frame> picked;
    for (const Frame &f : frames)
        if (f.name == "RunParameters" || f.name == "MemoryInit" || f.name == "FormDefinition")
            picked.push_back(f);
    return picked;
}

// A run with the form form7 that scans one sheet of `document` after its
// downloads, with the scanner's form loaded or not: what was sent.
void downloadThenScan(bool loaded, int document, const std::string &dlf, const std::string &rtp,
                      Strings *shown, std::vector<Frame> *sent)
{
    scannersim::Options options;
    options.loaded = loaded;
    std::string record = sheetRecord(document, "0000003", "012", "02", 1);
    options.deck = {sheet(record)};
    Sim sim = startScanner(options);
    TempDir dir;
    writeFile(dir.file("form7.dlf"), dlf);
    writeFile(dir.file("form7.rtp"), rtp);
    Process station(
        markfeedIn(dir, {"-d", sim.device, "-l", dir.path(), "-f", "form7", "-m", "12"}));
    EXPECT_EQ(station.wait(20), 0);
    *shown = messages(station.errors());
    *sent = downloads(sim->frames());
    EXPECT_EQ(countFrames(sim->frames(), "SheetRequest"), 1);
    EXPECT_LT(nthFrame(sim->frames(), "RunParameters", 1),
              nthFrame(sim->frames(), "SheetRequest", 1));
    ASSERT_EQ(sim->sheets().size(), 1u);
    ASSERT_EQ(sim->sheets()[0].prints.size(), 1u);
    EXPECT_TRUE(sameBytes(outputLine(record, sim->sheets()[0].prints[0].text),
                          readFile(dir.file("SCAN.DAT"))));
}

TEST(StationDownload, ParametersAcceptedAtOnceSendOnlyTheRuntimeFrame)
{
    Strings shown;
    std::vector<Frame> sent;
    downloadThenScan(true, 10, definition(500), rtpLine + "a second line is never read\n", &shown,
                     &sent);
    EXPECT_EQ(shown, Strings{scanning(1)});
    ASSERT_EQ(frameList(sent, false), Strings{"RunParameters"});
    EXPECT_TRUE(sameBytes(frame('\x1d', rtpLine), sent[0].bytes));
}

TEST(StationDownload, RejectedParametersLoadTheWholeFormThenScan)
{
    Strings shown;
    std::vector<Frame> sent;
    // Over the 24000 bytes one download carries.
    std::string dlf = definition(30000);
    downloadThenScan(false, 11, dlf, rtpLine + "9,9,9\n", &shown, &sent);
    EXPECT_EQ(shown, (Strings{clearing, defining, parameters, scanning(1)}));
    ASSERT_EQ(frameList(sent, false),
              (Strings{"RunParameters", "MemoryInit", "FormDefinition", "RunParameters"}));
    EXPECT_TRUE(sameBytes(frame('\x1d', rtpLine), sent[0].bytes));
    EXPECT_TRUE(sameBytes(frame('\x1c', "APL,000,N;"), sent[1].bytes));
    EXPECT_TRUE(sameBytes(frame('\x1c', dlf.substr(0, 24000)), sent[2].bytes));
    EXPECT_TRUE(sameBytes(frame('\x1d', rtpLine), sent[3].bytes));
}

TEST(StationDownload, ForcedReloadLoadsEverythingAndScansNothing)
{
    // The scanner would accept the parameters as they are; -r reloads anyway.
    scannersim::Options options;
    options.loaded = true;
    options.deck = {sheet(sheetRecord(1, "0000003", "000", "02", 1))};
    Sim sim = startScanner(options);
    TempDir dir;
    writeFile(dir.file("form7.dlf"), "");
    // Only the first 49 characters of a longer first line are read: its
    // ninth comma lies beyond them, and so does its line end.
    std::string longline = "LONGFORM,3,48,64,1,0,N,Y,12345678901234567890ABCDEFGHIJ,EXTRA\n";
    writeFile(dir.file("form7.rtp"), longline);
    Process station(markfeedIn(dir, {"-d", sim.device, "-l", dir.path(), "-f", "form7", "-r"}));
    EXPECT_TRUE(ended(finish(station, dir, 15), 0, {clearing, defining, parameters}));
    std::vector<Frame> sent = downloads(sim->frames());
    ASSERT_EQ(frameList(sent, false), (Strings{"MemoryInit", "FormDefinition", "RunParameters"}));
    EXPECT_TRUE(sameBytes(frame('\x1c', ""), sent[1].bytes));
    EXPECT_TRUE(sameBytes(frame('\x1d', longline.substr(0, 49)), sent[2].bytes));
    EXPECT_EQ(countFrames(sim->frames(), "SheetRequest"), 0);
    EXPECT_TRUE(sim->sheets().empty());
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
}

TEST(StationDownload, ForcedReloadWithoutFormDoesNothingAndEndsWithZero)
{
    Sim sim = startScanner(deckOf({sheet(sheetRecord(1, "0000003", "000", "02", 1))}));
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device, "-r"}));
    EXPECT_TRUE(ended(finish(station, dir, 15), 0, {}));
    std::vector<Frame> frames = sim->frames();
    EXPECT_TRUE(downloads(frames).empty());
    EXPECT_EQ(countFrames(frames, "ModeChange"), 0);
    EXPECT_EQ(countFrames(frames, "SheetRequest"), 0);
    EXPECT_EQ(countFrames(frames, "SelectScanner"), 1) << "the scanner was reset";
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
}

// One way the download fails: what the scanner does, what the form files
// hold, what the operator reads, and what must not have been sent.
struct Failure {
    std::string name;
    std::function<void(scannersim::Options &)> scanner;
    const char *rtp;  // nullptr: no .rtp file
    int dlf;          // 0 none, 1 a file, 2 a directory, 3 a FIFO
    Strings extra;    // more options
    Strings shown;    // "$DIR" stands for the form directory
    Strings notsent;
};

void PrintTo(const Failure &failure, std::ostream *out)
{
    *out << failure.name;
}

class StationDownloadFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(StationDownloadFailure, ShowsItsMessagesAndEndsWith88)
{
    const Failure &failure = GetParam();
    scannersim::Options options;
    if (failure.scanner)
        failure.scanner(options);
    options.deck = {sheet(sheetRecord(1, "0000003", "000", "02", 1))};
    Sim sim = startScanner(options);
    TempDir dir;
    if (failure.dlf == 1)
        writeFile(dir.file("form.dlf"), definition(2000));
    ASSERT_EQ(failure.dlf == 2 ? mkdir(dir.file("form.dlf").c_str(), 0777) : 0, 0);
    ASSERT_EQ(failure.dlf == 3 ? mkfifo(dir.file("form.dlf").c_str(), 0666) : 0, 0);
    if (failure.rtp != nullptr)
        writeFile(dir.file("form.rtp"), failure.rtp);
    Strings args = concat({"-d", sim.device, "-l", dir.path(), "-f", "form", "-x"}, failure.extra);
    // Every message that waits gets its key at once.
    Process station(markfeedIn(dir, args, RunOptions::File));
    EXPECT_EQ(station.wait(30), 88);
    Strings expected;
    for (std::string text : failure.shown) {
        size_t at = text.find("$DIR");
        if (at != std::string::npos)
            text.replace(at, 4, dir.path());
        expected.push_back(text);
    }
    EXPECT_EQ(messages(station.errors()), expected);
    for (const std::string &name : failure.notsent)
        EXPECT_EQ(countFrames(sim->frames(), name), 0) << name << " was sent";
    EXPECT_EQ(countFrames(sim->frames(), "SheetRequest"), 0);
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
    std::string trace = readFile(dir.file("scantest.log"));
    EXPECT_TRUE(has(trace, "PROGRAM TERMINATED.  RETURN VALUE = 88."));
}

const char rtpOk[] = "FORM,3,48,64,1,0,N,Y,12\n";
const char s11[] = "S11:  Scanner not ready.  Check scanner LCD panel.  Press <ENTER>.";
const char s37[] = "S37:  Invalid number of runtime parameters.  Press <ENTER>.";
const char s31[] = "S31:  Unable to open file form.  Press <ENTER>.";
const Strings noModeChange = {"RunParameters", "MemoryInit", "ModeChange"};

// A scanner that fails the download, with both form files in place.
Failure scanner(const char *name, std::function<void(scannersim::Options &)> setup, Strings shown,
                Strings notsent, Strings extra = {})
{
    return Failure{name, setup, rtpOk, 1, extra, shown, notsent};
}

// Form files that fail the download.
Failure files(const char *name, const char *rtp, int dlf, Strings shown, Strings notsent)
{
    return Failure{name, nullptr, rtp, dlf, {}, shown, notsent};
}

auto refuseModes(const char *letters)
{
    return [letters](scannersim::Options &o) { o.refuseModes = letters; };
}

auto refuse(Step step)
{
    return [step](scannersim::Options &o) { o.refuse[int(step)] = true; };
}

auto noReply(Step step)
{
    return [step](scannersim::Options &o) { o.noReply[int(step)] = true; };
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, StationDownloadFailure,
    ::testing::Values(
        scanner("S27_WaitModeRefusedBeforeMemoryInit", refuseModes("w"),
                {clearing, s11, "S27:  Timed out switching scanner to wait mode.  Press <ENTER>."},
                {"MemoryInit"}),
        scanner("S28_TranslateModeRefusedAfterMemoryInit", refuseModes("t"),
                {clearing, "S9:  Timed out switching to translate mode.  Press <ENTER>.",
                 "S28:  Timed out switching to translate mode.  Press <ENTER>."},
                {"FormDefinition"}),
        scanner("S29_NoReplyToMemoryInit", noReply(Step::ClearMem),
                {clearing, "S29:  Timed out reading response from scanner.  Press <ENTER>."},
                {"FormDefinition"}),
        scanner("S30_MemoryInitRefused", refuse(Step::ClearMem),
                {clearing, "S30:  Scanner initialization error:  E/form.  Press <ENTER>."},
                {"FormDefinition"}),
        scanner("S32_WaitModeRefusedBeforeDefinition", refuseModes("w"),
                {clearing, defining, s11,
                 "S32:  Timed out switching to wait mode.  Press <ENTER>."},
                {"FormDefinition", "RunParameters"}, {"-r"}),
        scanner("S34_NoReplyToDefinition", noReply(Step::Definition),
                {clearing, defining,
                 "S34:  Timed out reading response from scanner.  Press <ENTER>."},
                {}),
        scanner("S35_DefinitionRefused", refuse(Step::Definition),
                {clearing, defining, "S35:  Download Error:  E, form.  Press <ENTER>."}, {}),
        scanner("S38_WaitModeRefusedBeforeParameters",
                [](scannersim::Options &o) {
                    o.mode = 'd';
                    o.refuseModes = "w";
                },
                {s11, "S38:  Timed out switching to wait mode.  Press <ENTER>."},
                {"RunParameters", "MemoryInit"}),
        scanner("S39_DownloadModeRefusedAfterParameters", refuseModes("d"),
                {"S8:  Timed out switching to download mode.  Press <ENTER>.",
                 "S39:  Timed out switching to download mode.  Press <ENTER>."},
                {"MemoryInit"}),
        scanner("S40_NoReplyToParameters", noReply(Step::Runtime),
                {"S40:  Timed out reading response from scanner.  Press <ENTER>."}, {"MemoryInit"}),
        scanner("ParametersRefusedTwiceEndsWithoutAMessage", refuse(Step::Runtime),
                {clearing, defining, parameters}, {})),
    [](const auto &test) { return test.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Files, StationDownloadFailure,
    ::testing::Values(
        files("S31_MissingDefinitionNamesTheFormValue", rtpOk, 0, {clearing, defining, s31},
              {"FormDefinition"}),
        // Nothing is sent of a definition that cannot be read.
        files("S31_DefinitionThatIsADirectory", rtpOk, 2, {clearing, defining, s31},
              {"FormDefinition"}),
        files("S31_DefinitionThatIsAFifo", rtpOk, 3, {clearing, defining, s31}, {"FormDefinition"}),
        files("S36_MissingParametersNamesTheFullPath", nullptr, 1,
              {"S36:  Unable to open file $DIR/form.rtp.  Press <ENTER>."}, noModeChange),
        files("S37_SevenCommas", "A,B,C,D,E,F,G,H\n", 1, {s37}, noModeChange),
        files("S37_NineCommas", "A,B,C,D,E,F,G,H,I,J\n", 1, {s37}, noModeChange),
        files("S37_EmptyFile", "", 1, {s37}, noModeChange)),
    [](const auto &test) { return test.param.name; });

}  // namespace
