// Where a run puts its files, what it leaves in them, and what the operator
// sees when one of them cannot be opened.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "startup_support.h"
#include "station.h"

using namespace harness;
using startup::filePaths;
using startup::quickRun;

namespace {

const char device[] = "/dev/tty1a";

TEST(Paths, WholeTraceOfARunWhoseDeviceCannotBeOpened)
{
    TempDir dir;
    auto run = quickRun(dir, {"-x", "-d", device});
    EXPECT_EQ(run.status, 88);
    // The never-opened port's settings are all zero: no speed line at all.
    EXPECT_EQ(run.trace, "\nFILE PATHS"
                         "\n=========="
                         "\nScanner device     = /dev/tty1a"
                         "\nCfg config file    = d_tty1a.cfg"
                         "\nSemifore lock file = LOCK_tty1a"
                         "\nData output file   = SCAN.DAT"
                         "\nDebug file         = scantest.log"
                         "\n"
                         "\nOpening device using DlOpenComm."
                         "\nFunction call to DlOpenComm()."
                         "\nShowmsg:  S21:  Unable to open device /dev/tty1a.  Press <ENTER>."
                         "\n\nResetting Scanner Port To Default Settings"
                         "\n=========================================="
                         "\nSIZE: ?"
                         "\nPARITY: None"
                         "\nSTOPS: 1"
                         "\n"
                         "\n\nPROGRAM TERMINATED.  RETURN VALUE = 88."
                         "\n=======================================\n");
    EXPECT_EQ(readFile(dir.file("LOCK_tty1a")), "lock");
    EXPECT_TRUE(fileExists(dir.file("SCAN.DAT")));
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
}

TEST(Paths, DirectoryWithAndWithoutTrailingSlash)
{
    for (std::string slash : {"", "/"}) {
        TempDir dir;
        std::string data = dir.file("data");
        ASSERT_EQ(mkdir(data.c_str(), 0777), 0);
        auto run = quickRun(dir, {"-x", "-d", device, "-l", data + slash, "-f", "demo"});
        EXPECT_EQ(run.status, 88);
        std::string trace = readFile(data + "/scantest.log");
        EXPECT_EQ(filePaths(trace), "\nFILE PATHS"
                                    "\n=========="
                                    "\nScanner device     = /dev/tty1a"
                                    "\nCfg config file    = " +
                                        data +
                                        "/d_tty1a.cfg"
                                        "\nSemifore lock file = " +
                                        data +
                                        "/LOCK_tty1a"
                                        "\nData output file   = " +
                                        data +
                                        "/SCAN.DAT"
                                        "\nDownload file      = " +
                                        data +
                                        "/demo.dlf"
                                        "\nRuntime file       = " +
                                        data +
                                        "/demo.rtp"
                                        "\nDebug file         = " +
                                        data +
                                        "/scantest.log"
                                        "\n");
        EXPECT_EQ(readFile(data + "/LOCK_tty1a"), "lock");
        EXPECT_TRUE(fileExists(data + "/SCAN.DAT"));
        EXPECT_FALSE(fileExists(dir.file("scantest.log")));
        EXPECT_FALSE(fileExists(dir.file("SCAN.DAT")));
        EXPECT_FALSE(fileExists(dir.file("LOCK_tty1a")));
    }
}

TEST(Paths, OutputNameIsTakenExactlyAsWritten)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("data").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0777), 0);
    auto run = quickRun(dir, {"-x", "-l", "data", "-o", "out/batch.dat", "-d", device});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(fileExists(dir.file("out/batch.dat")));
    EXPECT_FALSE(fileExists(dir.file("data/out/batch.dat")));
    EXPECT_FALSE(fileExists(dir.file("data/SCAN.DAT")));
    std::string trace = readFile(dir.file("data/scantest.log"));
    EXPECT_NE(trace.find("\nData output file   = out/batch.dat\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("\nDebug file         = data/scantest.log\n"), std::string::npos) << trace;
}

TEST(Paths, ServiceIsPartOfTheLockNameOnly)
{
    TempDir dir;
    auto run = quickRun(dir, {"-x", "-d", device, "-u", "9100"});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(filePaths(run.trace), "\nFILE PATHS"
                                    "\n=========="
                                    "\nScanner device     = /dev/tty1a"
                                    "\nCfg config file    = d_tty1a.cfg"
                                    "\nSemifore lock file = LOCK_tty1a_9100"
                                    "\nData output file   = SCAN.DAT"
                                    "\nDebug file         = scantest.log"
                                    "\n");
    EXPECT_EQ(readFile(dir.file("LOCK_tty1a_9100")), "lock");
    EXPECT_FALSE(fileExists(dir.file("LOCK_tty1a")));
}

// A loopback port that nobody listens on.
int closedPort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return -1;
    close(s);
    return ntohs(address.sin_port);
}

TEST(Paths, NetworkScannerLocksPerHostAndServiceAndGetsNoTerminationBanner)
{
    TempDir dir;
    int port = closedPort();
    ASSERT_GT(port, 0);
    std::string service = std::to_string(port);
    // -p: the port number goes into the address in network byte order.
    auto run = quickRun(dir, {"-x", "-p", "-d", "/net/127.0.0.1", "-u", service});
    EXPECT_EQ(run.status, 88);
    std::string refused =
        "S15:  Connection refused on 127.0.0.1 port " + service + ".  Press <ENTER>.";
    EXPECT_EQ(messages(run.errors), std::vector<std::string>{refused});
    EXPECT_EQ(filePaths(run.trace), "\nFILE PATHS"
                                    "\n=========="
                                    "\nScanner device     = /net/127.0.0.1"
                                    "\nCfg config file    = d_127.0.0.1.cfg"
                                    "\nSemifore lock file = LOCK_127.0.0.1_" +
                                        service +
                                        "\nData output file   = SCAN.DAT"
                                        "\nDebug file         = scantest.log"
                                        "\n");
    EXPECT_EQ(readFile(dir.file("LOCK_127.0.0.1_" + service)), "lock");
    // Nothing to restore on a network link, and so no banner.
    const std::string last = "\nShowmsg:  " + refused;
    ASSERT_GE(run.trace.size(), last.size());
    EXPECT_EQ(run.trace.substr(run.trace.size() - last.size()), last);
    EXPECT_EQ(run.trace.find("PROGRAM TERMINATED"), std::string::npos);
}

TEST(Paths, TraceIsEmptiedOnEveryRunAndStaysEmptyWithoutX)
{
    TempDir dir;
    writeFile(dir.file("scantest.log"), "trace of an earlier batch\n");
    auto run = quickRun(dir, {"-d", device});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(fileExists(dir.file("scantest.log")));
    EXPECT_EQ(run.trace, "");

    writeFile(dir.file("scantest.log"), "trace of an earlier batch\n");
    run = quickRun(dir, {"-x", "-d", device});
    EXPECT_EQ(run.trace.find("earlier batch"), std::string::npos);
    EXPECT_EQ(run.trace.rfind("\nFILE PATHS", 0), 0u);
}

TEST(Paths, EveryRunWithArgumentsEmptiesTheDataOutputFile)
{
    const std::vector<std::vector<std::string>> runs = {
        {"-d", device},       {"-q"},
        {"-r", "-d", device}, {"-r", "-f", "demo", "-d", device},
        {"-s", "-d", device}, {"-s", "-d", "/net/127.0.0.1", "-u", "nosuchservice"},
    };
    for (const auto &args : runs) {
        SCOPED_TRACE(args[0]);
        TempDir dir;
        writeFile(dir.file("SCAN.DAT"), "records of an earlier batch\r\n");
        auto run = quickRun(dir, args);
        EXPECT_EQ(run.status, 88);
        EXPECT_TRUE(fileExists(dir.file("SCAN.DAT")));
        EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
    }
    TempDir dir;
    writeFile(dir.file("named.dat"), "records of an earlier batch\r\n");
    auto run = quickRun(dir, {"-o", "named.dat", "-d", device});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(readFile(dir.file("named.dat")), "");
}

TEST(Paths, FilesAreCreatedReadableAndWritableByEveryone)
{
    // A strict mask inherited from the host must not keep other stations'
    // users out of the shared lock, trace and data files.
    TempDir dir;
    mode_t saved = umask(077);
    auto run = quickRun(dir, {"-d", device});
    umask(saved);
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(startup::mode(dir.file("LOCK_tty1a")), 0666);
    EXPECT_EQ(startup::mode(dir.file("SCAN.DAT")), 0666);
    EXPECT_EQ(startup::mode(dir.file("scantest.log")), 0666);
}

TEST(Paths, TraceThatCannotBeOpenedIsS42)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("scantest.log").c_str(), 0777), 0);
    writeFile(dir.file("SCAN.DAT"), "records\r\n");
    auto run = quickRun(dir, {"-x", "-d", device});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(messages(run.errors),
              std::vector<std::string>{"S42:  Unable to open file scantest.log.  Press <ENTER>."});
    // The lock comes first; the data output file is never reached.
    EXPECT_EQ(readFile(dir.file("LOCK_tty1a")), "lock");
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "records\r\n");
}

TEST(Paths, DataOutputFileThatCannotBeOpenedIsS43)
{
    TempDir dir;
    auto run = quickRun(dir, {"-x", "-d", device, "-o", "missing/batch.dat"});
    EXPECT_EQ(run.status, 88);
    const std::string s43 = "S43:  Unable to open file missing/batch.dat.  Press <ENTER>.";
    EXPECT_EQ(messages(run.errors), std::vector<std::string>{s43});
    // The trace is open by then: the message and the banner, no paths.
    EXPECT_EQ(run.trace, "\nShowmsg:  " + s43 +
                             "\n\nResetting Scanner Port To Default Settings"
                             "\n=========================================="
                             "\nSIZE: ?"
                             "\nPARITY: None"
                             "\nSTOPS: 1"
                             "\n"
                             "\n\nPROGRAM TERMINATED.  RETURN VALUE = 88."
                             "\n=======================================\n");
}

TEST(Paths, LockFileThatCannotBeCreatedIsS44AndTouchesNoOtherFile)
{
    TempDir dir;
    RunOptions options;
    options.cwd = dir.path();
    options.args = {"-x", "-d", device, "-l", "missing"};
    Station station(options);
    const std::string s44 = "S44:  Could not create scanner lock file.  Press <ENTER>.";
    const std::string check = "Check permissions on missing/LOCK_tty1a.  Press <ENTER>.";
    // Each message waits for its own key.
    ASSERT_TRUE(station.waitFor(s44, 10)) << station.errors();
    usleep(200000);
    EXPECT_EQ(station.errors().find("Check permissions"), std::string::npos);
    station.type("\r");
    ASSERT_TRUE(station.waitFor(check, 10)) << station.errors();
    usleep(200000);
    EXPECT_TRUE(startup::running(station.pid()));
    station.type("\r");
    EXPECT_EQ(station.wait(10), 88);
    EXPECT_EQ(messages(station.errors()), (std::vector<std::string>{s44, check}));
    EXPECT_FALSE(fileExists(dir.file("scantest.log")));
    EXPECT_FALSE(fileExists(dir.file("SCAN.DAT")));
    EXPECT_FALSE(fileExists(dir.file("missing")));
}

}  // namespace
