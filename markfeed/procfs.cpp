#include "markfeed/procfs.h"

#include <sys/sysmacros.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int LINE_SIZE = 256;

// A lock's range covers offset (-1 stands for any offset).
bool covers(const HeldLock &lock, long long offset)
{
    return offset < 0 || (lock.start <= offset && (lock.end < 0 || offset <= lock.end));
}

}  // namespace

int lockline(const char *line, HeldLock *lock)
{
    if (strstr(line, "->") != nullptr)
        return 0;
    char end[24];
    int fields = sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%llu %lld %23s", lock->kind, &lock->pid,
                        &lock->major, &lock->minor, &lock->inode, &lock->start, end);
    if (fields != 7)
        return 0;
    if (strcmp(end, "EOF") == 0)
        lock->end = -1;
    else if (sscanf(end, "%lld", &lock->end) != 1)
        return 0;
    return 1;
}

int lockheld(dev_t device, ino_t inode, const char *kind, long long offset, long *pid)
{
    FILE *locks = fopen("/proc/locks", "re");
    if (locks == nullptr)
        return -1;
    int held = 0;
    *pid = 0;
    char line[LINE_SIZE];
    HeldLock lock;
    // An open file description's lock names no process: a flock or POSIX
    // lock of the same holder may, further down.
    while (*pid == 0 && fgets(line, sizeof line, locks) != nullptr) {
        if (lockline(line, &lock) && lock.major == major(device) && lock.minor == minor(device) &&
            lock.inode == inode && (kind == nullptr || strcmp(lock.kind, kind) == 0) &&
            covers(lock, offset)) {
            held = 1;
            *pid = lock.pid > 0 ? lock.pid : 0;
        }
    }
    fclose(locks);
    return held;
}

int driversline(const char *line, unsigned *major, unsigned *first, unsigned *last)
{
    char minors[32];
    if (sscanf(line, "%*s %*s %u %31s", major, minors) != 2)
        return 0;
    int parsed = sscanf(minors, "%u-%u", first, last);
    if (parsed == 1)
        *last = *first;
    return parsed >= 1;
}

int terminaldevice(dev_t device)
{
    FILE *drivers = fopen("/proc/tty/drivers", "re");
    if (drivers == nullptr)
        return -1;
    int terminal = 0;
    char line[LINE_SIZE];
    unsigned number, first, last;
    while (!terminal && fgets(line, sizeof line, drivers) != nullptr)
        terminal = driversline(line, &number, &first, &last) && number == major(device) &&
                   first <= minor(device) && minor(device) <= last;
    fclose(drivers);
    return terminal;
}
