#include "portcfg.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>

#include "frames.h"
#include "runsettings.h"

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
        cfid = open(path, O_RDONLY);
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

void DlCfg(const char *path)
{
    for (int position = 1; position <= 30; position++) {
        int value = 0;
        if (next_param(path, &value) == 0 && !setcontrolcode(position, value))
            setportsetting(position, value);
    }
}
