// markfeed --check before the first batch of a station: the report an
// administrator reads on standard output, its status, and a station
// directory that is the same afterwards, file for file, for a good set-up
// and for each fault in the files, the locks, the device and the network
// port.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "tests/support/lines.h"
#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

struct Report {
    int status = -1;
    Strings lines;     // standard output, pids shown as "N"
    Strings problems;  // the lines that start with error: or warning:
};

// markfeed --check in dir without a terminal; the directory must be the
// same afterwards and nothing may go to the operator's screen.
Report check(const TempDir &dir, const Strings &args, RunOptions options = {})
{
    Strings before = directoryState(dir.path());
    RunOptions run = markfeedIn(dir, concat({"--check"}, args), RunOptions::File);
    run.command = concat(options.command, run.command);
    run.env = options.env;
    run.unsetenv = options.unsetenv;
    Process checker(run);
    Report report;
    report.status = checker.wait(10);
    EXPECT_EQ(checker.errors(), "");
    EXPECT_EQ(directoryState(dir.path()), before) << "--check changed the station directory";
    std::string output = checker.output();
    for (size_t at = 0; (at = output.find("pid ", at)) != std::string::npos; at += 5) {
        size_t digits = output.find_first_not_of("0123456789", at + 4);
        output.replace(at + 4, digits - at - 4, "N");
    }
    for (size_t at = 0, end; (end = output.find('\n', at)) != std::string::npos; at = end + 1) {
        report.lines.push_back(output.substr(at, end - at));
        if (report.lines.back().rfind("error: ", 0) == 0 ||
            report.lines.back().rfind("warning: ", 0) == 0)
            report.problems.push_back(report.lines.back());
    }
    return report;
}

::testing::AssertionResult reports(const Report &report, const Strings &lines)
{
    for (const std::string &line : lines)
        if (std::find(report.lines.begin(), report.lines.end(), line) == report.lines.end()) {
            auto failure = ::testing::AssertionFailure() << "no line \"" << line << "\" in:";
            for (const std::string &shown : report.lines)
                failure << "\n  " << shown;
            return failure;
        }
    return ::testing::AssertionSuccess();
}

std::string deviceNumbers(const std::string &device)
{
    struct stat found;
    stat(device.c_str(), &found);
    return std::to_string(major(found.st_rdev)) + "," + std::to_string(minor(found.st_rdev));
}

const char *const positions[30] = {
    "1 Eoi: 0x04",
    "2 Eor1: 0x0D",
    "3 Eor2: 0x0A",
    "4 Start: 0x72",
    "5 Stop: 0x0E",
    "6 Initiate: 0x11",
    "7 PositiveResponse: 0x11",
    "8 StatusControlCode: 0x73",
    "9 LongStatusRequest: 0x30",
    "10 ShortStatusRequest: 0x31",
    "11 BarCodeRequest: 0x32",
    "12 ScannerControlCode: 0x65",
    "13 DownloadControlChar: 0x1C",
    "14 RunCode: 0x1D",
    "15 RelCode: 0x12",
    "16 PrintPosCode: 0x31",
    "17 PrintDataCode: 0x32",
    "18 CompressCode: 0x15",
    "19 SelectScanner: 0x14",
    "20 SelectAux: 0x13",
    "21 AuxPortData: 0x19",
    "22 SelectFromAux: 0x0D",
    "23 DlDelay: 0",
    "24 DownloadStatusRequest: 0x33",
    "25 SelectStacker: 0x1B",
    "26 Baud: 19200",
    "27 Size: 7",
    "28 Parity: 2",
    "29 Stops: 2",
    "30 NoWait: 1",
};

// A station after an imported batch, with its form and a port
// configuration file of the built-in values: the whole report.
TEST(Check, GoodStationReportsWhatARunWouldUseAndThatItCouldStart)
{
    ScriptedLine line(ScriptedLine::Pty);
    TempDir dir;
    std::string d = dir.path(), port = portName(line.device());
    writeFile(dir.file("LOCK_" + port), "lock");
    writeFile(dir.file("SCAN.DAT"), "");
    writeFile(dir.file("scantest.log"), "");
    writeFile(dir.file("d_" + port + ".cfg"), cfgText());
    writeFile(dir.file("form1.dlf"), std::string(24000, 'F'));
    writeFile(dir.file("form1.rtp"), "1,2,3,4,5,6,7,8,9\r\n");
    RunOptions options;
    options.unsetenv = {"MARKFEED_SYSLOG"};
    Report report = check(dir, {"-d", line.device(), "-l", d, "-f", "form1", "-m", "12"}, options);
    Strings expected = {
        "lock file: " + d + "/LOCK_" + port,
        "scanner lock: free",
        "data output file: " + d + "/SCAN.DAT",
        "data output file: empty",
        "data output file lock: free",
        "trace: " + d + "/scantest.log",
        "port configuration file: " + d + "/d_" + port + ".cfg",
        "port configuration file: 30 numbers read",
    };
    for (const char *position : positions)
        expected.push_back(std::string("position ") + position + " (file)");
    expected = concat(expected, {
                                    "form definition: " + d + "/form1.dlf",
                                    "form definition: 24000 bytes of at most 24000",
                                    "runtime parameters: " + d + "/form1.rtp",
                                    "runtime parameters: 8 commas in the first line",
                                    "device: " + line.device(),
                                    "device: a terminal device (character device " +
                                        deviceNumbers(line.device()) + ")",
                                    "device lock: free",
                                    "line settings: 19200 baud, 7 data bits, odd parity, 2 stop "
                                    "bits",
                                    "system log: facility user",
                                    "result: 0 errors, 0 warnings; a run could start",
                                });
    EXPECT_EQ(report.lines, expected);
    EXPECT_EQ(report.status, 0);
}

struct Fault {
    const char *name;
    // Makes the fault in the station directory; what it returns holds it.
    std::function<std::shared_ptr<void>(const TempDir &, const std::string &port)> make;
    Strings args;      // after -d (the pty) and -l
    Strings lines;     // among the report's lines; {dir} stands for the directory
    Strings problems;  // every error: and warning: line
    int status;
};

// A file name with "{port}" standing for the port name.
std::string withPort(std::string name, const std::string &port)
{
    size_t at = name.find("{port}");
    return at == std::string::npos ? name : name.replace(at, 6, port);
}

std::shared_ptr<void> nothing(const TempDir &, const std::string &)
{
    return nullptr;
}

std::function<std::shared_ptr<void>(const TempDir &, const std::string &)>
file(const std::string &name, const std::string &content)
{
    return [name, content](const TempDir &dir, const std::string &port) {
        std::string path = dir.file(withPort(name, port));
        writeFile(path, content);
        return std::shared_ptr<void>();
    };
}

std::function<std::shared_ptr<void>(const TempDir &, const std::string &)>
held(const std::string &name, off_t offset)
{
    return [name, offset](const TempDir &dir, const std::string &port) {
        std::string path = dir.file(withPort(name, port));
        auto holder = std::make_shared<LockHolder>(path, offset);
        EXPECT_TRUE(holder->holding());
        return std::static_pointer_cast<void>(holder);
    };
}

// A form of the sample's size with one file changed.
std::function<std::shared_ptr<void>(const TempDir &, const std::string &)>
form(const std::string &definition, const std::string &runtime)
{
    return [definition, runtime](const TempDir &dir, const std::string &) {
        if (!definition.empty())
            writeFile(dir.file("form1.dlf"), definition);
        writeFile(dir.file("form1.rtp"), runtime);
        return std::shared_ptr<void>();
    };
}

TEST(Check, EachFaultGivesItsLineAndStatusAndTouchesNothing)
{
    const std::string dlf(300, 'F'), rtp = "1,2,3,4,5,6,7,8,9\r\n";
    int swappedPort = reachedWithoutP(5000);
    const Fault faults[] = {
        {"a fresh station",
         nothing,
         {},
         {"lock file: missing; a run creates it", "data output file: missing; a run creates it",
          "trace: missing; a run creates it",
          "port configuration file: missing; a run uses the built-in values",
          "position 26 Baud: 19200 (built-in)"},
         {},
         0},
        {"data output file not imported",
         file("SCAN.DAT", "0001\r\n0002\r\n"),
         {},
         {"data output file: 2 lines"},
         {"warning: data output file: 2 lines that a run would empty; the host has not imported "
          "them"},
         0},
        {"data output file held",
         held("SCAN.DAT", 0),
         {},
         {},
         {"error: data output file lock: held by another run or an import (pid N) (S51)"},
         88},
        {"scanner lock held",
         held("LOCK_{port}", 4),
         {},
         {},
         {"error: scanner lock: held by another run (pid N) (S46)"},
         88},
        {"port configuration file with three numbers",
         file("d_{port}.cfg", "4 13 10\n"),
         {},
         {"port configuration file: 3 numbers read", "position 3 Eor2: 0x0A (file)",
          "position 4 Start: 0x72 (built-in)"},
         {"warning: port configuration file: 3 numbers for 30 positions; positions 4 to 30 keep "
          "their built-in values"},
         0},
        {"a digit in a comment",
         file("d_{port}.cfg", "# 2 stop bits\n" + cfgText()),
         {},
         {"position 1 Eoi: 0x02 (file)", "position 2 Eor1: 0x04 (file)"},
         {"warning: port configuration file: more than 30 numbers; a run reads the first 30 (a "
          "digit in a comment shifts every later value)",
          "warning: position 26 Baud: 27 is not 9600, 19200 or 38400; a run sets 9600",
          "warning: position 27 Size: 19200 is not 7 or 8; a run sets 8",
          "warning: position 28 Parity: 7 is not 1 (even), 2 (odd) or 3 (none); a run keeps the "
          "device's parity"},
         0},
        {"values no scanner takes",
         file("d_{port}.cfg", cfgText({{5, 0x141}, {26, 2400}})),
         {"-b", "0:6"},
         {"position 5 Stop: 0x41 (file)", "position 27 Size: 6 (option -b)",
          "line settings: 9600 baud, 8 data bits, odd parity, 2 stop bits"},
         {"warning: position 5 Stop: 321 does not fit in a byte; a run uses 0x41",
          "warning: position 26 Baud: 2400 is not 9600, 19200 or 38400; a run sets 9600",
          "warning: position 27 Size: 6 is not 7 or 8; a run sets 8"},
         0},
        {"form definition missing",
         form("", rtp),
         {"-f", "form1"},
         {},
         {"error: form definition: missing (S31)"},
         88},
        {"form definition over the download limit",
         form(std::string(24001, 'F'), rtp),
         {"-f", "form1"},
         {},
         {"warning: form definition: 24001 bytes; a run sends only the first 24000"},
         0},
        {"runtime line without its eight commas",
         form(dlf, "1,2,3,4,5,6,7,8\r\n"),
         {"-f", "form1"},
         {"form definition: 300 bytes of at most 24000"},
         {"error: runtime parameters: 7 commas in the first line, not 8 (S37)"},
         88},
        {"device missing",
         nothing,
         {"-d", "/tmp/ttyNONE"},
         {"device: /tmp/ttyNONE"},
         {"error: device: missing (S21)"},
         88},
        {"device no terminal",
         nothing,
         {"-d", "/dev/null"},
         {},
         {"error: device: character device 1,3 is no terminal (S22)"},
         88},
        {"no device",
         nothing,
         {"-d", "x"},
         {},
         {"error: device: -d names no device of three characters or more (S19)"},
         88},
        {"service missing",
         nothing,
         {"-d", "/net/127.0.0.1", "-u", "nosuchservice"},
         {"device: a network scanner at 127.0.0.1", "address: 127.0.0.1"},
         {"error: service: entry nosuchservice missing in /etc/services (S14)"},
         88},
        {"port dialled byte-swapped",
         nothing,
         {"-d", "/net/127.0.0.1", "-u", "5000"},
         {"service: port number 5000",
          "port dialled: " + std::to_string(swappedPort) + " (with -p: 5000)",
          "line settings: not used on a network link"},
         swappedPort == 5000
             ? Strings{}
             : Strings{"warning: port dialled: " + std::to_string(swappedPort) +
                       " is port 5000 with its two bytes exchanged; start markfeed with -p to "
                       "dial 5000"},
         0},
        {"port dialled as named",
         nothing,
         {"-d", "/net/127.0.0.1", "-u", "5000", "-p"},
         {"port dialled: 5000 (without -p: " + std::to_string(swappedPort) + ")"},
         {},
         0},
        {"option without its value",
         nothing,
         {"-d"},
         {},
         {"error: options: option -d needs a value (S49)"},
         88},
    };
    ScriptedLine line(ScriptedLine::Pty);
    for (const Fault &fault : faults) {
        SCOPED_TRACE(fault.name);
        TempDir dir;
        std::shared_ptr<void> holder = fault.make(dir, portName(line.device()));
        Report report = check(dir, concat({"-d", line.device(), "-l", dir.path()}, fault.args));
        EXPECT_TRUE(reports(report, fault.lines));
        EXPECT_EQ(report.problems, fault.problems);
        EXPECT_EQ(report.status, fault.status);
        ASSERT_FALSE(report.lines.empty());
        EXPECT_TRUE(endsWith(report.lines.back(),
                             fault.status ? "; a run would end with 88" : "; a run could start"));
    }
}

// Another run holds the scanner: a second station directory on the same
// device finds the device locked; the run's own directory finds its lock
// and data output file locked as well.
TEST(Check, RunningStationHoldsItsLocksAndItsDevice)
{
    Sim sim = startScanner({});
    TempDir running, other;
    Process station(markfeedIn(running, linkArgs(sim), RunOptions::File));
    ASSERT_TRUE(shows(station, "Scanner hopper empty.  Load forms or <ESCAPE> to quit."));
    const std::string device = "error: device lock: held by another run (pid N) (S46)";
    Report report = check(other, {"-d", sim.device, "-l", other.path()});
    EXPECT_EQ(report.problems, Strings{device});
    EXPECT_EQ(report.status, 88);
    report = check(running, {"-d", sim.device, "-l", running.path()});
    EXPECT_EQ(report.problems,
              (Strings{"error: scanner lock: held by another run (pid N) (S46)",
                       "error: data output file lock: held by another run or an import (pid N) "
                       "(S51)",
                       device}));
    EXPECT_EQ(report.status, 88);
    station.kill(SIGTERM);
    EXPECT_EQ(station.wait(10), 99);
}

// A user who may not open the serial device is told which group to join,
// or that its group may not either.
TEST(Check, DeviceTheUserMayNotOpenNamesTheGroupToJoin)
{
    const char asNobody[] = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups";
    if (getuid() != 0 || std::system((std::string(asNobody) + " true 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "needs root and setpriv to check as another user";
    ScriptedLine line(ScriptedLine::Pty);
    char slave[64] = "";
    ASSERT_GT(readlink(line.device().c_str(), slave, sizeof slave - 1), 0);
    struct stat device;
    ASSERT_EQ(stat(slave, &device), 0);
    struct group *owner = getgrgid(device.st_gid);
    std::string group = owner ? owner->gr_name : std::to_string(device.st_gid);
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    RunOptions nobody;
    nobody.command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    struct passwd *entry = getpwuid(65534);
    std::string user = entry ? entry->pw_name : "with this uid";
    for (mode_t mode : {0660, 0600}) {
        ASSERT_EQ(chmod(slave, mode), 0);
        Report report = check(dir, {"-d", line.device(), "-l", dir.path()}, nobody);
        EXPECT_EQ(report.problems,
                  Strings{"error: device: user " + user + " may not read and write it" +
                          (mode == 0660 ? "; join the group " + group
                                        : ", nor may its group " + group + " (mode 0600)") +
                          " (S21)"});
        EXPECT_EQ(report.status, 88);
    }
}

}  // namespace
