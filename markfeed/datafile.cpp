#include "datafile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "operator.h"
#include "runsettings.h"
#include "safefile.h"
#include "termination.h"

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
    if (lockf(datafd, F_TLOCK, 0) == 0)
        return DATA_OPEN;
    if (errno == EACCES || errno == EAGAIN)
        return DATA_LOCKED;
    *reason = strerror(errno);
    return DATA_UNLOCKED;
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
