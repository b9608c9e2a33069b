// How the command line is read, as the trace's file paths and the operator's
// messages show it: the option letter, values, and what is ignored.
#include <gtest/gtest.h>

#include "support/programs.h"

using namespace support;

namespace {

// No such device exists on a Linux host, so the run ends at the open (S21).
const char device[] = "/dev/tty1a";

const std::string tty1aPaths = pathsBlock(device, "", "tty1a", "tty1a");

const char s21[] = "S21:  Unable to open device /dev/tty1a.  Press <ENTER>.";

TEST(Options, LetterIsTheSecondCharacterInEitherCase)
{
    ASSERT_FALSE(fileExists(device));
    const std::vector<Strings> spellings = {
        {"-x", "-d", device},
        {"-X", "-D", device},
        {"-xd", "-dx", device},  // only the second character counts
        {"-Xtrace", "-Device", device},
    };
    for (const auto &args : spellings) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        auto run = runStation(args);
        EXPECT_TRUE(ended(run, 88, {s21}));
        EXPECT_EQ(filePaths(run.trace), tty1aPaths);
    }
}

TEST(Options, UnknownOptionsAndStrayWordsAreIgnoredSilently)
{
    auto run = runStation({"word", "-q", "-", "-9", "-x", "-Z", "-d", device, "more"});
    EXPECT_TRUE(ended(run, 88, {s21}));
    EXPECT_EQ(filePaths(run.trace), tty1aPaths);
}

TEST(Options, ArgumentsWithoutAnyKnownOptionStillRun)
{
    // No usage screen: the run has no device, so the port name is empty.
    for (std::string only : {"-q", "word"}) {
        SCOPED_TRACE(only);
        TempDir dir;
        auto run = runStation(dir, {only});
        EXPECT_TRUE(
            ended(run, 88, {"S19:  Invalid device specified with -d option.  Press <ENTER>."}));
        EXPECT_EQ(readFile(dir.file("LOCK_")), "lock");
        EXPECT_TRUE(fileExists(dir.file("SCAN.DAT")));
        EXPECT_TRUE(fileExists(dir.file("scantest.log")));
        EXPECT_EQ(run.trace, "");
        EXPECT_FALSE(fileExists(dir.file("d_.cfg")));  // read, never created
    }
}

TEST(Options, ValueIsTheWholeNextArgumentWhateverItBeginsWith)
{
    {
        // -x is the device here, so there is no trace.
        TempDir dir;
        auto run = runStation(dir, {"-d", "-x"});
        EXPECT_TRUE(
            ended(run, 88, {"S19:  Invalid device specified with -d option.  Press <ENTER>."}));
        EXPECT_TRUE(fileExists(dir.file("scantest.log")));
        EXPECT_EQ(run.trace, "");
        EXPECT_EQ(readFile(dir.file("LOCK_")), "lock");
    }
    {
        // "-s" names the data output file; the run is not a communication test.
        TempDir dir;
        auto run = runStation(dir, {"-x", "-o", "-s", "-d", device});
        EXPECT_TRUE(ended(run, 88, {s21}));
        EXPECT_TRUE(fileExists(dir.file("-s")));
        EXPECT_FALSE(fileExists(dir.file("SCAN.DAT")));
        EXPECT_TRUE(has(run.trace, "\nData output file   = -s\n"));
        EXPECT_TRUE(has(run.trace, "\nOpening device using DlOpenComm."));
    }
    {
        // "-d" is the directory, and the device path after it a stray word.
        auto run = runStation({"-l", "-d", device});
        EXPECT_TRUE(ended(run, 88,
                          {"S44:  Could not create scanner lock file.  Press <ENTER>.",
                           "Check permissions on -d/LOCK_.  Press <ENTER>."}));
    }
}

TEST(Options, LaterValueReplacesEarlier)
{
    TempDir dir;
    auto run = runStation(
        dir, {"-x", "-d", "/dev/ttyQ9", "-o", "first.dat", "-d", device, "-o", "SCAN.DAT"});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(filePaths(run.trace), tty1aPaths);
    EXPECT_FALSE(fileExists(dir.file("first.dat")));
}

TEST(Options, DeviceOfFiveCharactersOrFewerGivesAnEmptyPortName)
{
    TempDir dir;
    auto run = runStation(dir, {"-x", "-d", "/tty1"});
    EXPECT_TRUE(ended(run, 88, {"S21:  Unable to open device /tty1.  Press <ENTER>."}));
    EXPECT_EQ(filePaths(run.trace), pathsBlock("/tty1", "", "", ""));
    EXPECT_EQ(readFile(dir.file("LOCK_")), "lock");
}

}  // namespace
