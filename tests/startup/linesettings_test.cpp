// Line settings and control codes as they reach a serial line: built-in,
// from the port configuration file, and from -b and -w, which win over the
// file. The line is a pseudo-terminal; the test side answers the first
// status request with a reply of the wrong length, so that the run ends at
// once (S6, 99) with the trace complete.
#include <gtest/gtest.h>

#include <termios.h>

#include "support/lines.h"

using namespace support;

namespace {

const char s6[] = "S6:  No communication with scanner.  Press <ENTER>.";
const char s7[] = "S7:  No Communication with scanner.  Press <ENTER>.";

// markfeed on the line, whose port configuration file holds cfg (none when
// empty); the line answers the first request so, or not at all.
Result onLine(ScriptedLine &line, const std::string &cfg, Strings args,
              const std::string &request = "s3", const std::string &answer = "x\r\n")
{
    TempDir dir;
    if (!cfg.empty())
        writeFile(dir.file("d_" + portName(line.device()) + ".cfg"), cfg);
    writeFile(dir.file("SCAN.DAT"), "earlier records\r\n");
    line.on(request, {answer});
    line.start();
    args.insert(args.begin(), {"-d", line.device()});
    Result run = runStation(dir, args);
    EXPECT_EQ(readFile(dir.file("LOCK_" + portName(line.device()))), "lock");
    return run;
}

TEST(LineSettings, BuiltInSettingsAndThePortGivenBackAtTheEnd)
{
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
    // What the port had before: 9600 and two stop bits (a pty is always 8N).
    struct termios before;
    ASSERT_EQ(tcgetattr(line.slave(), &before), 0);
    cfsetispeed(&before, B9600);
    cfsetospeed(&before, B9600);
    before.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(line.slave(), TCSANOW, &before), 0);

    auto run = onLine(line, "", {"-x"});
    ASSERT_GE(line.sinceRequest(), 0) << run.errors;
    EXPECT_TRUE(ended(run, 99, {s6}));
    EXPECT_EQ(dumpAfter(run.trace, portHeading), dumpOf("19200:7O2"));
    EXPECT_EQ(dumpAfter(run.trace, resetHeading), dumpOf("9600:8N2"));
    EXPECT_TRUE(has(run.trace, "\n\nPROGRAM TERMINATED.  RETURN VALUE = "
                               "99.\n=======================================\n"));

    struct termios after;
    ASSERT_EQ(tcgetattr(line.slave(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
    EXPECT_TRUE(after.c_lflag & ICANON);
    EXPECT_TRUE(after.c_lflag & ECHO);
    EXPECT_TRUE(after.c_oflag & OPOST);
}

// The file's settings for the tests below: its own status request codes,
// and 38400 baud, 8 bits, even parity, one stop bit.
const std::string fileSettings =
    cfgText({{8, 'S'}, {24, '4'}, {26, 38400}, {27, 8}, {28, 1}, {29, 1}});

TEST(LineSettings, FileSettingsReachTheLine)
{
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
    auto run = onLine(line, fileSettings, {"-x"}, "S4");
    ASSERT_GE(line.sinceRequest(), 0) << run.errors << line.received();
    EXPECT_EQ(run.status, 99);
    EXPECT_TRUE(endsWith(line.received(), "S4"));
    EXPECT_FALSE(has(line.received(), "s3"));
    EXPECT_EQ(dumpAfter(run.trace, portHeading), dumpOf("38400:8E1"));
}

TEST(LineSettings, SpeedOptionWinsOverTheFile)
{
    const struct {
        Strings options;
        std::string expected;
    } cases[] = {
        {{}, "38400:8E1"},
        {{"-b", "9600"}, "9600:8E1"},
        {{"-B", "19200:7o2"}, "19200:7O2"},
        {{"-b", "9600:8n1"}, "9600:8N1"},
        // An unknown parity letter keeps the file's; 0 keeps size and stops.
        {{"-b", "19200:7X2"}, "19200:7E2"},
        {{"-b", "9600:0N0"}, "9600:8N1"},
        // Empty pieces between colons do not count; the suffix ends at a colon.
        {{"-b", "19200::7O2"}, "19200:7O2"},
        {{"-b", "9600:7n2:8e1"}, "9600:7N2"},
        {{"-b", ":7O2"}, "38400:8E1"},
        // A later -b without a suffix keeps the earlier suffix.
        {{"-b", "19200:7O2", "-b", "9600"}, "9600:7O2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
        auto run = onLine(line, fileSettings, concat({"-x"}, c.options), "S4");
        ASSERT_GE(line.sinceRequest(), 0) << run.errors;
        EXPECT_EQ(run.status, 99);
        EXPECT_EQ(dumpAfter(run.trace, portHeading), dumpOf(c.expected));
    }
}

// Nobody answers: the first status request waits 5 seconds plus the delay.
// The seconds from the request to the end, with this file delay and -w.
double unanswered(long fileDelay, const std::string &option)
{
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
    auto run = onLine(line, cfgText({{23, fileDelay}}), {"-w", option}, "s3", "");
    EXPECT_TRUE(ended(run, 99, {s7}));
    return line.sinceRequest();
}

TEST(LineSettings, DelayOptionWinsOverTheFile)
{
    double seconds = unanswered(3, "-5");
    EXPECT_GE(seconds, 0);
    EXPECT_LT(seconds, 2.5);
}

TEST(LineSettings, DelayOfZeroKeepsTheFilesDelay)
{
    EXPECT_GE(unanswered(1, "0"), 5.8);
}

TEST(LineSettings, DownloadOnlyRunEndsWithZeroOnceTheScannerIsIdle)
{
    // -r without a form: no download, no scanning, and an emptied data file.
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
    auto run = onLine(line, "", {"-r"}, "s3", "a0bc\r\n");
    ASSERT_GE(line.sinceRequest(), 0) << run.errors;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.data, "");
}

}  // namespace
