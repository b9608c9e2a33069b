#include "fuzz/line.h"

#include <sys/socket.h>

#include "fuzz/support.h"
#include "markfeed/link.h"
#include "markfeed/link_testing.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"

namespace {

// Reads and drops what waits on fd without blocking.
void drop(int fd)
{
    char buffer[4096];
    while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

}  // namespace

int openLine()
{
    static int scanner = -1;
    if (scanner >= 0)
        return scanner;
    int pair[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
    // Room for the longest input and the requests markfeed writes back.
    int room = 1 << 20;
    setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    attachline(pair[0]);
    scanner = pair[1];
    // ReadChar waits 5 + DlDelay seconds: with -5 that is a poll.
    setdelay(-5);
    // The trace on, into /dev/null: what it prints of an answer is read too.
    char program[] = "markfeed", trace[] = "-x";
    char *arguments[] = {program, trace, nullptr};
    Overrides overrides;
    char letter;
    FUZZ_CHECK(readoptions(2, arguments, &overrides, &letter) == 0);
    FUZZ_CHECK(opentrace("/dev/null") == 1);
    return scanner;
}

void sendLine(int scanner, const uint8_t *data, size_t size)
{
    while (size > 0) {
        ssize_t sent = send(scanner, data, size, MSG_DONTWAIT);
        FUZZ_CHECK(sent > 0);
        data += sent;
        size -= static_cast<size_t>(sent);
    }
}

void drainLine(int scanner)
{
    drop(Comm);
    drop(scanner);
}
