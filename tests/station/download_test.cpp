// Loading the form into scannersim: which frames go on the wire in which
// order, byte for byte against the form files, with -r, and every failure
// a scanner or a form file can cause.
#include <gtest/gtest.h>

#include <functional>

#include "support/programs.h"
#include "support/scanner.h"

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

std::string frame(char lead, const std::string &payload)
{
    return std::string(1, lead) + payload + "\x04\r\n";
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

TEST(StationDownload, ParametersAcceptedAtOnceSendOnlyTheRuntimeFrame)
{
    scannersim::Options options;
    options.loaded = true;
    std::string record = sheetRecord(10, "0000003", "012", "02", 1);
    options.deck = {sheet(record)};
    Sim sim = startScanner(options);
    TempDir dir;
    writeFile(dir.file("form7.dlf"), definition(500));
    writeFile(dir.file("form7.rtp"), rtpLine + "a second line is never read\n");
    Process station(
        markfeedIn(dir, {"-d", sim.device, "-l", dir.path(), "-f", "form7", "-m", "12"}));
    EXPECT_EQ(station.wait(15), 0);
    EXPECT_EQ(messages(station.errors()), std::vector<std::string>{scanning(1)});
    std::vector<Frame> sent = downloads(sim->frames());
    ASSERT_EQ(frameList(sent, false), std::vector<std::string>{"RunParameters"});
    EXPECT_TRUE(sameBytes(frame('\x1d', rtpLine), sent[0].bytes));
    EXPECT_LT(nthFrame(sim->frames(), "RunParameters", 1),
              nthFrame(sim->frames(), "SheetRequest", 1));
    ASSERT_EQ(sim->sheets().size(), 1u);
    ASSERT_EQ(sim->sheets()[0].prints.size(), 1u);
    EXPECT_TRUE(sameBytes(outputLine(record, sim->sheets()[0].prints[0].text),
                          readFile(dir.file("SCAN.DAT"))));
}

TEST(StationDownload, RejectedParametersLoadTheWholeFormThenScan)
{
    scannersim::Options options;
    std::string record = sheetRecord(11, "0000003", "012", "02", 1);
    options.deck = {sheet(record)};
    Sim sim = startScanner(options);
    TempDir dir;
    // Over the 24000 bytes one download carries.
    std::string dlf = definition(30000);
    writeFile(dir.file("form7.dlf"), dlf);
    writeFile(dir.file("form7.rtp"), rtpLine + "9,9,9\n");
    Process station(
        markfeedIn(dir, {"-d", sim.device, "-l", dir.path(), "-f", "form7", "-m", "12"}));
    EXPECT_EQ(station.wait(20), 0);
    EXPECT_EQ(messages(station.errors()),
              (std::vector<std::string>{clearing, defining, parameters, scanning(1)}));
    std::vector<Frame> sent = downloads(sim->frames());
    ASSERT_EQ(frameList(sent, false),
              (std::vector<std::string>{"RunParameters", "MemoryInit", "FormDefinition",
                                        "RunParameters"}));
    EXPECT_TRUE(sameBytes(frame('\x1d', rtpLine), sent[0].bytes));
    EXPECT_TRUE(sameBytes(frame('\x1c', "APL,000,N;"), sent[1].bytes));
    EXPECT_TRUE(sameBytes(frame('\x1c', dlf.substr(0, 24000)), sent[2].bytes));
    EXPECT_TRUE(sameBytes(frame('\x1d', rtpLine), sent[3].bytes));
    EXPECT_EQ(countFrames(sim->frames(), "SheetRequest"), 1);
    ASSERT_EQ(sim->sheets().size(), 1u);
    ASSERT_EQ(sim->sheets()[0].prints.size(), 1u);
    EXPECT_TRUE(sameBytes(outputLine(record, sim->sheets()[0].prints[0].text),
                          readFile(dir.file("SCAN.DAT"))));
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
    EXPECT_EQ(station.wait(15), 0);
    EXPECT_EQ(messages(station.errors()),
              (std::vector<std::string>{clearing, defining, parameters}));
    std::vector<Frame> sent = downloads(sim->frames());
    ASSERT_EQ(frameList(sent, false),
              (std::vector<std::string>{"MemoryInit", "FormDefinition", "RunParameters"}));
    EXPECT_TRUE(sameBytes(frame('\x1c', ""), sent[1].bytes));
    EXPECT_TRUE(sameBytes(frame('\x1d', longline.substr(0, 49)), sent[2].bytes));
    EXPECT_EQ(countFrames(sim->frames(), "SheetRequest"), 0);
    EXPECT_TRUE(sim->sheets().empty());
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
}

TEST(StationDownload, ForcedReloadWithoutFormDoesNothingAndEndsWithZero)
{
    scannersim::Options options;
    options.deck = {sheet(sheetRecord(1, "0000003", "000", "02", 1))};
    Sim sim = startScanner(options);
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device, "-r"}));
    EXPECT_EQ(station.wait(15), 0);
    EXPECT_EQ(messages(station.errors()), std::vector<std::string>{});
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
    bool dlf;
    std::vector<std::string> extra;  // more options
    std::vector<std::string> shown;  // "$DIR" stands for the form directory
    std::vector<std::string> notsent;
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
    if (failure.dlf)
        writeFile(dir.file("form.dlf"), definition(2000));
    if (failure.rtp != nullptr)
        writeFile(dir.file("form.rtp"), failure.rtp);
    std::vector<std::string> args = {"-d", sim.device, "-l", dir.path(), "-f", "form", "-x"};
    args.insert(args.end(), failure.extra.begin(), failure.extra.end());
    // Every message that waits gets its key at once.
    Process station(markfeedIn(dir, args, RunOptions::File));
    EXPECT_EQ(station.wait(30), 88);
    std::vector<std::string> expected;
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
    EXPECT_NE(trace.find("PROGRAM TERMINATED.  RETURN VALUE = 88."), std::string::npos);
}

const char rtpOk[] = "FORM,3,48,64,1,0,N,Y,12\n";
const char s11[] = "S11:  Scanner not ready.  Check scanner LCD panel.  Press <ENTER>.";

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
        Failure{"S27_WaitModeRefusedBeforeMemoryInit",
                refuseModes("w"),
                rtpOk,
                true,
                {},
                {clearing, s11, "S27:  Timed out switching scanner to wait mode.  Press <ENTER>."},
                {"MemoryInit"}},
        Failure{"S28_TranslateModeRefusedAfterMemoryInit",
                refuseModes("t"),
                rtpOk,
                true,
                {},
                {clearing, "S9:  Timed out switching to translate mode.  Press <ENTER>.",
                 "S28:  Timed out switching to translate mode.  Press <ENTER>."},
                {"FormDefinition"}},
        Failure{"S29_NoReplyToMemoryInit",
                noReply(Step::ClearMem),
                rtpOk,
                true,
                {},
                {clearing, "S29:  Timed out reading response from scanner.  Press <ENTER>."},
                {"FormDefinition"}},
        Failure{"S30_MemoryInitRefused",
                refuse(Step::ClearMem),
                rtpOk,
                true,
                {},
                {clearing, "S30:  Scanner initialization error:  E/form.  Press <ENTER>."},
                {"FormDefinition"}},
        Failure{
            "S32_WaitModeRefusedBeforeDefinition",
            refuseModes("w"),
            rtpOk,
            true,
            {"-r"},
            {clearing, defining, s11, "S32:  Timed out switching to wait mode.  Press <ENTER>."},
            {"FormDefinition", "RunParameters"}},
        Failure{
            "S34_NoReplyToDefinition",
            noReply(Step::Definition),
            rtpOk,
            true,
            {},
            {clearing, defining, "S34:  Timed out reading response from scanner.  Press <ENTER>."},
            {}},
        Failure{"S35_DefinitionRefused",
                refuse(Step::Definition),
                rtpOk,
                true,
                {},
                {clearing, defining, "S35:  Download Error:  E, form.  Press <ENTER>."},
                {}},
        Failure{"S38_WaitModeRefusedBeforeParameters",
                [](scannersim::Options &o) {
                    o.mode = 'd';
                    o.refuseModes = "w";
                },
                rtpOk,
                true,
                {},
                {s11, "S38:  Timed out switching to wait mode.  Press <ENTER>."},
                {"RunParameters", "MemoryInit"}},
        Failure{"S39_DownloadModeRefusedAfterParameters",
                refuseModes("d"),
                rtpOk,
                true,
                {},
                {"S8:  Timed out switching to download mode.  Press <ENTER>.",
                 "S39:  Timed out switching to download mode.  Press <ENTER>."},
                {"MemoryInit"}},
        Failure{"S40_NoReplyToParameters",
                noReply(Step::Runtime),
                rtpOk,
                true,
                {},
                {"S40:  Timed out reading response from scanner.  Press <ENTER>."},
                {"MemoryInit"}},
        Failure{"ParametersRefusedTwiceEndsWithoutAMessage",
                refuse(Step::Runtime),
                rtpOk,
                true,
                {},
                {clearing, defining, parameters},
                {}}),
    [](const auto &test) { return test.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Files, StationDownloadFailure,
    ::testing::Values(Failure{"S31_MissingDefinitionNamesTheFormValue",
                              nullptr,
                              rtpOk,
                              false,
                              {},
                              {clearing, defining,
                               "S31:  Unable to open file form.  Press <ENTER>."},
                              {"FormDefinition"}},
                      Failure{"S36_MissingParametersNamesTheFullPath",
                              nullptr,
                              nullptr,
                              true,
                              {},
                              {"S36:  Unable to open file $DIR/form.rtp.  Press <ENTER>."},
                              {"RunParameters", "MemoryInit", "ModeChange"}},
                      Failure{"S37_SevenCommas",
                              nullptr,
                              "A,B,C,D,E,F,G,H\n",
                              true,
                              {},
                              {"S37:  Invalid number of runtime parameters.  Press <ENTER>."},
                              {"RunParameters", "MemoryInit", "ModeChange"}},
                      Failure{"S37_NineCommas",
                              nullptr,
                              "A,B,C,D,E,F,G,H,I,J\n",
                              true,
                              {},
                              {"S37:  Invalid number of runtime parameters.  Press <ENTER>."},
                              {"RunParameters", "MemoryInit", "ModeChange"}},
                      Failure{"S37_EmptyFile",
                              nullptr,
                              "",
                              true,
                              {},
                              {"S37:  Invalid number of runtime parameters.  Press <ENTER>."},
                              {"RunParameters", "MemoryInit", "ModeChange"}}),
    [](const auto &test) { return test.param.name; });

}  // namespace
