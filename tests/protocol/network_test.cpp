// The network link: the port reached with and without -p, services entries,
// the connect guard, the communication test, and a scanner behind a real
// terminal server.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "support/lines.h"
#include "support/scanner.h"

using namespace support;

namespace {

const std::string connected = "Connected to remote host 127.0.0.1.";
const std::string testFailed = "Network scanner communication test failed.  Press <ENTER>.";

// Two scanners: one on a port and one on that port with its bytes
// exchanged, where -p and its absence lead.
struct PortPair {
    int port = 0;
    Sim named;
    Sim exchanged;
};

bool startPair(PortPair &pair, bool both)
{
    std::mt19937 random(static_cast<unsigned>(getpid()));
    for (int attempt = 0; attempt < 50; attempt++) {
        int port = static_cast<int>(random() % (65536 - 1024)) + 1024;
        if ((port & 0xff) < 4 || swapped(port) == port || listening(swapped(port)))
            continue;
        Sim named = tryTcpScanner({}, port);
        if (!named)
            continue;
        Sim exchanged;
        if (both && !(exchanged = tryTcpScanner({}, swapped(port))))
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
    RunOptions options = markfeedIn(dir, args, RunOptions::File);
    options.command.insert(options.command.begin(),
                           {"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                            "mount --bind \"$0\" /etc/services && exec \"$@\"",
                            dir.file("services")});
    Process station(options);
    return finish(station, dir);
}

bool privateMountsWork()
{
    return std::system(
               "unshare -m /bin/sh -c 'mount --bind /dev/null /etc/services' >/dev/null 2>&1") == 0;
}

}  // namespace

TEST(NetworkLink, PortNumberInNetworkOrderWithPAndAsWrittenWithout)
{
    PortPair pair;
    ASSERT_TRUE(startPair(pair, false));
    std::string port = std::to_string(pair.port);

    Result run = runStation(netArgs({"-u", port, "-p", "-r"}));
    EXPECT_TRUE(ended(run, 0, {connected}));
    EXPECT_EQ(received(*pair.named), resetBytes + "s3");

    // A port number ends at its first non-digit.
    run = runStation(netArgs({"-u", port + "x", "-p", "-r"}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(received(*pair.named), resetBytes + "s3" + resetBytes + "s3");

    // Without -p the bytes are exchanged, where nothing listens yet.
    run = runStation(netArgs({"-u", port, "-r"}));
    EXPECT_TRUE(ended(
        run, 88, {"S15:  Connection refused on 127.0.0.1 port " + port + ".  Press <ENTER>."}));

    pair.exchanged = tryTcpScanner({}, swapped(pair.port));
    ASSERT_TRUE(pair.exchanged) << "port " << swapped(pair.port) << " taken";
    run = runStation(netArgs({"-u", port, "-r"}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(received(*pair.exchanged), resetBytes + "s3");
    EXPECT_EQ(countFrames(pair.named->frames(), "Status s3"), 2);
}

TEST(NetworkLink, ServiceNameFromTheServicesFile)
{
    if (!privateMountsWork())
        GTEST_SKIP() << "no private mount namespace here (needs root)";
    PortPair pair;
    ASSERT_TRUE(startPair(pair, true));
    const std::string services = "# scanners\nscanner " + std::to_string(pair.port + 1) +
                                 "/udp\nsheetsrv " + std::to_string(pair.port) + "/tcp\n";

    {
        SCOPED_TRACE("no entry for the default service");
        Result run = runWithServices("scanner 9100/tcp\n", netArgs({"-r"}));
        EXPECT_TRUE(ended(run, 88,
                          {"S14:  Entry sheetsrv missing in /etc/services file.  Press <ENTER>."}));
    }
    {
        SCOPED_TRACE("named service with a udp entry only");
        Result run = runWithServices(services, netArgs({"-u", "scanner", "-r"}));
        EXPECT_TRUE(
            ended(run, 88, {"S14:  Entry scanner missing in /etc/services file.  Press <ENTER>."}));
    }
    {
        SCOPED_TRACE("default service with -p: the entry's port");
        Result run = runWithServices(services, netArgs({"-p", "-s"}));
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.messages,
                  (Strings{connected, "Scanner on /net/127.0.0.1 communicating on port sheetsrv.  "
                                      "Press <ENTER>."}));
        EXPECT_EQ(run.data, "sheetsrv\r\n");
        EXPECT_EQ(frameList(pair.named->frames()),
                  (Strings{"Status s0", "Status s1", "Status s3"}));
    }
    {
        SCOPED_TRACE("default service without -p: its bytes exchanged");
        Result run = runWithServices(services, netArgs({"-r"}));
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(received(*pair.exchanged), resetBytes + "s3");
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
    Sim sim = startScanner([] {
        scannersim::Options options;
        options.transport = scannersim::Transport::Tcp;
        return options;
    }());
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
        std::string failure;  // the trace line of the failed answer
    } cases[] = {
        {"no answer", {"-w", "-4"}, "", "", "s0", "\nReadrecord failed:  "},
        {"short status of two", {}, fits, "00\r\n", "s0s1", "\nReadrecord failed:  00"},
        {"long status cut to the buffer",
         {},
         sixty + "\r\n",
         "",
         "s0",
         "\nReadrecord failed:  " + sixty.substr(0, 52)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line(ScriptedLine::Tcp);
        line.on("s0", {c.longAnswer});
        line.on("s1", {c.shortAnswer});
        line.start();

        Result run = runStation(
            netArgs(concat({"-s", "-u", std::to_string(line.port()), "-p", "-x"}, c.args)));
        EXPECT_TRUE(ended(run, 88, {connected, testFailed}));
        EXPECT_EQ(run.data, "");
        EXPECT_EQ(line.received(), c.requests);
        EXPECT_TRUE(has(run.trace, c.failure + "\nShowmsg:  " + testFailed));
    }

    SCOPED_TRACE("answers garbled by a line set up wrong");
    scannersim::Options options;
    options.transport = scannersim::Transport::Tcp;
    TempDir dir;
    writeFile(dir.file("line"), "9600 8 N 1\n");
    options.lineFile = dir.file("line");
    Sim sim = startScanner(options);
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
