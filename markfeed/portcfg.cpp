#include "portcfg.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>

#include "frames.h"
#include "link.h"
#include "runsettings.h"

int cfid = -2;

namespace {

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
    // Positions 1 to 30 of the file, in order; a null code pointer marks an
    // int setting taken from intsettings.
    unsigned char *codes[30] = {&Eoi,
                                &Eor1,
                                &Eor2,
                                &Start,
                                &Stop,
                                &Initiate,
                                &PositiveResponse,
                                &StatusControlCode,
                                &LongStatusRequest,
                                &ShortStatusRequest,
                                &BarCodeRequest,
                                &ScannerControlCode,
                                &DownloadControlChar,
                                &RunCode,
                                &RelCode,
                                &PrintPosCode,
                                &PrintDataCode,
                                &CompressCode,
                                &SelectScanner,
                                &SelectAux,
                                &AuxPortData,
                                &SelectFromAux,
                                nullptr,
                                &DownloadStatusRequest,
                                &SelectStacker,
                                nullptr,
                                nullptr,
                                nullptr,
                                nullptr,
                                nullptr};
    int *intsettings[30] = {};
    intsettings[22] = &DlDelay;
    intsettings[25] = &Baud;
    intsettings[26] = &Size;
    intsettings[27] = &Parity;
    intsettings[28] = &Stops;
    intsettings[29] = &NoWait;

    for (int position = 0; position < 30; position++) {
        int value;
        if (next_param(path, &value) != 0)
            continue;
        if (codes[position] != nullptr)
            *codes[position] = static_cast<unsigned char>(value & 0xFF);
        else
            *intsettings[position] = value;
    }
}
