// Preloaded into a program under test: an open of the path named by
// BLOCKOPEN_PATH hangs until a signal arrives, then fails with EINTR, as
// an open of a serial device can hang on a line that never comes up (a
// non-blocking open does not wait for the line, and goes through). With
// BLOCKOPEN_LOCKTEST_FREE set, lockf's F_TEST finds every lock free, as
// when another process takes a lock between a test and the take.
#define _GNU_SOURCE
// Both the plain and the 64-bit entry points are defined here, so the
// headers must not rename one to the other.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef int (*open_fn)(const char *, int, ...);
typedef int (*openat_fn)(int, const char *, int, ...);

static int blocked(const char *path, int flags)
{
    const char *target = getenv("BLOCKOPEN_PATH");
    if (target == NULL || target[0] == '\0' || path == NULL || (flags & O_NONBLOCK))
        return 0;
    if (strcmp(path, target) != 0)
        return 0;
    pause();
    errno = EINTR;
    return 1;
}

// Only these flags carry a mode argument (O_TMPFILE shares bits with
// O_DIRECTORY, so test all of its bits).
static mode_t mode_arg(int flags, va_list ap)
{
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE)
        return (mode_t)va_arg(ap, int);
    return 0;
}

static int forward(const char *name, const char *path, int flags, mode_t mode)
{
    open_fn real = (open_fn)dlsym(RTLD_NEXT, name);
    if (real == NULL) {
        errno = ENOSYS;
        return -1;
    }
    return real(path, flags, mode);
}

// open and open64; the fortified entry points that glibc uses under
// _FORTIFY_SOURCE take no mode.
#define INTERCEPT(fn, name)                                                                        \
    int fn(const char *path, int flags, ...)                                                       \
    {                                                                                              \
        va_list ap;                                                                                \
        mode_t mode;                                                                               \
        va_start(ap, flags);                                                                       \
        mode = mode_arg(flags, ap);                                                                \
        va_end(ap);                                                                                \
        return blocked(path, flags) ? -1 : forward(name, path, flags, mode);                       \
    }
INTERCEPT(open, "open")
INTERCEPT(open64, "open64")

int __open_2(const char *path, int flags)
{
    return blocked(path, flags) ? -1 : forward("open", path, flags, 0);
}

int __open64_2(const char *path, int flags)
{
    return blocked(path, flags) ? -1 : forward("open64", path, flags, 0);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    mode_t mode;
    openat_fn real;
    va_start(ap, flags);
    mode = mode_arg(flags, ap);
    va_end(ap);
    if (blocked(path, flags))
        return -1;
    real = (openat_fn)dlsym(RTLD_NEXT, "openat");
    if (real == NULL) {
        errno = ENOSYS;
        return -1;
    }
    return real(dirfd, path, flags, mode);
}

static int locktestfree(int cmd)
{
    return cmd == F_TEST && getenv("BLOCKOPEN_LOCKTEST_FREE") != NULL;
}

// lockf, and lockf64 where off_t is 64 bits by request (_FILE_OFFSET_BITS).
#define LOCKSTEP(fn, offset)                                                                       \
    int fn(int fd, int cmd, offset len)                                                            \
    {                                                                                              \
        typedef int (*real_fn)(int, int, offset);                                                  \
        real_fn real = (real_fn)dlsym(RTLD_NEXT, #fn);                                             \
        if (locktestfree(cmd))                                                                     \
            return 0;                                                                              \
        if (real == NULL) {                                                                        \
            errno = ENOSYS;                                                                        \
            return -1;                                                                             \
        }                                                                                          \
        return real(fd, cmd, len);                                                                 \
    }
LOCKSTEP(lockf, off_t)
LOCKSTEP(lockf64, off64_t)
