#include "tests/support/inside.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "markfeed/frames.h"
#include "markfeed/link.h"
#include "markfeed/link_testing.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"
#include "markfeed/runsettings_testing.h"
#include "markfeed/status.h"
#include "markfeed/status_testing.h"
#include "tests/support/lines.h"

namespace support {

Wire::Wire()
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        throw std::runtime_error("socketpair");
    attachline(pair[0]);
    scanner_ = pair[1];
    fcntl(scanner_, F_SETFL, O_NONBLOCK);
    setdelay(0);
    setdebugflag(0);
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
    if (!sendBytes(scanner_, bytes))
        throw std::runtime_error("send");
}

std::string Wire::received()
{
    return readFor(scanner_, 0.01);  // all was written before
}

std::string Wire::messages()
{
    fflush(stderr);
    return readFile(errfile_);
}

void setDelay(int seconds)
{
    setdelay(seconds);
}

void openTrace(const std::string &path)
{
    setdebugflag(1);
    opentrace(path.c_str());
}

void closeTrace()
{
    fflush(nullptr);  // the trace stays markfeed's; its bytes are on disk
}

void setStatusBack(const std::string &text)
{
    setstatusback(text.c_str());
}

std::string statusBack()
{
    return statusback;
}

std::vector<int> portSettings()
{
    std::vector<int> values;
    for (int position = 1; position <= 30; position++) {
        int code = controlcode(position);
        values.push_back(code >= 0 ? code : portsetting(position));
    }
    return values;
}

void setPortSettings(const std::vector<int> &values)
{
    for (int position = 1; position <= 30; position++) {
        int value = values[static_cast<size_t>(position - 1)];
        if (!setcontrolcode(position, value))
            setportsetting(position, value);
    }
}

}  // namespace support
