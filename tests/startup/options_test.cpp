// How the command line is read, as the trace's file paths and the operator's
// messages show it: the option letter, values, what is ignored, and the
// usage screen of a run without arguments; values that do not fit and
// options whose value is missing, refused with S48 or S49 before any file is
// created or emptied.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/programs.h"

using namespace support;

namespace {

// No such device exists on a Linux host, so the run ends at the open (S21).
const char device[] = "/dev/tty1a";

const std::string tty1aPaths = pathsBlock(device, "", "tty1a", "tty1a");

const char s21[] = "S21:  Unable to open device /dev/tty1a.  Press <ENTER>.";

TEST(Options, LetterIsTheSecondCharacterInEitherCaseAndTheRestIsIgnored)
{
    ASSERT_FALSE(fileExists(device));
    const std::vector<Strings> spellings = {
        {"-x", "-d", device},
        {"-X", "-D", device},
        {"-xd", "-dx", device},  // only the second character counts
        {"-Xtrace", "-Device", device},
        // Unknown options and stray words are ignored silently.
        {"word", "-q", "-", "-9", "-x", "-Z", "-d", device, "more"},
    };
    for (const auto &args : spellings) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        auto run = runStation(args);
        EXPECT_TRUE(ended(run, 88, {s21}));
        EXPECT_EQ(filePaths(run.trace), tty1aPaths);
    }
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

const char usagescreen[] =
    "\r\nusage -- markfeed [options] [-dlfobwmxrsupc]               Updated: 1/18/2005"
    "\r\n==========================================================================="
    "\r\n[-d devicename]   Scanner device name /dev/tty# /net/#.#.#.# /net/hostname."
    "\r\n[-l pathname]     Directory that all markfeed files will be maintained."
    "\r\n[-f filename]     Dlf filename for download definition file."
    "\r\n[-o datafile]     Filename for output data returned from scanner."
    "\r\n[-b baudrate]     Baud rate with optional size/parity/stops (Ex: 9600:8N1)"
    "\r\n[-w waittime]     Add n second delay for slow communication networks."
    "\r\n[-m dataset]      Vantorel dataset that form belongs to."
    "\r\n[-x]              Output debug information to file scantest.log."
    "\r\n[-r]              Initialize scanner, download form definition file."
    "\r\n[-s]              Test scanner communications/return communication config."
    "\r\n[-u]              Assign socket port /etc/service name or number."
    "\r\n[-p]              Check networking that stores the sign in different order."
    "\r\n[-c]              Activate continous feed mode."
    "\r\n[-t]              Process read head alignment form."
    "\r\n===========================================================================\r\n\r\n";

// No arguments and --help show the screen, --version the version, --check
// the report (here that a run without arguments would only show the
// screen); none of them touches a file, so a batch not yet imported
// survives a question. The first of them counts.
TEST(UsageScreen, NoArgumentsHelpAndVersionTouchNoFile)
{
    const struct {
        Strings args;
        int status;
        const char *errors;
        const char *output;
    } cases[] = {
        {{}, 99, usagescreen, ""},
        {{"--help"}, 99, usagescreen, ""},
        {{"-x", "--help", "-d", device}, 99, usagescreen, ""},
        {{"--version"}, 0, "", "markfeed 1.0.0\n"},
        {{"-d", device, "--version", "--help"}, 0, "", "markfeed 1.0.0\n"},
        {{"--check"},
         88,
         "",
         "error: options: none; markfeed without arguments shows the usage screen (99)\n"
         "system log: off (MARKFEED_SYSLOG=off)\n"
         "result: 1 error, 0 warnings; a run would end with 88\n"},
        {{"--check", "-d", device, "--help"},
         88,
         "",
         "error: options: --help shows the usage screen (99)\n"
         "system log: off (MARKFEED_SYSLOG=off)\n"
         "result: 1 error, 0 warnings; a run would end with 88\n"},
        {{"--help", "--check"}, 99, usagescreen, ""},
    };
    for (const auto &c : cases) {
        for (auto input : {RunOptions::Terminal, RunOptions::File}) {
            SCOPED_TRACE(concat({"markfeed"}, c.args).size());
            TempDir dir;
            writeFile(dir.file("SCAN.DAT"), "0001 not yet imported\r\n");
            Process station(markfeedIn(dir, c.args, input));
            EXPECT_EQ(station.wait(10), c.status);
            EXPECT_EQ(station.errors(), c.errors);
            if (input == RunOptions::File) {
                EXPECT_EQ(station.output(), c.output);
            }
            EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "0001 not yet imported\r\n");
            EXPECT_FALSE(fileExists(dir.file("scantest.log")));
            EXPECT_FALSE(fileExists(dir.file("LOCK_")));
            EXPECT_FALSE(fileExists(dir.file("LOCK_tty1a")));
        }
    }
}

// A value is the whole next argument, "--help" and "--check" too; other
// "--" words are ignored as unknown options are.
TEST(UsageScreen, LongWordsAsValuesOrUnknownAreNoQuestion)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("--check").c_str(), 0700), 0);
    auto named = runStation(dir, {"-d", device, "-o", "--help", "--verbose", "-l", "--check"});
    EXPECT_TRUE(ended(named, 88, {s21}));
    EXPECT_TRUE(fileExists(dir.file("--help")));
    EXPECT_TRUE(fileExists(dir.file("--check/scantest.log")));
    EXPECT_TRUE(ended(runStation(dir, {"-d", "--version"}), 88,
                      {"S21:  Unable to open device --version.  Press <ENTER>."}));
}

std::string tooLong(char letter)
{
    return std::string("S48:  Value of option -") + letter + " is too long.  Press <ENTER>.";
}

std::string needsValue(char letter)
{
    return std::string("S49:  Option -") + letter + " needs a value.  Press <ENTER>.";
}

// The files of a batch that a refused run must leave as they are.
void earlierBatch(const TempDir &dir)
{
    writeFile(dir.file("scantest.log"), "earlier trace");
    writeFile(dir.file("SCAN.DAT"), "earlier records\r\n");
}

void expectUntouched(const TempDir &dir)
{
    EXPECT_EQ(readFile(dir.file("scantest.log")), "earlier trace");
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "earlier records\r\n");
    EXPECT_FALSE(fileExists(dir.file("LOCK_tty1a")));
    EXPECT_FALSE(fileExists(dir.file("LOCK_")));
}

// A run refused with one message that leaves the earlier batch alone.
void expectRefused(const Strings &args, const std::string &message)
{
    TempDir dir;
    earlierBatch(dir);
    auto run = runStation(dir, args);
    EXPECT_TRUE(ended(run, 88, {message}));
    expectUntouched(dir);
}

TEST(Values, OptionWithoutItsValueIsS49WithTheLetterAsTyped)
{
    for (std::string option : {"-d", "-L", "-f", "-O", "-b", "-W", "-m", "-u", "-Dx"}) {
        SCOPED_TRACE(option);
        expectRefused({"-x", "-d", device, option}, needsValue(option[1]));
    }
}

TEST(Values, RefusalWaitsForAKey)
{
    for (bool missing : {true, false}) {
        TempDir dir;
        earlierBatch(dir);
        Strings args = {"-x", "-U", std::string(20, '9')};
        if (missing)
            args.pop_back();
        Process station(markfeedIn(dir, args));
        std::string expected = missing ? needsValue('U') : tooLong('U');
        ASSERT_TRUE(waitsAt(station, expected));
        station.type("\r");
        EXPECT_EQ(station.wait(10), 88);
        expectUntouched(dir);
    }
}

TEST(Values, LongestValuesThatFitAreTaken)
{
    TempDir dir;
    // Device: 49 characters.
    std::string longest = "/dev/" + std::string(44, 'd');
    auto run = runStation(dir, {"-x", "-d", longest});
    EXPECT_EQ(run.status, 88);
    // The screen shows 79 columns of it; the trace has it whole.
    EXPECT_TRUE(has(run.trace,
                    "\nShowmsg:  S21:  Unable to open device " + longest + ".  Press <ENTER>.\n"));
    EXPECT_EQ(readFile(dir.file("LOCK_" + std::string(44, 'd'))), "lock");

    // Service: 19 characters.
    std::string service(19, '7');
    run = runStation(dir, {"-d", device, "-u", service});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(readFile(dir.file("LOCK_tty1a_" + service)), "lock");

    // Output name: 99 characters, taken as it is.
    std::string output(99, 'o');
    run = runStation(dir, {"-d", device, "-o", output});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(fileExists(dir.file(output)));

    // Form: 95 characters, so that the .dlf and .rtp paths have 99.
    std::string form(95, 'f');
    run = runStation(dir, {"-x", "-d", device, "-f", form});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(has(run.trace, "\nDownload file      = " + form + ".dlf\n"));
    EXPECT_TRUE(has(run.trace, "\nRuntime file       = " + form + ".rtp\n"));

    // Directory: 86 characters; with its "/" and scantest.log, 99.
    std::string directory(86, 'l');
    ASSERT_EQ(mkdir(dir.file(directory).c_str(), 0777), 0);
    run = runStation(dir, {"-d", device, "-l", directory});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(fileExists(dir.file(directory + "/scantest.log")));

    // Line settings and delay: 99 characters each.
    run = runStation(dir, {"-d", device, "-b", "9600:8N1" + std::string(91, ':'), "-w",
                           std::string(98, '0') + "1"});
    EXPECT_EQ(run.status, 88);
    EXPECT_FALSE(has(run.errors, "S48"));

    // The dataset is a number, with no buffer to outgrow.
    run = runStation(dir, {"-d", device, "-m", std::string(300, '1')});
    EXPECT_EQ(run.status, 88);
    EXPECT_FALSE(has(run.errors, "S48"));
}

TEST(Values, LongerValuesAreRefusedNotCut)
{
    struct Case {
        Strings args;
        char letter;
    };
    const Case cases[] = {
        {{"-d", "/dev/" + std::string(45, 'd')}, 'd'},
        {{"-D", "/dev/" + std::string(45, 'd')}, 'D'},
        {{"-d", device, "-u", std::string(20, '7')}, 'u'},
        {{"-d", device, "-o", std::string(100, 'o')}, 'o'},
        {{"-d", device, "-f", std::string(96, 'f')}, 'f'},
        {{"-d", device, "-F", std::string(100, 'f')}, 'F'},
        {{"-d", device, "-l", std::string(87, 'l')}, 'l'},
        {{"-d", device, "-L", std::string(100, 'l')}, 'L'},
        {{"-d", device, "-b", "9600:8N1" + std::string(92, ':')}, 'b'},
        {{"-d", device, "-w", std::string(99, '0') + "1"}, 'w'},
        {{"-d", "/dev/" + std::string(5000, 'd')}, 'd'},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 2]);
        expectRefused(c.args, tooLong(c.letter));
    }
}

}  // namespace
