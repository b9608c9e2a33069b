#include "markfeed/safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Links followed, and looks taken again because the name changed between
// the look and the open, before the name is given up as a loop.
constexpr int MAXSTEPS = 8;
constexpr size_t NAMESIZE = 4096;
constexpr int LOOKAGAIN = -3;  // the name changed between look and open
constexpr int WALKON = -4;     // a part is passed: on to the next

// A name walked one part at a time. Each part is looked at without
// following it (O_PATH | O_NOFOLLOW), and a link is judged and read through
// that same descriptor: another user who exchanges two names between the
// look and the use cannot have a link followed that was never judged.
struct Walk {
    int dir;              // the directory reached so far
    char rest[NAMESIZE];  // what is still to walk, relative to dir
    int steps;            // links followed, looks taken again
    const char *why;      // reason of a refusal or failure
};

int failed(Walk &walk, int error)
{
    walk.why = strerror(error);
    return error == ELOOP ? SAFE_REFUSED : SAFE_FAILED;
}

int refused(Walk &walk, const char *why)
{
    walk.why = why;
    return SAFE_REFUSED;
}

// The kernel's rule for protected links: the link's owner is the user who
// follows it, or the owner of the directory that holds it.
bool trustedlink(int dir, uid_t owner)
{
    struct stat holder;
    return owner == geteuid() || (fstat(dir, &holder) == 0 && holder.st_uid == owner);
}

// A file of a kind to open: regular, or a character device where allowed.
bool acceptable(const struct stat &file, int kinds)
{
    return S_ISREG(file.st_mode) || (kinds == ALLOW_DEVICE && S_ISCHR(file.st_mode));
}

// Goes on from the directory of this descriptor.
int enter(Walk &walk, int fd)
{
    if (fd < 0)
        return failed(walk, errno);
    if (walk.dir >= 0)
        close(walk.dir);
    walk.dir = fd;
    return WALKON;
}

// Goes on from the root, or from the working directory.
int startat(Walk &walk, bool absolute)
{
    return enter(walk, open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Takes the next part of the name into part: 1 when it is the last, 0
// when more follow (a trailing slash: it must be a directory). A name used
// up stands for the directory reached, ".".
int nextpart(Walk &walk, char *part)
{
    const char *from = walk.rest + strspn(walk.rest, "/");
    size_t length = strcspn(from, "/");
    memcpy(part, from, length);
    part[length] = '\0';
    const char *after = from + length;
    int last = *after == '\0';
    memmove(walk.rest, after, strlen(after) + 1);
    if (length == 0)
        strcpy(part, ".");
    return last;
}

// Puts the target of the link that fd holds before the rest of the name,
// a relative target from the link's own directory.
int follow(Walk &walk, int fd, uid_t owner)
{
    if (++walk.steps > MAXSTEPS)
        return failed(walk, ELOOP);
    if (!trustedlink(walk.dir, owner))
        return refused(walk, "symbolic link owned by another user");
    char target[NAMESIZE];
    ssize_t length = readlinkat(fd, "", target, sizeof target);
    if (length < 0)
        return failed(walk, errno);
    size_t restlength = strlen(walk.rest);
    if (static_cast<size_t>(length) + restlength >= sizeof walk.rest)
        return failed(walk, ENAMETOOLONG);
    memmove(walk.rest + length, walk.rest, restlength + 1);
    memcpy(walk.rest, target, static_cast<size_t>(length));
    return target[0] == '/' ? startat(walk, true) : WALKON;
}

// Opens the last part by name, never through a link, non-blocking; a file
// is cut back only once it is known to be one to open. LOOKAGAIN when a
// link took the name's place after the look.
int openpart(Walk &walk, const char *part, int flags, int kinds)
{
    int fd = openat(walk.dir, part, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0)
        return errno == ELOOP && !(flags & O_NOFOLLOW) ? LOOKAGAIN : failed(walk, errno);
    struct stat opened;
    int result = fstat(fd, &opened) != 0      ? failed(walk, errno)
                 : !acceptable(opened, kinds) ? refused(walk, "not a regular file")
                                              : fd;
    if (result != fd) {
        close(fd);
        return result;
    }
    if (flags & O_TRUNC)
        cutback(fd, 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The last part: a link is followed (unless flags say O_NOFOLLOW), a file
// of another kind is refused before it is ever opened (a FIFO would block),
// a missing one is created when flags say O_CREAT.
int lastpart(Walk &walk, int look, const char *part, int flags, int kinds)
{
    struct stat found = {};
    if (look < 0 && (errno != ENOENT || !(flags & O_CREAT)))
        return failed(walk, errno);
    if (look >= 0 && fstat(look, &found) != 0)
        return failed(walk, errno);
    if (look >= 0 && S_ISLNK(found.st_mode))
        return flags & O_NOFOLLOW ? failed(walk, ELOOP) : follow(walk, look, found.st_uid);
    if (look >= 0 && !acceptable(found, kinds))
        return refused(walk, "not a regular file");
    int fd = openpart(walk, part, flags, kinds);
    if (fd != LOOKAGAIN)
        return fd;
    strcpy(walk.rest, part);
    return ++walk.steps > MAXSTEPS ? failed(walk, ELOOP) : WALKON;
}

// A part on the way: a directory to enter or a link to follow.
int midpart(Walk &walk, int look)
{
    struct stat found;
    if (look < 0 || fstat(look, &found) != 0)
        return failed(walk, errno);
    if (S_ISLNK(found.st_mode))
        return follow(walk, look, found.st_uid);
    if (!S_ISDIR(found.st_mode))
        return failed(walk, ENOTDIR);
    return enter(walk, fcntl(look, F_DUPFD_CLOEXEC, 0));
}

// Walks the name to its end: the open descriptor, or a failure.
int walkname(Walk &walk, int flags, int kinds)
{
    char part[NAMESIZE];
    int result = WALKON;
    while (result == WALKON) {
        int last = nextpart(walk, part);
        int look = openat(walk.dir, part, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        result = last ? lastpart(walk, look, part, flags, kinds) : midpart(walk, look);
        if (look >= 0)
            close(look);
    }
    return result;
}

}  // namespace

int opensafely(const char *path, int flags, int kinds, const char **reason)
{
    Walk walk;
    walk.dir = -1;
    walk.steps = 0;
    walk.why = "";
    size_t length = strnlen(path, sizeof walk.rest);
    int result = length == 0                  ? failed(walk, ENOENT)
                 : length >= sizeof walk.rest ? failed(walk, ENAMETOOLONG)
                                              : startat(walk, path[0] == '/');
    if (result == WALKON) {
        memcpy(walk.rest, path, length + 1);
        result = walkname(walk, flags, kinds);
    }
    if (walk.dir >= 0)
        close(walk.dir);
    if (result < 0)
        *reason = walk.why;
    return result;
}

void cutback(int fd, long length)
{
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))
        return;
    int cut;
    do
        cut = ftruncate(fd, length);
    while (cut != 0 && errno == EINTR);
}
