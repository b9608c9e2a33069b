#include "markfeed/portcfg.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>

#include "markfeed/frames.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"
#include "markfeed/safefile.h"

namespace {

// The file's descriptor between calls: -2 not yet opened, -1 open failed.
int cfid = -2;

// One byte per read: 1 read, 0 end of file, -1 error.
int readbyte(unsigned char *byte)
{
    ssize_t got = read(cfid, byte, 1);
    return got == 1 ? 1 : (got == 0 ? 0 : -1);
}

int hexdigit(unsigned char c)
{
    return isdigit(c) ? c - '0' : c - 'a' + 10;
}

// The file, or -1 as for a missing one when it cannot be trusted.
int openconfig(const char *path)
{
    const char *reason;
    int fd = opensafely(path, O_RDONLY, REGULAR_ONLY, &reason);
    if (fd == SAFE_REFUSED)
        trace("\nUnable to open %s:  %s", path, reason);
    return fd < 0 ? -1 : fd;
}

}  // namespace

int next_param(const char *path, int *value)
{
    if (path == nullptr) {
        if (cfid >= 0)
            close(cfid);
        cfid = -2;
        return 0;
    }
    if (cfid == -2)
        cfid = openconfig(path);
    if (cfid < 0)
        return 2;

    unsigned char c;
    for (;;) {
        int got = readbyte(&c);
        if (got == 0) {
            *value = 0;
            return 1;
        }
        if (got < 0) {
            *value = 1;
            return 2;
        }
        if (isdigit(c))
            break;
    }
    // Unsigned so that a long run of digits wraps as a 32-bit value would.
    uint32_t number = c - '0';
    bool hex = false;
    for (;;) {
        int got = readbyte(&c);
        if (got == 0)
            break;
        if (got < 0) {
            *value = 2;
            return 2;
        }
        c = static_cast<unsigned char>(tolower(c));
        if (!hex && isdigit(c))
            number = number * 10 + (c - '0');
        else if (!hex && c == 'x')
            hex = true;
        else if (hex && isxdigit(c))
            number = number * 16 + hexdigit(c);
        else
            break;  // the stopping byte belongs to no number
    }
    *value = static_cast<int32_t>(number);
    return 0;
}

void DlCfg(const char *path, PortNumbers *numbers)
{
    // Meant: no closing call (next_param without a path), the file stays open to the end.
    for (int position = 1; position <= 30; position++) {
        int value = 0;
        bool got = next_param(path, &value) == 0;
        if (got && !setcontrolcode(position, value))
            setportsetting(position, value);
        if (numbers != nullptr) {
            numbers->values[position - 1] = value;
            numbers->read[position - 1] = got;
        }
    }
}
