// Where a run puts its files, what it leaves in them, what the operator sees
// when one of them cannot be opened, and the scanner lock: one run per
// scanner, and a run that finds it busy leaves the running batch's trace and
// data output file alone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "tests/support/lines.h"
#include "tests/support/programs.h"

using namespace support;

namespace {

const char device[] = "/dev/tty1a";
const char s21[] = "S21:  Unable to open device /dev/tty1a.  Press <ENTER>.";
const char s46[] = "S46:  Scanner currently in use.  Press <ENTER>.";
// The end of the trace of a run whose device was never opened: the port's
// settings are all zero, so there is no speed line at all.
const std::string unopenedEnd = std::string("\nResetting Scanner Port To Default Settings\n") +
                                "==========================================\n"
                                "SIZE: ?\nPARITY: None\nSTOPS: 1\n"
                                "\n\nPROGRAM TERMINATED.  RETURN VALUE = 88.\n"
                                "=======================================\n";

TEST(Paths, WholeTraceOfARunWhoseDeviceCannotBeOpened)
{
    TempDir dir;
    auto run = runStation(dir, {"-x", "-d", device});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(run.trace, pathsBlock(device, "", "tty1a", "tty1a") +
                             "\nOpening device using DlOpenComm."
                             "\nFunction call to DlOpenComm()."
                             "\nShowmsg:  " +
                             s21 + "\n" + unopenedEnd);
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
        auto run = runStation(dir, {"-x", "-d", device, "-l", data + slash, "-f", "demo"});
        EXPECT_EQ(run.status, 88);
        std::string trace = readFile(data + "/scantest.log");
        EXPECT_EQ(filePaths(trace), pathsBlock(device, data + "/", "tty1a", "tty1a", "demo"));
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
    auto run = runStation(dir, {"-x", "-l", "data", "-o", "out/batch.dat", "-d", device});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(fileExists(dir.file("out/batch.dat")));
    EXPECT_FALSE(fileExists(dir.file("data/out/batch.dat")));
    EXPECT_FALSE(fileExists(dir.file("data/SCAN.DAT")));
    std::string trace = readFile(dir.file("data/scantest.log"));
    EXPECT_TRUE(has(trace, "\nData output file   = out/batch.dat\n"));
    EXPECT_TRUE(has(trace, "\nDebug file         = data/scantest.log\n"));
}

TEST(Paths, ServiceIsPartOfTheLockNameOnly)
{
    TempDir dir;
    auto run = runStation(dir, {"-x", "-d", device, "-u", "9100"});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(filePaths(run.trace), pathsBlock(device, "", "tty1a", "tty1a_9100"));
    EXPECT_EQ(readFile(dir.file("LOCK_tty1a_9100")), "lock");
    EXPECT_FALSE(fileExists(dir.file("LOCK_tty1a")));
}

TEST(Paths, NetworkScannerLocksPerHostAndServiceAndGetsNoTerminationBanner)
{
    TempDir dir;
    int port = freePort();
    ASSERT_GT(port, 0);
    std::string service = std::to_string(port);
    // -p: the port number goes into the address in network byte order.
    auto run = runStation(dir, {"-x", "-p", "-d", "/net/127.0.0.1", "-u", service});
    EXPECT_EQ(run.status, 88);
    std::string refused =
        "S15:  Connection refused on 127.0.0.1 port " + service + ".  Press <ENTER>.";
    EXPECT_EQ(run.messages, Strings{refused});
    EXPECT_EQ(filePaths(run.trace),
              pathsBlock("/net/127.0.0.1", "", "127.0.0.1", "127.0.0.1_" + service));
    EXPECT_EQ(readFile(dir.file("LOCK_127.0.0.1_" + service)), "lock");
    // Nothing to restore on a network link, and so no banner.
    EXPECT_TRUE(endsWith(run.trace, "\nShowmsg:  " + refused));
    EXPECT_FALSE(has(run.trace, "PROGRAM TERMINATED"));
}

TEST(Paths, TraceIsEmptiedOnEveryRunAndStaysEmptyWithoutX)
{
    TempDir dir;
    writeFile(dir.file("scantest.log"), "trace of an earlier batch\n");
    auto run = runStation(dir, {"-d", device});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(fileExists(dir.file("scantest.log")));
    EXPECT_EQ(run.trace, "");

    writeFile(dir.file("scantest.log"), "trace of an earlier batch\n");
    run = runStation(dir, {"-x", "-d", device});
    EXPECT_FALSE(has(run.trace, "earlier batch"));
    EXPECT_EQ(run.trace.rfind("\nFILE PATHS", 0), 0u);
}

TEST(Paths, EveryRunWithArgumentsEmptiesTheDataOutputFile)
{
    const std::vector<Strings> runs = {
        {"-d", device},       {"-q"},
        {"-r", "-d", device}, {"-r", "-f", "demo", "-d", device},
        {"-s", "-d", device}, {"-s", "-d", "/net/127.0.0.1", "-u", "nosuchservice"},
    };
    for (const auto &args : runs) {
        SCOPED_TRACE(args[0]);
        TempDir dir;
        writeFile(dir.file("SCAN.DAT"), "records of an earlier batch\r\n");
        auto run = runStation(dir, args);
        EXPECT_EQ(run.status, 88);
        EXPECT_TRUE(fileExists(dir.file("SCAN.DAT")));
        EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
    }
    TempDir dir;
    writeFile(dir.file("named.dat"), "records of an earlier batch\r\n");
    auto run = runStation(dir, {"-o", "named.dat", "-d", device});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(readFile(dir.file("named.dat")), "");
}

TEST(Paths, FilesAreCreatedReadableAndWritableByEveryone)
{
    // A strict mask inherited from the host must not keep other stations'
    // users out of the shared lock, trace and data files.
    TempDir dir;
    mode_t saved = umask(077);
    auto run = runStation(dir, {"-d", device});
    umask(saved);
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(fileMode(dir.file("LOCK_tty1a")), 0666);
    EXPECT_EQ(fileMode(dir.file("SCAN.DAT")), 0666);
    EXPECT_EQ(fileMode(dir.file("scantest.log")), 0666);
}

TEST(Paths, TraceThatCannotBeOpenedIsS42)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("scantest.log").c_str(), 0777), 0);
    writeFile(dir.file("SCAN.DAT"), "records\r\n");
    auto run = runStation(dir, {"-x", "-d", device});
    EXPECT_TRUE(ended(run, 88, {"S42:  Unable to open file scantest.log.  Press <ENTER>."}));
    // The data output file is emptied only once the trace is open.
    EXPECT_EQ(readFile(dir.file("LOCK_tty1a")), "lock");
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "records\r\n");
}

TEST(Paths, DataOutputFileThatCannotBeOpenedIsS43)
{
    auto run = runStation({"-x", "-d", device, "-o", "missing/batch.dat"});
    EXPECT_EQ(run.status, 88);
    const std::string s43 = "S43:  Unable to open file missing/batch.dat.  Press <ENTER>.";
    EXPECT_EQ(run.messages, Strings{s43});
    // The trace is open by then: the message and the banner, no paths.
    EXPECT_EQ(run.trace, "\nShowmsg:  " + s43 + "\n" + unopenedEnd);
}

TEST(Paths, LockFileThatCannotBeCreatedIsS44AndTouchesNoOtherFile)
{
    TempDir dir;
    Process station(markfeedIn(dir, {"-x", "-d", device, "-l", "missing"}));
    const std::string s44 = "S44:  Could not create scanner lock file.  Press <ENTER>.";
    const std::string check = "Check permissions on missing/LOCK_tty1a.  Press <ENTER>.";
    // Each message waits for its own key.
    ASSERT_TRUE(waitsAt(station, s44));
    EXPECT_FALSE(has(station.errors(), "Check permissions"));
    station.type("\r");
    ASSERT_TRUE(waitsAt(station, check));
    station.type("\r");
    EXPECT_TRUE(ended(finish(station, dir, 10), 88, {s44, check}));
    EXPECT_FALSE(fileExists(dir.file("scantest.log")));
    EXPECT_FALSE(fileExists(dir.file("SCAN.DAT")));
    EXPECT_FALSE(fileExists(dir.file("missing")));
}

// A station directory that other users may write: what was planted there
// under the station's file names is refused with the file's own message
// (no hang on a FIFO, no write through another user's link), or followed
// when the running user or the directory's owner made the link.
TEST(Paths, PlantedLinksAndSpecialFiles)
{
    const std::string s42 = "S42:  Unable to open file scantest.log.  Press <ENTER>.";
    const std::string s43 = "S43:  Unable to open file SCAN.DAT.  Press <ENTER>.";
    const Strings s44 = {"S44:  Could not create scanner lock file.  Press <ENTER>.",
                         "Check permissions on LOCK_tty1a.  Press <ENTER>."};
    enum Plant { Link, OthersLink, OthersLinkInOthersDir, Fifo };
    const struct {
        const char *name;
        Plant plant;
        const char *target;  // "" = a victim file in the directory
        Strings messages;
        const char *traced;  // the refusal's reason in the trace, or ""
    } cases[] = {
        {"LOCK_tty1a", Link, "", s44, ""},
        {"LOCK_tty1a", Fifo, "", s44, ""},
        {"scantest.log", OthersLink, "", {s42}, ""},
        {"scantest.log", Fifo, "", {s42}, ""},
        {"scantest.log", Link, "/dev/null", {s21}, ""},
        {"SCAN.DAT", OthersLink, "", {s43}, "symbolic link owned by another user"},
        {"SCAN.DAT", Fifo, "", {s43}, "not a regular file"},
        {"SCAN.DAT", Link, "", {s21}, ""},
        {"SCAN.DAT", OthersLinkInOthersDir, "", {s21}, ""},
        {"d_tty1a.cfg", Fifo, "", {s21}, "not a regular file"},
        {"d_tty1a.cfg", Link, "/dev/zero", {s21}, "not a regular file"},
    };
    std::string unplanted;  // cases that need another user's files
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " plant " + std::to_string(c.plant));
        TempDir dir;
        std::string victim = dir.file("victim");
        writeFile(victim, "a file of the station's user\n");
        std::string planted = dir.file(c.name);
        std::string target = *c.target ? c.target : victim;
        int planting = c.plant == Fifo ? mkfifo(planted.c_str(), 0666)
                                       : symlink(target.c_str(), planted.c_str());
        ASSERT_EQ(planting, 0);
        bool others = c.plant == OthersLink || c.plant == OthersLinkInOthersDir;
        // Giving a file to another user takes root, which a package build
        // does not have.
        if (others && (geteuid() != 0 || lchown(planted.c_str(), 65534, 65534) != 0)) {
            unplanted += std::string(" ") + c.name;
            continue;
        }
        ASSERT_EQ(c.plant == OthersLinkInOthersDir ? chown(dir.path().c_str(), 65534, 65534) : 0,
                  0);
        auto run = runStation(dir, {"-x", "-d", device}, {}, 10);
        EXPECT_TRUE(ended(run, 88, c.messages));
        bool followed = c.plant == Link || c.plant == OthersLinkInOthersDir;
        bool own = followed && std::string(c.name) != "LOCK_tty1a" && !*c.target;
        // A followed link makes the victim the run's own file: emptied.
        EXPECT_EQ(readFile(victim), own ? "" : "a file of the station's user\n");
        std::string reason = std::string("\nUnable to open ") + c.name + ":  " + c.traced;
        EXPECT_EQ(has(run.trace, reason), *c.traced != '\0') << run.trace;
    }
    if (!unplanted.empty())
        GTEST_SKIP() << "another user's links not planted (chown needs root) for:" << unplanted;
}

// A user id that no account has, above `after`.
uid_t unusedUser(uid_t after)
{
    uid_t user = after + 1;
    while (getpwuid(user) != nullptr)
        user++;
    return user;
}

// The directory's owner linked the trace and the data output file to
// /dev/null; another user keeps exchanging each with a link of her own to
// a private file of the user who runs the station. Whatever name a run
// looks at, what it checked is what it opens: the private file keeps its
// bytes in every run.
TEST(Paths, LinksExchangedDuringTheOpenNeverReachAnotherFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: the run, the directory and the planted links must each "
                        "belong to another user";
    const uid_t station = unusedUser(60000), member = unusedUser(station);
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    RunOptions version = markfeedIn(dir, {"--version"}, RunOptions::File);
    version.user = station;
    if (Process(version).wait(10) != 0)
        GTEST_SKIP() << "markfeed cannot be started as another user here: its build directory "
                        "is closed to others, as in a package build";
    const std::string victim = dir.file("private"), text = "the operator's own file\n";
    writeFile(victim, text);
    ASSERT_EQ(chown(victim.c_str(), station, station), 0);
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    const Strings names = {"scantest.log", "SCAN.DAT"};
    for (const std::string &name : names) {
        ASSERT_EQ(symlink("/dev/null", dir.file(name).c_str()), 0);
        ASSERT_EQ(symlink(victim.c_str(), dir.file(name + ".m").c_str()), 0);
        ASSERT_EQ(lchown(dir.file(name + ".m").c_str(), member, member), 0);
    }
    std::atomic<bool> done{false};
    std::atomic<long> exchanges{0};
    std::thread other([&] {
        while (!done)
            for (const std::string &name : names)
                if (renameat2(AT_FDCWD, dir.file(name).c_str(), AT_FDCWD,
                              dir.file(name + ".m").c_str(), RENAME_EXCHANGE) == 0)
                    exchanges++;
    });
    const int runs = 40;
    int lost = 0, through = 0;  // emptied the private file; reached the device
    for (int i = 0; i < runs; i++) {
        RunOptions options = markfeedIn(dir, {"-x", "-d", device}, RunOptions::File);
        options.user = station;
        Process run(options);
        EXPECT_EQ(run.wait(10), 88) << run.errors();
        through += run.errors().find(s21) != std::string::npos;
        if (readFile(victim) != text) {
            lost++;
            writeFile(victim, text);
        }
    }
    done = true;
    other.join();
    EXPECT_GT(exchanges, runs);
    EXPECT_EQ(lost, 0) << "the private file was emptied in " << lost << " of " << runs << " runs";
    // The owner's links were followed in some runs, refused in others.
    EXPECT_GT(through, 0);
    EXPECT_LT(through, runs);
}

// Two runs of two scanners writing one data output file: the second finds
// it locked and empties neither it nor its trace.
TEST(Paths, DataOutputFileInUseByAnotherRunIsS51)
{
    TempDir first, second;
    std::string shared = first.file("batch.dat");
    Process running(markfeedIn(first, {"-d", device, "-o", shared}));
    ASSERT_TRUE(running.waitFor("S21:", 10)) << running.errors();
    writeFile(shared, "0001 accepted sheet\r\n");
    writeFile(second.file("scantest.log"), "\nFunction call to DlScan().");

    auto refused = runStation(second, {"-x", "-d", "/dev/tty1b", "-o", shared});
    // Longer than the message line: it starts after one space and is cut.
    std::string s51 = "S51:  Data file " + shared + " is in use by another run.  Press <ENTER>.";
    std::string shown = s51.substr(0, 78);
    EXPECT_TRUE(ended(refused, 88, {shown.erase(shown.find_last_not_of(' ') + 1)}));
    EXPECT_EQ(readFile(shared), "0001 accepted sheet\r\n");
    EXPECT_EQ(refused.trace, "\nFunction call to DlScan().");

    running.type("\r");
    EXPECT_EQ(running.wait(10), 88);
    EXPECT_EQ(runStation(second, {"-d", "/dev/tty1b", "-o", shared}).messages,
              Strings{"S21:  Unable to open device /dev/tty1b.  Press <ENTER>."});
    EXPECT_EQ(readFile(shared), "");
}

// A host importing the data output file holds it under flock(1) or lockf:
// a run started meanwhile refuses with S51 and empties neither it nor the
// trace, and one started after the import runs.
TEST(Paths, DataOutputFileHeldByAnImportIsS51)
{
    const char s51[] = "S51:  Data file SCAN.DAT is in use by another run.  Press <ENTER>.";
    for (bool byFlock : {true, false}) {
        SCOPED_TRACE(byFlock ? "flock" : "lockf");
        TempDir dir;
        writeFile(dir.file("SCAN.DAT"), "0001 accepted sheet\r\n");
        writeFile(dir.file("scantest.log"), "\nFunction call to DlScan().");
        RunOptions import = withInput(RunOptions::Pipe);
        import.command = {"flock", "-n", dir.file("SCAN.DAT"), "sh", "-c", "echo held >&2; cat"};
        std::unique_ptr<Process> flocked;
        std::unique_ptr<LockHolder> lockfed;
        if (byFlock) {
            flocked.reset(new Process(import));
            ASSERT_TRUE(flocked->waitFor("held", 5));
        } else {
            lockfed.reset(new LockHolder(dir.file("SCAN.DAT"), 0));
            ASSERT_TRUE(lockfed->holding());
        }
        auto run = runStation(dir, {"-x", "-d", device});
        EXPECT_TRUE(ended(run, 88, {s51}));
        EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "0001 accepted sheet\r\n");
        EXPECT_EQ(run.trace, "\nFunction call to DlScan().");
        flocked.reset();
        lockfed.reset();
        EXPECT_TRUE(ended(runStation(dir, {"-d", device}), 88, {s21}));
        EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
    }
}

// Started with its standard descriptors closed, a run must not let its
// files take their numbers: the operator's messages would land in them.
TEST(Paths, ClosedStandardDescriptorsAreNotTakenByFiles)
{
    TempDir dir;
    RunOptions options = markfeedIn(dir, {"-d", "/dev/ttyNOPE"}, RunOptions::File);
    options.args =
        concat(concat({"-c", "exec \"$0\" \"$@\" 0<&- 1>&- 2>&-"}, options.command), options.args);
    options.command = {"/bin/sh"};
    Process station(options);
    EXPECT_EQ(station.wait(10), 88);
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
    EXPECT_EQ(readFile(dir.file("LOCK_ttyNOPE")), "lock");
}

// The lock is tested and taken in one step: a run that loses the race for
// it (here the test step reports it free) is told S46 at once instead of
// waiting for the running batch to end.
TEST(Lock, LosingTheRaceForTheLockIsS46AtOnce)
{
    TempDir dir;
    LockHolder holder(dir.file("LOCK_tty1a"), 4);
    ASSERT_TRUE(holder.holding());
    auto env = preload(Preload::BlockOpen);
    env["BLOCKOPEN_LOCKTEST_FREE"] = "1";
    auto run = runStation(dir, {"-d", device}, env, 10);
    EXPECT_TRUE(ended(run, 88, {s46}));
}

TEST(Lock, SecondRunOnABusyScannerLeavesTheFirstRunsFilesAlone)
{
    TempDir dir;
    Process first(markfeedIn(dir, {"-x", "-d", device}));
    // The first run holds the lock while it waits for the operator's key.
    ASSERT_TRUE(first.waitFor("S21:", 10)) << first.errors();
    EXPECT_TRUE(byteLocked(dir.file("LOCK_tty1a"), 4));
    // A record of the batch in progress.
    writeFile(dir.file("SCAN.DAT"), "0001 accepted sheet\r\n");

    for (const Strings &args : {Strings{"-d", device, "-x"}, Strings{"-d", device}}) {
        SCOPED_TRACE(args.size() == 3 ? "with -x" : "without -x");
        auto second = runStation(dir, args);
        EXPECT_TRUE(ended(second, 88, {s46}));
        EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "0001 accepted sheet\r\n");
        // The first run's trace is still in its buffer: nothing on disk.
        EXPECT_EQ(second.trace, "");
        EXPECT_TRUE(byteLocked(dir.file("LOCK_tty1a"), 4));
        EXPECT_EQ(readFile(dir.file("LOCK_tty1a")), "lock");
    }

    first.type("\r");
    EXPECT_EQ(first.wait(10), 88);
    std::string trace = readFile(dir.file("scantest.log"));
    EXPECT_EQ(trace.rfind("\nFILE PATHS", 0), 0u) << trace;
    EXPECT_FALSE(has(trace, "S46"));
    EXPECT_TRUE(has(trace, "\n\nPROGRAM TERMINATED.  RETURN VALUE = 88."));
    // The lock goes with the process.
    EXPECT_FALSE(byteLocked(dir.file("LOCK_tty1a"), 4));
    EXPECT_FALSE(has(runStation(dir, {"-d", device}).errors, "S46"));
}

TEST(Lock, LockOfAnotherProgramOnTheSameByteIsHonoured)
{
    for (const Strings &args : {Strings{"-d", device, "-x"}, Strings{"-d", device}}) {
        SCOPED_TRACE(args.size() == 3 ? "with -x" : "without -x");
        TempDir dir;
        writeFile(dir.file("scantest.log"), "\nFunction call to DlScan().");
        writeFile(dir.file("SCAN.DAT"), "0001 accepted sheet\r\n");
        LockHolder holder(dir.file("LOCK_tty1a"), 4);
        ASSERT_TRUE(holder.holding());
        auto run = runStation(dir, args);
        EXPECT_TRUE(ended(run, 88, {s46}));
        EXPECT_EQ(run.trace, "\nFunction call to DlScan().");
        EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "0001 accepted sheet\r\n");
        EXPECT_EQ(readFile(dir.file("LOCK_tty1a")), "lock");
    }
}

TEST(Lock, OnlyTheByteAfterTheWordLockCounts)
{
    for (off_t other : {0, 3, 5}) {
        SCOPED_TRACE(other);
        TempDir dir;
        LockHolder holder(dir.file("LOCK_tty1a"), other);
        ASSERT_TRUE(holder.holding());
        auto run = runStation(dir, {"-d", device});
        EXPECT_TRUE(ended(run, 88, {s21}));
    }
}

TEST(Lock, ScannersWithAndWithoutServiceHaveTheirOwnLocks)
{
    TempDir dir;
    LockHolder holder(dir.file("LOCK_tty1a"), 4);
    ASSERT_TRUE(holder.holding());
    auto run = runStation(dir, {"-d", device, "-u", "9100"});
    EXPECT_EQ(run.status, 88);
    EXPECT_FALSE(has(run.errors, "S46"));
    EXPECT_EQ(readFile(dir.file("LOCK_tty1a_9100")), "lock");
}

}  // namespace
