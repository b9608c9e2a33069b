// The scanner lock: one run per scanner, and a run that finds the scanner
// busy leaves the running batch's trace and data output file alone.
#include <gtest/gtest.h>

#include "support/programs.h"

using namespace support;

namespace {

const char device[] = "/dev/tty1a";
const char s46[] = "S46:  Scanner currently in use.  Press <ENTER>.";

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
        EXPECT_TRUE(ended(run, 88, {"S21:  Unable to open device /dev/tty1a.  Press <ENTER>."}));
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
