// The lines of /proc/locks and /proc/tty/drivers as the kernel writes them,
// read as --check reads them to tell a held lock and a terminal without
// opening anything.
#include <gtest/gtest.h>

#include <string>

#include "markfeed/procfs.h"

namespace {

TEST(ProcLocks, HeldLocksAreReadAndWaitingRequestsAreNone)
{
    HeldLock lock;
    ASSERT_EQ(lockline("1: POSIX  ADVISORY  WRITE 1234 fe:01:123 4 4\n", &lock), 1);
    EXPECT_EQ(std::string(lock.kind), "POSIX");
    EXPECT_EQ(lock.pid, 1234);
    EXPECT_EQ(lock.major, 0xfeu);
    EXPECT_EQ(lock.minor, 1u);
    EXPECT_EQ(lock.inode, 123u);
    EXPECT_EQ(lock.start, 4);
    EXPECT_EQ(lock.end, 4);

    // An open file description's lock names no process; a lock to the end
    // of the file has no last byte; an inode wider than 32 bits.
    ASSERT_EQ(lockline("2: OFDLCK ADVISORY  WRITE -1 08:11:4294967396 0 EOF\n", &lock), 1);
    EXPECT_EQ(std::string(lock.kind), "OFDLCK");
    EXPECT_EQ(lock.pid, -1);
    EXPECT_EQ(lock.minor, 0x11u);
    EXPECT_EQ(lock.inode, 4294967396u);
    EXPECT_EQ(lock.end, -1);

    // A request that waits for a lock holds none.
    EXPECT_EQ(lockline("1: -> POSIX  ADVISORY  WRITE 1235 fe:01:123 4 4\n", &lock), 0);
    EXPECT_EQ(lockline("3: FLOCK  ADVISORY  WRITE 77 00:1a\n", &lock), 0);
}

TEST(TtyDrivers, MajorAndTheRangeOfMinors)
{
    unsigned major = 0, first = 0, last = 0;
    ASSERT_EQ(driversline("pty_slave            /dev/pts      136 0-1048575 pty:slave\n", &major,
                          &first, &last),
              1);
    EXPECT_EQ(major, 136u);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(last, 1048575u);
    // One minor alone.
    ASSERT_EQ(driversline("serial               /dev/ttyS       4      64 serial\n", &major, &first,
                          &last),
              1);
    EXPECT_EQ(major, 4u);
    EXPECT_EQ(first, 64u);
    EXPECT_EQ(last, 64u);
    EXPECT_EQ(driversline("serial /dev/ttyS\n", &major, &first, &last), 0);
}

}  // namespace
