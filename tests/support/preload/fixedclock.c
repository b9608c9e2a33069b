// Preloaded into a program under test: the wall clock stands still at
// CLOCK_SECONDS (seconds since the epoch), so that a test can stamp a sheet
// at a date of its choosing. time and clock_gettime(CLOCK_REALTIME) read
// it; the other clocks run on. A 32-bit program built with 64-bit time_t
// calls them as __time64 and __clock_gettime64, so those are here too.
// Without CLOCK_SECONDS every call goes to the C library.
#define _GNU_SOURCE
// Both the plain and the 64-bit entry points are defined here, so the
// headers must not rename one to the other.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <time.h>

typedef int (*clock_fn)(clockid_t, void *);

// 1 and the time in *seconds when CLOCK_SECONDS holds a number.
static int fixed(int64_t *seconds)
{
    const char *text = getenv("CLOCK_SECONDS");
    char *end;
    if (text == NULL || text[0] == '\0')
        return 0;
    errno = 0;
    *seconds = strtoll(text, &end, 10);
    return *end == '\0' && errno == 0;
}

static int forward(const char *name, clockid_t id, void *now)
{
    clock_fn real = (clock_fn)dlsym(RTLD_NEXT, name);
    if (real == NULL) {
        errno = ENOSYS;
        return -1;
    }
    return real(id, now);
}

// As the C library's own: a time that time_t cannot hold is an error.
static int fits(int64_t seconds)
{
    if ((int64_t)(time_t)seconds == seconds)
        return 1;
    errno = EOVERFLOW;
    return 0;
}

time_t time(time_t *where)
{
    int64_t seconds;
    time_t now;
    if (!fixed(&seconds)) {
        struct timespec real;
        if (forward("clock_gettime", CLOCK_REALTIME, &real) != 0)
            return (time_t)-1;
        now = real.tv_sec;
    } else {
        now = fits(seconds) ? (time_t)seconds : (time_t)-1;
    }
    if (where != NULL)
        *where = now;
    return now;
}

int clock_gettime(clockid_t id, struct timespec *now)
{
    int64_t seconds;
    if (id != CLOCK_REALTIME || !fixed(&seconds))
        return forward("clock_gettime", id, now);
    if (!fits(seconds))
        return -1;
    now->tv_sec = (time_t)seconds;
    now->tv_nsec = 0;
    return 0;
}

#if __TIMESIZE == 32
// The 64-bit time of a 32-bit program (glibc's struct __timespec64).
struct timespec64 {
    int64_t tv_sec;
    int32_t tv_nsec;
    int32_t padding;
};

int64_t __time64(int64_t *where);
int __clock_gettime64(clockid_t id, struct timespec64 *now);

int64_t __time64(int64_t *where)
{
    struct timespec64 now;
    if (__clock_gettime64(CLOCK_REALTIME, &now) != 0)
        now.tv_sec = -1;
    if (where != NULL)
        *where = now.tv_sec;
    return now.tv_sec;
}

int __clock_gettime64(clockid_t id, struct timespec64 *now)
{
    int64_t seconds;
    if (id != CLOCK_REALTIME || !fixed(&seconds))
        return forward("__clock_gettime64", id, now);
    now->tv_sec = seconds;
    now->tv_nsec = 0;
    now->padding = 0;
    return 0;
}
#endif
