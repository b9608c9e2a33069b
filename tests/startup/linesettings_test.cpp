// Line settings and control codes as they reach a serial line: built-in,
// from the port configuration file, and from -b and -w, which win over the
// file. The line is a pseudo-terminal; the test side answers the first
// status request with a reply of the wrong length, so that the run ends at
// once (S6, 99) with the trace complete.
#include <gtest/gtest.h>

#include <termios.h>

#include "startup_support.h"
#include "station.h"

using namespace harness;
using startup::cfgText;
using startup::dumpAfter;
using startup::Pty;
using startup::runOnLine;

namespace {

const char portHeading[] = "\n\nPort Communication Settings\n===========================";
const char resetHeading[] =
    "\n\nResetting Scanner Port To Default Settings\n==========================================";

std::string dump(const char *baud, const char *size, const char *parity, const char *stops)
{
    return std::string("\nBAUD: ") + baud + "\nSIZE: " + size + "\nPARITY: " + parity +
           "\nSTOPS: " + stops;
}

TEST(LineSettings, BuiltInSettingsAndThePortGivenBackAtTheEnd)
{
    TempDir dir;
    Pty pty;
    // What the port had before: 9600 and two stop bits (a pty is always 8N).
    struct termios before;
    ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);
    cfsetispeed(&before, B9600);
    cfsetospeed(&before, B9600);
    before.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &before), 0);

    auto run = runOnLine(dir, pty, {"-x", "-d", pty.slavePath()});
    ASSERT_TRUE(run.requested) << run.errors;
    EXPECT_EQ(run.status, 99);
    EXPECT_EQ(messages(run.errors),
              std::vector<std::string>{"S6:  No communication with scanner.  Press <ENTER>."});
    EXPECT_EQ(dumpAfter(run.trace, portHeading), dump("19200", "7", "Odd", "2"));
    EXPECT_EQ(dumpAfter(run.trace, resetHeading), dump("9600", "8", "None", "2"));
    EXPECT_NE(run.trace.find("\n\nPROGRAM TERMINATED.  RETURN VALUE = "
                             "99.\n=======================================\n"),
              std::string::npos);

    struct termios after;
    ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
    EXPECT_TRUE(after.c_lflag & ICANON);
    EXPECT_TRUE(after.c_lflag & ECHO);
    EXPECT_TRUE(after.c_oflag & OPOST);
}

// The file's settings for the tests below: its own status request codes,
// and 38400 baud, 8 bits, even parity, one stop bit.
const std::vector<std::pair<int, long>> fileSettings = {{8, 'S'}, {24, '4'}, {26, 38400},
                                                        {27, 8},  {28, 1},   {29, 1}};

TEST(LineSettings, FileSettingsReachTheLine)
{
    TempDir dir;
    Pty pty;
    startup::makePtsDirs(dir.path());
    writeFile(startup::ptsCfgPath(dir.path(), pty), cfgText(fileSettings));
    auto run = runOnLine(dir, pty, {"-x", "-d", pty.slavePath()}, "x\r\n", "S4");
    ASSERT_TRUE(run.requested) << run.errors << run.line;
    EXPECT_EQ(run.status, 99);
    EXPECT_EQ(run.line.substr(run.line.size() - 2), "S4");
    EXPECT_EQ(run.line.find("s3"), std::string::npos);
    EXPECT_EQ(dumpAfter(run.trace, portHeading), dump("38400", "8", "Even", "1"));
}

TEST(LineSettings, SpeedOptionWinsOverTheFile)
{
    const struct {
        std::vector<std::string> options;
        std::string expected;
    } cases[] = {
        {{}, dump("38400", "8", "Even", "1")},
        {{"-b", "9600"}, dump("9600", "8", "Even", "1")},
        {{"-B", "19200:7o2"}, dump("19200", "7", "Odd", "2")},
        {{"-b", "9600:8n1"}, dump("9600", "8", "None", "1")},
        // An unknown parity letter keeps the file's; 0 keeps size and stops.
        {{"-b", "19200:7X2"}, dump("19200", "7", "Even", "2")},
        {{"-b", "9600:0N0"}, dump("9600", "8", "None", "1")},
        // Empty pieces between colons do not count; the suffix ends at a colon.
        {{"-b", "19200::7O2"}, dump("19200", "7", "Odd", "2")},
        {{"-b", "9600:7n2:8e1"}, dump("9600", "7", "None", "2")},
        {{"-b", ":7O2"}, dump("38400", "8", "Even", "1")},
        // A later -b without a suffix keeps the earlier suffix.
        {{"-b", "19200:7O2", "-b", "9600"}, dump("9600", "7", "Odd", "2")},
    };
    for (const auto &c : cases) {
        std::string label;
        for (const auto &option : c.options)
            label += option + " ";
        SCOPED_TRACE(label);
        TempDir dir;
        Pty pty;
        startup::makePtsDirs(dir.path());
        writeFile(startup::ptsCfgPath(dir.path(), pty), cfgText(fileSettings));
        std::vector<std::string> args = {"-x", "-d", pty.slavePath()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        auto run = runOnLine(dir, pty, args, "x\r\n", "S4");
        ASSERT_TRUE(run.requested) << run.errors;
        EXPECT_EQ(run.status, 99);
        EXPECT_EQ(dumpAfter(run.trace, portHeading), c.expected);
    }
}

// Nobody answers: the first status request waits 5 seconds plus the delay.
TEST(LineSettings, DelayOptionWinsOverTheFile)
{
    TempDir dir;
    Pty pty;
    startup::makePtsDirs(dir.path());
    writeFile(startup::ptsCfgPath(dir.path(), pty), cfgText({{23, 3}}));
    auto run = runOnLine(dir, pty, {"-d", pty.slavePath(), "-w", "-5"}, "");
    ASSERT_TRUE(run.requested) << run.errors;
    EXPECT_EQ(run.status, 99);
    EXPECT_EQ(messages(run.errors),
              std::vector<std::string>{"S7:  No Communication with scanner.  Press <ENTER>."});
    EXPECT_LT(run.secondsAfterRequest, 2.5);
}

TEST(LineSettings, DelayOfZeroKeepsTheFilesDelay)
{
    TempDir dir;
    Pty pty;
    startup::makePtsDirs(dir.path());
    writeFile(startup::ptsCfgPath(dir.path(), pty), cfgText({{23, 1}}));
    auto run = runOnLine(dir, pty, {"-d", pty.slavePath(), "-w", "0"}, "");
    ASSERT_TRUE(run.requested) << run.errors;
    EXPECT_EQ(run.status, 99);
    EXPECT_EQ(messages(run.errors),
              std::vector<std::string>{"S7:  No Communication with scanner.  Press <ENTER>."});
    EXPECT_GE(run.secondsAfterRequest, 5.8);
}

TEST(LineSettings, DownloadOnlyRunEndsWithZeroOnceTheScannerIsIdle)
{
    // -r without a form: no download, no scanning, and an emptied data file.
    TempDir dir;
    Pty pty;
    writeFile(dir.file("SCAN.DAT"), "earlier records\r\n");
    auto run = runOnLine(dir, pty, {"-r", "-d", pty.slavePath()}, "a0bc\r\n");
    ASSERT_TRUE(run.requested) << run.errors;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
    EXPECT_EQ(readFile(dir.file("LOCK_pts/" + pty.slavePath().substr(9))), "lock");
}

}  // namespace
