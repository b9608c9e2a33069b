// What the kernel tells through /proc without a file or device being
// opened: who holds a lock on a file (/proc/locks), and whether a device
// number belongs to a terminal driver (/proc/tty/drivers). The station's
// check reads them so that it never opens a serial device (which would
// raise its modem lines) nor takes a lock.
//
// No globals. Results: lockline and driversline give 1 when the line was
// parsed into their results, else 0; lockheld gives 1 when another process
// holds a matching lock (*pid its holder, 0 when not known), 0 when none
// does, -1 when /proc/locks cannot be read; terminaldevice gives 1 for a
// terminal's device number, 0 for another, -1 when not known.
#pragma once

#include <sys/types.h>

// One lock of /proc/locks ("1: POSIX  ADVISORY  WRITE 1234 fe:00:123 4 4").
struct HeldLock {
    char kind[16];   // FLOCK, POSIX, OFDLCK, ...
    long pid;        // -1 for an open file description's lock
    unsigned major;  // the file system's device
    unsigned minor;
    unsigned long long inode;
    long long start;
    long long end;  // -1 for a lock to the end of the file
};

// A waiting request ("1: -> POSIX ...") is no lock held.
int lockline(const char *line, HeldLock *lock);

// A lock on the file with this device and inode, of kind (null: any) and
// covering offset (-1: anywhere).
int lockheld(dev_t device, ino_t inode, const char *kind, long long offset, long *pid);

// One driver line: its major number and first and last minor numbers.
int driversline(const char *line, unsigned *major, unsigned *first, unsigned *last);

int terminaldevice(dev_t device);
