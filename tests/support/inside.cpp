#include "support/inside.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "markfeed/frames.h"
#include "markfeed/link.h"
#include "markfeed/runsettings.h"
#include "markfeed/status.h"
#include "support/lines.h"

namespace support {

Wire::Wire()
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        throw std::runtime_error("socketpair");
    Comm = pair[0];
    scanner_ = pair[1];
    fcntl(scanner_, F_SETFL, O_NONBLOCK);
    DlDelay = 0;
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
    close(Comm);
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
    DlDelay = seconds;
}

void openTrace(const std::string &path)
{
    debugflag = 1;
    Debugoutput = fopen(path.c_str(), "w");
}

void closeTrace()
{
    fclose(Debugoutput);
    Debugoutput = nullptr;
}

void setStatusBack(const std::string &text)
{
    snprintf(statusback, sizeof statusback, "%s", text.c_str());
}

std::string statusBack()
{
    return statusback;
}

namespace {

// The settings in file position order: a control code or a number.
// clang-format off
unsigned char *const codes[30] = {
    &Eoi, &Eor1, &Eor2, &Start, &Stop, &Initiate, &PositiveResponse, &StatusControlCode,
    &LongStatusRequest, &ShortStatusRequest, &BarCodeRequest, &ScannerControlCode,
    &DownloadControlChar, &RunCode, &RelCode, &PrintPosCode, &PrintDataCode, &CompressCode,
    &SelectScanner, &SelectAux, &AuxPortData, &SelectFromAux, nullptr, &DownloadStatusRequest,
    &SelectStacker};
int *const numbers[30] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, &DlDelay, nullptr, nullptr, &Baud, &Size, &Parity, &Stops, &NoWait};
// clang-format on

}  // namespace

std::vector<int> portSettings()
{
    std::vector<int> values;
    for (int i = 0; i < 30; i++)
        values.push_back(codes[i] ? *codes[i] : *numbers[i]);
    return values;
}

void setPortSettings(const std::vector<int> &values)
{
    for (size_t i = 0; i < 30; i++) {
        if (codes[i])
            *codes[i] = static_cast<unsigned char>(values[i]);
        else
            *numbers[i] = values[i];
    }
}

}  // namespace support
