// Preloaded into a program under test: records the line settings each
// tcsetattr asks for, because a pseudo-terminal silently forces 8 bits
// and no parity and so cannot show them to the far side.
//
// SCANNERSIM_LINE_FILE    file rewritten (atomically) with "19200 7 O 2"
// SCANNERSIM_LINE_DEVICE  optional: record only calls on this device;
//                         without it, calls on descriptors 0-2 (the
//                         operator's terminal) are left out.
// SCANNERSIM_LINE_INTERRUPT optional: the call of that number (1 is the
//                         first) on the device fails with EINTR, as when a
//                         signal cuts it short; the calls after it go on.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

typedef int (*tcsetattr_fn)(int, int, const struct termios *);

static int baud_of(speed_t code)
{
    static const struct {
        speed_t code;
        int baud;
    } speeds[] = {{B50, 50},         {B75, 75},        {B110, 110},     {B134, 134},
                  {B150, 150},       {B200, 200},      {B300, 300},     {B600, 600},
                  {B1200, 1200},     {B1800, 1800},    {B2400, 2400},   {B4800, 4800},
                  {B9600, 9600},     {B19200, 19200},  {B38400, 38400}, {B57600, 57600},
                  {B115200, 115200}, {B230400, 230400}};
    size_t i;
    for (i = 0; i < sizeof speeds / sizeof speeds[0]; ++i)
        if (speeds[i].code == code)
            return speeds[i].baud;
    return 0;
}

static int size_of(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

static char parity_of(tcflag_t cflag)
{
    if (!(cflag & PARENB))
        return 'N';
    return (cflag & PARODD) ? 'O' : 'E';
}

static int wanted(int fd)
{
    const char *device = getenv("SCANNERSIM_LINE_DEVICE");
    struct stat want, have;
    if (device == NULL || device[0] == '\0')
        return fd > 2;
    if (stat(device, &want) != 0 || fstat(fd, &have) != 0)
        return 0;
    return S_ISCHR(have.st_mode) && have.st_rdev == want.st_rdev;
}

// Write a temporary file and rename it, so a reader never sees half.
static void record(const char *path, const struct termios *t)
{
    char temp[4096], line[64];
    int fd, len, saved = errno;
    if (snprintf(temp, sizeof temp, "%s.%ld.tmp", path, (long)getpid()) >= (int)sizeof temp)
        return;
    len = snprintf(line, sizeof line, "%d %d %c %d\n", baud_of(cfgetospeed(t)), size_of(t->c_cflag),
                   parity_of(t->c_cflag), (t->c_cflag & CSTOPB) ? 2 : 1);
    fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        int ok = write(fd, line, (size_t)len) == len;
        close(fd);
        if (!ok || rename(temp, path) != 0)
            unlink(temp);
    }
    errno = saved;
}

// Whether this call on the device is the one to interrupt.
static int interrupted(int fd)
{
    static int calls;
    const char *nth = getenv("SCANNERSIM_LINE_INTERRUPT");
    if (nth == NULL || nth[0] == '\0' || !wanted(fd))
        return 0;
    return ++calls == atoi(nth);
}

int tcsetattr(int fd, int action, const struct termios *t)
{
    static tcsetattr_fn real;
    const char *path = getenv("SCANNERSIM_LINE_FILE");
    if (real == NULL)
        real = (tcsetattr_fn)dlsym(RTLD_NEXT, "tcsetattr");
    if (real == NULL) {
        errno = ENOSYS;
        return -1;
    }
    if (interrupted(fd)) {
        errno = EINTR;
        return -1;
    }
    // What was asked, not what the device kept: record before forwarding.
    if (path != NULL && path[0] != '\0' && t != NULL && wanted(fd))
        record(path, t);
    return real(fd, action, t);
}
