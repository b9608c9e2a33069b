// The serial link: the line settings the device is asked for and gets back
// at the end, open failures, the open guard, and a scanner that hangs up;
// status answers and records from a scripted line: answers of the wrong
// length or none at all, and the bytes a record is pieced together from; the
// network link: the port reached with and without -p in this host's byte
// order, services entries, the connect guard, the communication test, and a
// scanner behind a real terminal server.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>

#include "tests/support/lines.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

// 38400 baud, 8 bits, even parity, one stop bit.
const std::string fileLine = cfgText({{26, 38400}, {27, 8}, {28, 1}, {29, 1}});
// 0 and unknown values keep what the device has: the scanner's own.
const std::string unknownLine = cfgText({{26, 0}, {27, 0}, {28, 4}, {29, 3}});

TEST(SerialLink, LineSettingsAskedOfTheDeviceAndDumpedInTheTrace)
{
    struct Case {
        std::string name;
        Strings args;
        std::string cfg;
        bool recorder;        // the scanner judges size and parity too
        std::string scanner;  // its own line: its answers are garbled unless the host matches
        int status;
        std::string seen;  // what the scanner saw asked ("": its own)
        std::string dump;  // the settings in the trace ("": those seen)
    } cases[] = {
        {"built-in", {}, "", true, "19200:7O2", 0, "", ""},
        {"-b 9600:8N1", {"-b", "9600:8N1"}, "", true, "9600:8N1", 0, "", ""},
        {"any other speed and size", {"-b", "2400:6E1"}, "", true, "9600:8E1", 0, "", ""},
        {"speed only", {"-b", "38400"}, "", true, "38400:7O2", 0, "", ""},
        {"configuration file", {}, fileLine, true, "38400:8E1", 0, "", ""},
        {"option over the file", {"-b", "9600:7N2"}, fileLine, true, "9600:7N2", 0, "", ""},
        {"device's own kept", {}, unknownLine, true, "38400:8N1", 0, "", ""},
        {"device's size", {"-b", "38400"}, "", false, "38400:7O2", 0, "38400:8N2", "38400:7O2"},
        {"scanner on another line", {}, "", true, "9600:8N1", 99, "19200:7O2", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        scannersim::Options options;
        ASSERT_TRUE(scannersim::parseLineSpec(c.scanner, &options.line));
        if (c.recorder)
            options.lineFile = dir.file("line");
        Sim sim = startScanner(options);
        auto env = c.recorder ? recordLine(options.lineFile, sim.device)
                              : std::map<std::string, std::string>();
        if (!c.cfg.empty())
            writeFile(dir.file("d_" + portName(sim.device) + ".cfg"), c.cfg);

        Result run = runStation(dir, concat({"-d", sim.device, "-r", "-x"}, c.args), env);
        EXPECT_EQ(run.status, c.status) << run.errors;
        scannersim::LineSettings seen;
        ASSERT_TRUE(sim->lineSeen(&seen));
        std::string asked = c.seen.empty() ? c.scanner : c.seen;
        EXPECT_EQ(scannersim::formatLine(seen), asked);
        EXPECT_EQ(dumpAfter(run.trace, portHeading), dumpOf(c.dump.empty() ? asked : c.dump));
    }
}

// The device's own settings come back at the end, also when a signal cuts
// short the call that gives them back (the second on the device).
TEST(SerialLink, DeviceGetsItsOwnSettingsBackAtTheEnd)
{
    for (const char *interrupted : {"", "2"}) {
        SCOPED_TRACE(interrupted);
        TempDir dir;
        ScriptedLine line(ScriptedLine::Pty, {{"s3", {"0000\r\n"}}}, ScriptedLine::Signals);
        auto env = recordLine(dir.file("line"), line.device());
        env["SCANNERSIM_LINE_INTERRUPT"] = interrupted;

        Result run = runStation({"-d", line.device(), "-b", "9600:8E1", "-r", "-x"}, env);
        EXPECT_EQ(run.status, 0) << run.errors;
        struct termios after;
        ASSERT_EQ(tcgetattr(line.slave(), &after), 0);
        EXPECT_EQ(cfgetospeed(&after), speed_t(B19200));
        EXPECT_TRUE(after.c_cflag & CSTOPB);
        EXPECT_TRUE(after.c_lflag & ISIG);
        EXPECT_FALSE(after.c_lflag & NOFLSH);
        EXPECT_EQ(dumpAfter(run.trace, portHeading), dumpOf("9600:8E1"));
        EXPECT_EQ(dumpAfter(run.trace, resetHeading), dumpOf("19200:8N2"));
    }
}

// Bytes waiting on the line before the run: one is thrown away, any more
// are read as the start of the first answer.
TEST(SerialLink, PendingInputLosesOneByteBeforeTheReset)
{
    struct Case {
        std::string pending;
        int status;
        Strings messages;
    } cases[] = {
        {"X", 0, {}},
        {"XY", 99, {"S6:  No communication with scanner.  Press <ENTER>."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pending);
        ScriptedLine line(ScriptedLine::Pty);
        line.greet(c.pending);
        line.on("s3", {"0000\r\n"});
        line.start();

        Result run = runStation({"-d", line.device(), "-r"});
        EXPECT_TRUE(ended(run, c.status, c.messages));
        EXPECT_EQ(line.received(), resetBytes + "s3");
    }
}

TEST(SerialLink, DeviceThatCannotBeOpenedOrIsNoTerminal)
{
    std::string missing = devicePath();
    ASSERT_EQ(symlink("/tmp/no-such-scanner-line", missing.c_str()), 0);
    Result run = runStation({"-d", missing});
    unlink(missing.c_str());
    EXPECT_TRUE(ended(run, 88, {"S21:  Unable to open device " + missing + ".  Press <ENTER>."}));
    run = runStation({"-d", "/dev/null"});
    EXPECT_TRUE(
        ended(run, 88, {"S22:  Could not get term settings on /dev/null [25].  Press <ENTER>."}));
}

TEST(SerialLink, OpenThatHangsIsGivenUpAfterFourSeconds)
{
    std::string device = devicePath();
    auto env = preload(Preload::BlockOpen);
    env["BLOCKOPEN_PATH"] = device;

    Result run = runStation({"-d", device, "-x"}, env);
    EXPECT_TRUE(ended(run, 88, {"S12:  Connection to scanner timed out.  Press <ENTER>."}));
    EXPECT_GE(run.seconds, 3.5);
    EXPECT_LT(run.seconds, 7.0);
    EXPECT_TRUE(has(run.trace, "\n\nPROGRAM TERMINATED.  RETURN VALUE = 88."));
}

const char emptyPrompt[] = "Scanner hopper empty.  Load forms or <ESCAPE> to quit.";

// One serial device reached under two names (two links, or two station
// directories) is still one scanner: the second run is refused as for a
// busy scanner before it touches a file, in a station directory of its own
// or in the first run's with another data output file, and the first goes
// on.
TEST(SerialLink, OneDeviceUnderTwoNamesServesOneRunAtATime)
{
    const char s46[] = "S46:  Scanner currently in use.  Press <ENTER>.";
    // A line the host has not imported yet, and a trace worth keeping.
    const std::string line = "0001 accepted sheet\r\n", kept = "\nFunction call to DlScan().";
    Sim sim = startScanner({});
    OtherName other(sim.device);
    TempDir dir;
    Process first(markfeedIn(dir, {"-d", sim.device, "-x"}));
    ASSERT_TRUE(shows(first, emptyPrompt));
    {
        SCOPED_TRACE("a station directory of its own");
        TempDir own;
        writeFile(own.file("SCAN.DAT"), line);
        writeFile(own.file("scantest.log"), kept);
        Result second = runStation(own, {"-d", other.path(), "-x"});
        EXPECT_TRUE(ended(second, 88, {s46}));
        EXPECT_EQ(readFile(own.file("SCAN.DAT")), line);
        EXPECT_EQ(second.trace, kept);
    }
    {
        SCOPED_TRACE("the first run's directory, another data output file");
        // As if the first run had written it: the second must not empty it.
        writeFile(dir.file("scantest.log"), kept);
        Result second = runStation(dir, {"-d", other.path(), "-o", "other.dat"});
        EXPECT_TRUE(ended(second, 88, {s46}));
        EXPECT_EQ(readFile(dir.file("scantest.log")), kept);
    }
    EXPECT_TRUE(first.running());
    first.type("\x1b");
    EXPECT_EQ(first.wait(10), 99);
}

// The largest delay an administrator can give keeps every wait long
// instead of turning it negative.
TEST(SerialLink, LargestDelayStillWaits)
{
    Sim sim = startScanner({});
    Result run = runStation({"-d", sim.device, "-w", "2147483647", "-r"});
    EXPECT_TRUE(ended(run, 0, {}));
}

// Started by the host in a session of its own without a terminal, the
// station must not take the scanner line as its controlling terminal: a
// hang-up would kill it. Reads then fail a second apart until the answer's
// deadline (its 5-second wait and a little line time), and the status
// request ends the run.
TEST(SerialLink, ScannerHangingUpEndsTheRunAtTheAnswersDeadline)
{
    scannersim::Options options;
    options.dropAfter = long(resetBytes.size());  // right after the reset
    Sim sim = startScanner(options);

    Result run = runStation({"-d", sim.device, "-r"});
    EXPECT_TRUE(ended(run, 99, {"S7:  No Communication with scanner.  Press <ENTER>."}));
    EXPECT_EQ(received(*sim), resetBytes);
    EXPECT_GE(run.seconds, 4.5);
    EXPECT_LT(run.seconds, 9.0);
}

const std::string idle = "0000\r\n";

// A run-length group: the count byte, then the byte repeated.
std::string group(int count, char byte = '0')
{
    return std::string("\x15") + static_cast<char>(count) + byte;
}

TEST(StatusAnswers, WrongLengthOrNoAnswerEndsTheRunWith99)
{
    const std::string s6 = "S6:  No communication with scanner.  Press <ENTER>.";
    const std::string s7 = "S7:  No Communication with scanner.  Press <ENTER>.";
    struct Case {
        std::string name;
        Strings args;
        std::string idleAnswer;  // to the download status request
        std::string longAnswer;  // to the long status request
        std::string requests;    // after the reset sequence
        std::string message;
    } cases[] = {
        {"short download status", {"-r"}, "000\r\n", "", "s3", s6},
        {"long download status", {"-r"}, "00000\r\n", "", "s3", s6},
        {"no download status", {"-r", "-w", "-3"}, "", "", "s3", s7},
        {"long status of 49", {}, idle, longStatus('w', 'A', {}, 49) + "\r\n", "s3s0", s6},
        {"long status of 51", {}, idle, longStatus('w', 'A', {}, 51) + "\r\n", "s3s0", s6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line(ScriptedLine::Pty, {{"s3", {c.idleAnswer}}, {"s0", {c.longAnswer}}});
        Result run = runStation(concat({"-d", line.device(), "-x"}, c.args));
        EXPECT_TRUE(ended(run, 99, {c.message}));
        EXPECT_EQ(line.received(), resetBytes + c.requests);
        EXPECT_TRUE(has(run.trace, "\nShowmsg:  " + c.message +
                                       "\n\nResetting Scanner Port To Default Settings"));
        EXPECT_TRUE(endsWith(run.trace, "\n\nPROGRAM TERMINATED.  RETURN VALUE = "
                                        "99.\n=======================================\n"));
        if (c.message == s7) {
            // -w -3 makes the five-second wait for a character two seconds.
            EXPECT_GE(run.seconds, 2.0);
            EXPECT_LT(run.seconds, 4.5);
        }
    }
}

TEST(ScannerRecords, AnswerIsPiecedTogetherFromTheBytesAsReceived)
{
    struct Case {
        std::string name;
        std::string answer;  // to the download status request
        std::string record;  // as the station read it
    } cases[] = {
        {"leading line feed skipped", "\n0000\r\n", "0000"},
        {"carriage return and the byte after it dropped", "00\rX00\r\n", "0000"},
        {"run-length group", group(0x44) + "\r\n", "0000"},
        {"group of three in the middle", "0" + group(3) + "\r\n", "0000"},
        {"group of none", "0\x15\x40Z000\r\n", "0000"},
        {"control byte in a group is data", "\x15\x01\r000\r\n", "\r000"},
        {"top bit cleared", "\xb0\xb0\xb0\xb0\x8d\x8a", "0000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line(ScriptedLine::Tcp, {{"s3", {c.answer}}});

        Result run = runStation(
            {"-d", "/net/127.0.0.1", "-u", std::to_string(line.port()), "-p", "-r", "-x"});
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_TRUE(endsWith(run.trace, traceCalls({"getstatus(s3)", "readrecord()"}) +
                                            "\nReadrecord OK:  " + c.record));
    }
}

// A serial port starts with signal characters on; the station must turn
// them off, or the line swallows run-length counts of 3, 26 and 28.
TEST(ScannerRecords, ControlBytesAsRunLengthCountsSurviveTheSerialLine)
{
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Signals);
    line.on("s3", {"0" + group(3) + "\r\n"});
    const std::string thirteen = group(13) + "w0\r\n";  // wait mode
    line.on("s0", {group(28) + std::string(6, '0') + "N" + thirteen,
                   group(26) + std::string(8, '0') + "N" + thirteen,
                   std::string(34, '0') + "N" + std::string(13, '0') + "d0\r\n"});
    line.on("\x11", {"E\r\n"});
    line.start();

    Result run = runStation({"-d", line.device()});
    EXPECT_TRUE(ended(run, 88, {"S26:  Scanner Initialization failed [E].  Press <ENTER>."}));
    EXPECT_EQ(line.received(), resetBytes + "s3s0s0ed\x04\r\ns0\x11");
}

const std::string connected = "Connected to remote host 127.0.0.1.";
const std::string testFailed = "Network scanner communication test failed.  Press <ENTER>.";

// Two scanners: one on a port and one on that port with its bytes
// exchanged, where -p and its absence lead.
struct PortPair {
    int port = 0;
    Sim named;
    Sim exchanged;
};

bool startPair(PortPair &pair)
{
    std::mt19937 random(static_cast<unsigned>(getpid()));
    for (int attempt = 0; attempt < 50; attempt++) {
        int port = static_cast<int>(random() % (65536 - 1024)) + 1024;
        if ((port & 0xff) < 4 || swapped(port) == port || listening(swapped(port)))
            continue;
        Sim named = tryTcpScanner({}, port);
        if (!named)
            continue;
        Sim exchanged = tryTcpScanner({}, swapped(port));
        if (!exchanged)
            continue;
        pair.port = port;
        pair.named = std::move(named);
        pair.exchanged = std::move(exchanged);
        return true;
    }
    return false;
}

Strings netArgs(const Strings &more)
{
    return concat({"-d", "/net/127.0.0.1"}, more);
}

// markfeed with its own /etc/services, in a mount namespace of its own, so
// that the machine's file is never touched.
Result runWithServices(const std::string &services, const Strings &args)
{
    TempDir dir;
    writeFile(dir.file("services"), services);
    Process station(inMountNamespace(markfeedIn(dir, args, RunOptions::File),
                                     "mount --bind \"$0\" /etc/services && exec \"$@\"",
                                     dir.file("services")));
    return finish(station, dir);
}

bool privateMountsWork()
{
    return canMount("mount --bind /dev/null /etc/services");
}

// The scanner of the pair that a port number reaches without -p.
Sim &scannerWithoutP(PortPair &pair)
{
    return reachedWithoutP(pair.port) == pair.port ? pair.named : pair.exchanged;
}

// One of the pair received the bytes of a -r run, the other nothing.
void expectReached(const PortPair &pair, const Sim &reached)
{
    const Sim &other = &reached == &pair.named ? pair.exchanged : pair.named;
    EXPECT_EQ(received(*reached), resetBytes + "s3");
    EXPECT_EQ(received(*other), "");
}

TEST(NetworkLink, PortNumberInNetworkOrderWithPAndInTheHostsOrderWithout)
{
    struct Case {
        std::string name;
        std::string suffix;  // after the port number
        bool p;
    } cases[] = {
        {"-p", "", true},
        {"a port number ends at its first non-digit", "x", true},
        {"without -p", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PortPair pair;
        ASSERT_TRUE(startPair(pair));
        Strings args = {"-u", std::to_string(pair.port) + c.suffix, "-r"};
        Result run = runStation(netArgs(c.p ? concat(args, {"-p"}) : args));
        EXPECT_TRUE(ended(run, 0, {connected}));
        expectReached(pair, c.p ? pair.named : scannerWithoutP(pair));
    }

    SCOPED_TRACE("nothing listens where the number leads");
    std::string port = std::to_string(freePort());
    ASSERT_FALSE(listening(reachedWithoutP(std::stoi(port))));
    Result run = runStation(netArgs({"-u", port, "-r"}));
    EXPECT_TRUE(ended(
        run, 88, {"S15:  Connection refused on 127.0.0.1 port " + port + ".  Press <ENTER>."}));
}

// A status request after a print frame must not wait for the frame's
// acknowledgement: the connection is made without Nagle's delay. The
// option is read back from markfeed's own socket.
TEST(NetworkLink, ConnectionIsMadeWithoutNagleDelay)
{
    Sim sim = tryTcpScanner({}, 0);
    ASSERT_TRUE(sim);
    TempDir dir;
    Process station(
        markfeedIn(dir, netArgs({"-u", std::to_string(sim->port()), "-p"}), RunOptions::File));
    ASSERT_TRUE(shows(station, emptyPrompt));
    int process = int(syscall(SYS_pidfd_open, station.pid(), 0));
    ASSERT_GE(process, 0) << strerror(errno);
    int found = 0, nodelay = 0;
    for (int fd = 3; fd < 64 && !found; fd++) {
        int copy = int(syscall(SYS_pidfd_getfd, process, fd, 0));
        socklen_t size = sizeof nodelay;
        if (copy < 0)
            continue;
        found = getsockopt(copy, IPPROTO_TCP, TCP_NODELAY, &nodelay, &size) == 0;
        close(copy);
    }
    close(process);
    ASSERT_EQ(found, 1) << "markfeed's TCP socket";
    EXPECT_EQ(nodelay, 1);
    station.kill(SIGTERM);
    EXPECT_EQ(station.wait(10), 99);
}

// A line that drips a byte a second and never ends the answer: each byte
// comes in time, but an answer has a deadline as a whole (its 5-second wait
// and twice a full buffer's time at 9600 baud), and the status request then
// ends the run as a missing answer does.
TEST(NetworkLink, AnswerThatNeverEndsIsGivenUpAtItsDeadline)
{
    ScriptedLine line(ScriptedLine::Tcp);
    line.start();
    TempDir dir;
    Process station(
        markfeedIn(dir, netArgs({"-u", std::to_string(line.port()), "-p"}), RunOptions::File));
    Timer dripping;
    while (station.running() && dripping.seconds() < 20) {
        line.send("0");
        station.idle(1);
    }
    Result run = finish(station, dir, 1);
    EXPECT_TRUE(ended(run, 99,
                      {"Connected to remote host 127.0.0.1.",
                       "S7:  No Communication with scanner.  Press <ENTER>."}));
    EXPECT_LT(dripping.seconds(), 9) << "still reading the answer";
}

TEST(NetworkLink, ServiceNameFromTheServicesFile)
{
    if (!privateMountsWork())
        GTEST_SKIP() << "cannot mount over /etc/services in a private mount namespace "
                        "(needs root, and the file itself, from netbase)";
    auto servicesOf = [](const PortPair &pair) {
        return "# scanners\nscanner " + std::to_string(pair.port + 1) + "/udp\nsheetsrv " +
               std::to_string(pair.port) + "/tcp\n";
    };
    PortPair pair;
    ASSERT_TRUE(startPair(pair));

    {
        SCOPED_TRACE("no entry for the default service");
        Result run = runWithServices("scanner 9100/tcp\n", netArgs({"-r"}));
        EXPECT_TRUE(ended(run, 88,
                          {"S14:  Entry sheetsrv missing in /etc/services file.  Press <ENTER>."}));
    }
    {
        SCOPED_TRACE("named service with a udp entry only");
        Result run = runWithServices(servicesOf(pair), netArgs({"-u", "scanner", "-r"}));
        EXPECT_TRUE(
            ended(run, 88, {"S14:  Entry scanner missing in /etc/services file.  Press <ENTER>."}));
    }
    {
        SCOPED_TRACE("default service with -p: the entry's port");
        Result run = runWithServices(servicesOf(pair), netArgs({"-p", "-s"}));
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.messages,
                  (Strings{connected, "Scanner on /net/127.0.0.1 communicating on port sheetsrv.  "
                                      "Press <ENTER>."}));
        EXPECT_EQ(run.data, "sheetsrv\r\n");
        EXPECT_EQ(frameList(pair.named->frames()),
                  (Strings{"Status s0", "Status s1", "Status s3"}));
        EXPECT_EQ(received(*pair.exchanged), "");
    }
    {
        SCOPED_TRACE("default service without -p: the entry's port in the host's order");
        PortPair fresh;
        ASSERT_TRUE(startPair(fresh));
        Result run = runWithServices(servicesOf(fresh), netArgs({"-r"}));
        EXPECT_EQ(run.status, 0) << run.errors;
        expectReached(fresh, scannerWithoutP(fresh));
    }
}

TEST(NetworkLink, ConnectThatHangsIsGivenUpAfterFourSeconds)
{
    // A listener that never accepts: once its queue is full, connects hang.
    int port = 0;
    int listener = listenLoopback(0, &port);
    ASSERT_GE(listener, 0);
    std::vector<int> queued;
    for (int i = 0; i < 8; i++) {
        int s = connectLoopback(port, SOCK_NONBLOCK);
        struct pollfd writable = {s, POLLOUT, 0};
        queued.push_back(s);
        if (s < 0 || poll(&writable, 1, 300) != 1)
            break;
    }

    Result run = runStation(netArgs({"-u", std::to_string(port), "-p", "-x"}));
    EXPECT_TRUE(ended(run, 88, {"S12:  Connection to scanner timed out.  Press <ENTER>."}));
    EXPECT_GE(run.seconds, 3.5);
    EXPECT_LT(run.seconds, 7.0);
    for (int s : queued)
        close(s);
    close(listener);
}

TEST(NetworkLink, CommunicationTestWritesTheServiceWhenAllThreeAnswersFit)
{
    Sim sim = tryTcpScanner({}, 0);
    ASSERT_TRUE(sim);
    std::string port = std::to_string(sim->port());
    TempDir dir;
    writeFile(dir.file("SCAN.DAT"), "last batch\r\n");

    Result run = runStation(dir, netArgs({"-s", "-u", port, "-p", "-x"}));
    EXPECT_TRUE(ended(run, 0,
                      {connected, "Scanner on /net/127.0.0.1 communicating on port " + port +
                                      ".  Press <ENTER>."}));
    EXPECT_EQ(run.data, port + "\r\n");
    EXPECT_EQ(frameList(sim->frames()), (Strings{"Status s0", "Status s1", "Status s3"}));
    EXPECT_TRUE(has(run.trace, traceCalls({"testparity()", "quickstatus(s0)", "readrecord()"}) +
                                   "\nReadrecord OK:  "));
    EXPECT_FALSE(has(run.trace, "PROGRAM TERMINATED"));
}

TEST(NetworkLink, CommunicationTestFailsAtTheFirstAnswerThatDoesNotFit)
{
    const std::string fits = std::string(50, '0') + "\r\n";
    const std::string sixty = std::string(30, 'A') + std::string(30, 'B');
    struct Case {
        std::string name;
        Strings args;
        std::string longAnswer, shortAnswer;
        std::string requests;
        std::string failure;  // the record of the failed answer in the trace
    } cases[] = {
        {"no answer", {"-w", "-4"}, "", "", "s0", ""},
        {"short status of two", {}, fits, "00\r\n", "s0s1", "00"},
        {"long status cut to the buffer", {}, sixty + "\r\n", "", "s0", sixty.substr(0, 52)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line(ScriptedLine::Tcp, {{"s0", {c.longAnswer}}, {"s1", {c.shortAnswer}}});

        Result run = runStation(
            netArgs(concat({"-s", "-u", std::to_string(line.port()), "-p", "-x"}, c.args)));
        EXPECT_TRUE(ended(run, 88, {connected, testFailed}));
        EXPECT_EQ(run.data, "");
        EXPECT_EQ(line.received(), c.requests);
        EXPECT_TRUE(
            has(run.trace, "\nReadrecord failed:  " + c.failure + "\nShowmsg:  " + testFailed));
    }

    SCOPED_TRACE("answers garbled by a line set up wrong");
    TempDir dir;
    writeFile(dir.file("line"), "9600 8 N 1\n");
    Sim sim = tryTcpScanner(
        optionsWith([&](scannersim::Options &o) { o.lineFile = dir.file("line"); }), 0);
    ASSERT_TRUE(sim);
    Result run = runStation(dir, netArgs({"-s", "-u", std::to_string(sim->port()), "-p"}));
    EXPECT_TRUE(ended(run, 88, {connected, testFailed}));
    EXPECT_EQ(frameList(sim->frames()), Strings{"Status s0"});
}

TEST(NetworkLink, ScannerBehindATerminalServer)
{
    if (access(SER2NET, X_OK) != 0)
        GTEST_SKIP() << "ser2net is not installed";
    Sim sim = startScanner({});
    TempDir dir;
    int port = freePort();
    writeFile(dir.file("ser2net.yaml"), "connection: &scanner\n  accepter: tcp,127.0.0.1," +
                                            std::to_string(port) + "\n  connector: serialdev," +
                                            sim.device + ",19200o72,local\n");
    RunOptions server = withInput(RunOptions::File);
    server.command = {
        SER2NET, "-n", "-u", "-P", dir.file("ser2net.pid"), "-c", dir.file("ser2net.yaml")};
    Process ser2net(server);
    ASSERT_TRUE(ser2net.until([&] { return listening(port); }, 5)) << ser2net.errors();

    std::string service = std::to_string(port);
    Result run = runStation(dir, netArgs({"-u", service, "-p", "-r"}));
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.messages, Strings{connected});
    EXPECT_EQ(received(*sim), resetBytes + "s3");

    // The terminal server opens the line anew for the next client.
    run = runStation(dir, netArgs({"-s", "-u", service, "-p"}));
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.data, service + "\r\n");
    EXPECT_EQ(received(*sim), resetBytes + "s3s0s1s3");
    scannersim::LineSettings seen;
    ASSERT_TRUE(sim->lineSeen(&seen));
    EXPECT_EQ(seen.baud, 19200);
    EXPECT_EQ(seen.stops, 2);
}

}  // namespace
