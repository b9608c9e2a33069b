#include "safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The kernel's rule for protected links: the link's owner is the user who
// follows it, or the owner of the directory that holds it.
bool trustedlink(const char *path, uid_t owner)
{
    if (owner == geteuid())
        return true;
    char directory[512];
    size_t length = strnlen(path, sizeof directory);
    if (length >= sizeof directory)
        return false;
    memcpy(directory, path, length + 1);
    char *slash = strrchr(directory, '/');
    if (slash == nullptr)
        strcpy(directory, ".");
    else if (slash == directory)
        slash[1] = '\0';
    else
        *slash = '\0';
    struct stat holder;
    return stat(directory, &holder) == 0 && holder.st_uid == owner;
}

// A file of a kind to open: regular, or a character device where allowed.
bool acceptable(const struct stat &file, int kinds)
{
    return S_ISREG(file.st_mode) || (kinds == ALLOW_DEVICE && S_ISCHR(file.st_mode));
}

int refused(int fd, const char *why, const char **reason)
{
    if (fd >= 0)
        close(fd);
    *reason = why;
    return SAFE_REFUSED;
}

}  // namespace

int opensafely(const char *path, int flags, int kinds, const char **reason)
{
    struct stat found;
    bool link = lstat(path, &found) == 0 && S_ISLNK(found.st_mode);
    if (link && !(flags & O_NOFOLLOW) && !trustedlink(path, found.st_uid))
        return refused(-1, "symbolic link owned by another user", reason);
    // Refused before opening, so that a FIFO is never opened at all.
    struct stat target;
    if (!(link && (flags & O_NOFOLLOW)) && stat(path, &target) == 0 && !acceptable(target, kinds))
        return refused(-1, "not a regular file", reason);
    int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | (link ? 0 : O_NOFOLLOW), 0666);
    if (fd < 0) {
        *reason = strerror(errno);
        return errno == ELOOP ? SAFE_REFUSED : SAFE_FAILED;
    }
    struct stat opened;
    if (fstat(fd, &opened) != 0)
        return refused(fd, strerror(errno), reason);
    if (!acceptable(opened, kinds))
        return refused(fd, "not a regular file", reason);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
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
