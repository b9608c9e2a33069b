#include "markfeed/datafile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "markfeed/operator.h"
#include "markfeed/runsettings.h"
#include "markfeed/safefile.h"
#include "markfeed/termination.h"

namespace {

int datafd = -1;  // the open, locked data output file
long lineend;     // where the last whole line ends

// Writes all of len bytes: 1, or 0 when the file takes no more.
int writeall(const char *bytes, size_t len)
{
    while (len > 0) {
        ssize_t put = write(datafd, bytes, len);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return 0;
        bytes += put;
        len -= static_cast<size_t>(put);
    }
    return 1;
}

// Takes both locks on the data output file: DATA_OPEN, DATA_LOCKED when
// another process holds either, DATA_UNLOCKED (*reason set) when the file
// system refuses one.
int lockdatafile(const char **reason)
{
    // flock for a host that imports under flock(1); a byte-range lock for
    // programs that use lockf or fcntl. The range lock belongs to the open
    // file, as the flock does: on NFS, where Linux makes a flock a
    // byte-range lock on the server, the two are one owner's and do not
    // meet.
    int result = DATA_OPEN;
    if (flock(datafd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return DATA_LOCKED;
        *reason = strerror(errno);
        result = DATA_UNLOCKED;
    }
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fcntl(datafd, F_OFD_SETLK, &whole) == 0)
        return result;
    if (errno == EACCES || errno == EAGAIN)
        return DATA_LOCKED;
    *reason = strerror(errno);
    return DATA_UNLOCKED;
}

}  // namespace

int opendatafile(const char *path, const char **reason, int *refused)
{
    int fd = opensafely(path, O_WRONLY | O_CREAT, ALLOW_DEVICE, reason);
    *refused = fd == SAFE_REFUSED;
    if (fd < 0)
        return DATA_FAILED;
    datafd = fd;
    // A device such as /dev/null is shared by design: only files are locked.
    struct stat file;
    if (fstat(datafd, &file) == 0 && !S_ISREG(file.st_mode))
        return DATA_OPEN;
    int result = lockdatafile(reason);
    if (result == DATA_LOCKED) {
        // Whichever lock was taken goes with the file: an import waits
        // for nothing while the refusal is shown.
        close(datafd);
        datafd = -1;
    }
    return result;
}

void emptydatafile()
{
    cutback(datafd, 0);
    lineend = 0;
}

void writedataline(const char *text)
{
    if (datafd >= 0 && writeall(text, strlen(text)) && writeall("\r\n", 2)) {
        lineend += static_cast<long>(strlen(text)) + 2;
        return;
    }
    if (datafd >= 0)
        cutback(datafd, lineend);
    showmsgf(1, "S50:  Unable to write file %s.  Press <ENTER>.", outputfilename);
    goodbye(EXIT_FAILED);
}
