// The serial link: the line settings the device is asked for and gets back
// at the end, open failures, the open guard, and a scanner that hangs up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "support.h"

using namespace harness;
using namespace protocol;

namespace {

// The built-in values of the first 25 positions of a port configuration
// file, then the given line settings and the end-of-batch flag.
std::string cfgWithLine(int baud, int size, int parity, int stops)
{
    return "4 13 10 114 14 17 17 115 48 49 50 101 28 29 18 49 50 21 20 19 25 13 0 51 27 " +
           std::to_string(baud) + " " + std::to_string(size) + " " + std::to_string(parity) + " " +
           std::to_string(stops) + " 1\n";
}

std::string dump(const std::string &trace, const std::string &heading)
{
    size_t at = trace.find(heading);
    if (at == std::string::npos)
        return "";
    size_t start = trace.find("\nBAUD", at);
    size_t size = trace.find("\nSIZE", at);
    start = start == std::string::npos || start > size ? size : start;
    size_t end = trace.find("\n\n", start);
    return trace.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

const char settingsHeading[] = "Port Communication Settings\n===========================";
const char resetHeading[] =
    "Resetting Scanner Port To Default Settings\n==========================================";

}  // namespace

TEST(SerialLink, LineSettingsAskedOfTheDeviceAndDumpedInTheTrace)
{
    struct Case {
        std::string name;
        std::vector<std::string> args;
        std::string cfg;
        bool recorder;        // the scanner judges size and parity too
        std::string scanner;  // its own line: its answers are garbled unless the host matches
        int status;
        std::string seen;  // what the scanner saw asked
        std::string dump;
    } cases[] = {
        {"built-in",
         {},
         "",
         true,
         "19200:7O2",
         0,
         "19200:7O2",
         "\nBAUD: 19200\nSIZE: 7\nPARITY: Odd\nSTOPS: 2"},
        {"-b 9600:8N1",
         {"-b", "9600:8N1"},
         "",
         true,
         "9600:8N1",
         0,
         "9600:8N1",
         "\nBAUD: 9600\nSIZE: 8\nPARITY: None\nSTOPS: 1"},
        {"any other speed and size",
         {"-b", "2400:6E1"},
         "",
         true,
         "9600:8E1",
         0,
         "9600:8E1",
         "\nBAUD: 9600\nSIZE: 8\nPARITY: Even\nSTOPS: 1"},
        {"speed only",
         {"-b", "38400"},
         "",
         true,
         "38400:7O2",
         0,
         "38400:7O2",
         "\nBAUD: 38400\nSIZE: 7\nPARITY: Odd\nSTOPS: 2"},
        {"configuration file",
         {},
         cfgWithLine(38400, 8, 1, 1),
         true,
         "38400:8E1",
         0,
         "38400:8E1",
         "\nBAUD: 38400\nSIZE: 8\nPARITY: Even\nSTOPS: 1"},
        {"option over configuration file",
         {"-b", "9600:7N2"},
         cfgWithLine(38400, 8, 1, 1),
         true,
         "9600:7N2",
         0,
         "9600:7N2",
         "\nBAUD: 9600\nSIZE: 7\nPARITY: None\nSTOPS: 2"},
        // 0 and unknown values keep what the device has: the scanner's own.
        {"device's own settings kept",
         {},
         cfgWithLine(0, 0, 4, 3),
         true,
         "38400:8N1",
         0,
         "38400:8N1",
         "\nBAUD: 38400\nSIZE: 8\nPARITY: None\nSTOPS: 1"},
        {"speed as the device has it",
         {"-b", "38400"},
         "",
         false,
         "38400:7O2",
         0,
         "38400:8N2",
         "\nBAUD: 38400\nSIZE: 7\nPARITY: Odd\nSTOPS: 2"},
        {"scanner on another line",
         {},
         "",
         true,
         "9600:8N1",
         99,
         "19200:7O2",
         "\nBAUD: 19200\nSIZE: 7\nPARITY: Odd\nSTOPS: 2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        scannersim::Options options;
        ASSERT_TRUE(scannersim::parseLineSpec(c.scanner, &options.line));
        std::map<std::string, std::string> env;
        if (c.recorder) {
            options.lineFile = dir.file("line");
            env = preload(LINERECORDER);
            env["SCANNERSIM_LINE_FILE"] = options.lineFile;
        }
        Sim sim = startScanner(options);
        ASSERT_TRUE(sim);
        env["SCANNERSIM_LINE_DEVICE"] = sim.device;
        if (!c.cfg.empty())
            writeFile(dir.file("d_" + portName(sim.device) + ".cfg"), c.cfg);
        std::vector<std::string> args = {"-d", sim.device, "-r", "-x"};
        args.insert(args.end(), c.args.begin(), c.args.end());

        Result run = runStation(dir, args, env);
        EXPECT_EQ(run.status, c.status) << run.errors;
        scannersim::LineSettings seen;
        ASSERT_TRUE(sim->lineSeen(&seen));
        EXPECT_EQ(scannersim::formatLine(seen), c.seen);
        EXPECT_EQ(dump(run.trace, settingsHeading), c.dump);
    }
}

TEST(SerialLink, DeviceGetsItsOwnSettingsBackAtTheEnd)
{
    TempDir dir;
    ScriptedLine line(ScriptedLine::Pty, true);
    line.on("s3", {"0000\r\n"});
    line.start();

    Result run = runStation(dir, {"-d", line.device(), "-b", "9600:8E1", "-r", "-x"});
    EXPECT_EQ(run.status, 0) << run.errors;
    int fd = open(line.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    struct termios after;
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&after), speed_t(B19200));
    EXPECT_TRUE(after.c_cflag & CSTOPB);
    EXPECT_TRUE(after.c_lflag & ISIG);
    EXPECT_FALSE(after.c_lflag & NOFLSH);
    EXPECT_EQ(dump(run.trace, settingsHeading), "\nBAUD: 9600\nSIZE: 8\nPARITY: Even\nSTOPS: 1");
    EXPECT_EQ(dump(run.trace, resetHeading), "\nBAUD: 19200\nSIZE: 8\nPARITY: None\nSTOPS: 2");
}

// Bytes waiting on the line before the run: one is thrown away, any more
// are read as the start of the first answer.
TEST(SerialLink, PendingInputLosesOneByteBeforeTheReset)
{
    struct Case {
        std::string pending;
        int status;
        std::vector<std::string> messages;
    } cases[] = {
        {"X", 0, {}},
        {"XY", 99, {"S6:  No communication with scanner.  Press <ENTER>."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pending);
        TempDir dir;
        ScriptedLine line(ScriptedLine::Pty);
        line.greet(c.pending);
        line.on("s3", {"0000\r\n"});
        line.start();

        Result run = runStation(dir, {"-d", line.device(), "-r"});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.messages, c.messages);
        EXPECT_EQ(line.received(), resetBytes + "s3");
    }
}

TEST(SerialLink, DeviceThatCannotBeOpenedOrIsNoTerminal)
{
    struct Case {
        std::string device;
        std::string message;
    } cases[] = {
        {devicePath(), "S21:  Unable to open device %s.  Press <ENTER>."},
        {"/dev/null", "S22:  Could not get term settings on %s [25].  Press <ENTER>."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.device);
        TempDir dir;
        if (c.device != "/dev/null") {
            ASSERT_EQ(symlink("/tmp/no-such-scanner-line", c.device.c_str()), 0);
        }
        Result run = runStation(dir, {"-d", c.device});
        if (c.device != "/dev/null")
            unlink(c.device.c_str());
        std::string message = c.message;
        message.replace(message.find("%s"), 2, c.device);
        EXPECT_EQ(run.status, 88);
        EXPECT_EQ(run.messages, std::vector<std::string>{message});
    }
}

TEST(SerialLink, OpenThatHangsIsGivenUpAfterFourSeconds)
{
    TempDir dir;
    std::string device = devicePath();
    auto env = preload(BLOCKOPEN);
    env["BLOCKOPEN_PATH"] = device;

    Result run = runStation(dir, {"-d", device, "-x"}, env);
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(run.messages,
              std::vector<std::string>{"S12:  Connection to scanner timed out.  Press <ENTER>."});
    EXPECT_GE(run.seconds, 3.5);
    EXPECT_LT(run.seconds, 7.0);
    EXPECT_NE(run.trace.find("\n\nPROGRAM TERMINATED.  RETURN VALUE = 88."), std::string::npos);
}

// Started by the host in a session of its own without a terminal, the
// station must not take the scanner line as its controlling terminal: a
// hang-up would kill it. Reads then fail, 16 times a second apart, and the
// status request ends the run.
TEST(SerialLink, ScannerHangingUpEndsTheRunAfterSixteenReadAttempts)
{
    TempDir dir;
    scannersim::Options options;
    options.dropAfter = long(resetBytes.size());  // right after the reset
    Sim sim = startScanner(options);
    ASSERT_TRUE(sim);

    Result run = runStation(dir, {"-d", sim.device, "-r"});
    EXPECT_EQ(run.status, 99);
    EXPECT_EQ(run.messages,
              std::vector<std::string>{"S7:  No Communication with scanner.  Press <ENTER>."});
    EXPECT_EQ(received(*sim), resetBytes);
    EXPECT_GE(run.seconds, 15.5);
    EXPECT_LT(run.seconds, 25.0);
}
