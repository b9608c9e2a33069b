#include "wire.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "frames.h"
#include "link.h"
#include "runsettings.h"
#include "station.h"
#include "status.h"

Wire::Wire()
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        throw std::runtime_error("socketpair");
    attachline(pair[0]);
    scanner_ = pair[1];
    fcntl(scanner_, F_SETFL, O_NONBLOCK);
    setdelay(0);
    debugflag = 0;
    char name[] = "/tmp/markfeed-stderr-XXXXXX";
    int err = mkstemp(name);
    errfile_ = name;
    fflush(stderr);
    savedin_ = dup(0);
    savederr_ = dup(2);
    int none = open("/dev/null", O_RDONLY);
    dup2(none, 0);
    close(none);
    dup2(err, 2);
    close(err);
}

Wire::~Wire()
{
    fflush(stderr);
    dup2(savedin_, 0);
    dup2(savederr_, 2);
    close(savedin_);
    close(savederr_);
    closeline();
    close(scanner_);
    unlink(errfile_.c_str());
}

void Wire::send(const std::string &bytes)
{
    if (write(scanner_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("send");
}

std::string Wire::received()
{
    std::string bytes;
    char buffer[4096];
    ssize_t got;
    while ((got = read(scanner_, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<size_t>(got));
    return bytes;
}

std::string Wire::messages()
{
    fflush(stderr);
    return harness::readFile(errfile_);
}
